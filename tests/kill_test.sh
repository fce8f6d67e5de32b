#!/bin/bash
# Kills ppdedit and ppdedit-inplace with SIGKILL at random instants of a large
# run, plain and compressed, over an existing output, a new one, a file
# edited in place and one edited in place with a backup, and checks that
# every name is then the old file or the new one, whole, or absent where it
# was absent, every time: a backup holds the old file whenever the file holds
# the new one. A killed run may leave its hidden temporary file, which is
# counted and removed.
#
# Then, with strace, it stops a -b run over a small file at each system call
# in turn, by SIGKILL and by an injected EIO, and checks the same, that the
# older backup is never lost, that the report says what became of the file,
# and that a second run after a kill finishes the edit.
# Usage: kill_test.sh PPDEDIT SOURCE_DIR [RUNS]
set -euo pipefail
bin=$1 src=$2 runs=${3:-16}
inplace=$(dirname "$bin")/ppdedit-inplace
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# A sanitizer build's leak check at each exit would take longer than a run,
# and cannot run under strace; the other tests check for leaks.
export ASAN_OPTIONS=detect_leaks=0

for _ in $(seq 4000); do cat "$src/examples/quillmark-q300.ppd"; done >in.ppd
gzip -nc in.ppd >in.gz
printf '*DefaultResolution: 600dpi\n*DefaultResolution: !0!\n' >p.txt
echo '*% an older backup' >older
declare -A seen
stray=0 cut=0
# A pipe that this shell holds both ends of: a read from it with a time-out
# is a sleep without a process, which would take longer than a whole run.
exec {never}<> <(:)

# run KIND INPUT: one run of KIND on out, from INPUT; exec, so that a
# background run's $! is the tool itself.
run() {
	case $1 in
	existing | new) exec "$bin" /R "$2" out p.txt 1200dpi >/dev/null ;;
	inplace) exec "$inplace" /R p.txt 1200dpi -- out >/dev/null ;;
	backup) exec "$inplace" -b /R p.txt 1200dpi -- out >/dev/null ;;
	esac
}

# before KIND INPUT: what out is before a run of KIND: "old", or absent; a
# backup run has an older backup.
before() {
	rm -f out out.orig .out*
	case $1 in
	existing) head -c 1000 "$2" >out ;;
	inplace) cp "$2" out ;;
	backup) cp "$2" out && cp older out.orig ;;
	esac
}

# state KIND: what out is after a run of KIND, old, new or absent; fails,
# saying why, when it is none of them or a backup is wrong.
state() {
	local s
	if [ ! -e out ] && [ ! -e old ]; then
		s=absent
	elif [ -e old ] && cmp -s out old; then
		s=old
	elif cmp -s out want; then
		s=new
	else
		echo "out is neither old nor new: $(stat -c %s out 2>&1)" >&2
		return 1
	fi
	[ "$1" != backup ] || backup || return 1
	echo $s
}

# backup: out.orig is the old file when out is the new one, else the older
# backup, the old file or absent; an older backup moved aside is whole, and
# kept somewhere until the new file is in place.
backup() {
	local t
	for t in .out.orig.ppdedit-*; do
		[ ! -e "$t" ] || cmp -s "$t" older || { echo "$t is not the older backup" >&2; return 1; }
	done
	if cmp -s out want; then
		cmp -s out.orig old || { echo "out is new but out.orig is not the old file" >&2; return 1; }
	elif [ -e out.orig ] && ! cmp -s out.orig older && ! cmp -s out.orig old; then
		echo "out.orig is neither the older backup nor the old file" >&2
		return 1
	fi
	cmp -s out.orig older || ls .out.orig.ppdedit-* >/dev/null 2>&1 || cmp -s out want ||
		{ echo "the older backup is lost" >&2; return 1; }
}

for input in in.ppd in.gz; do
	"$bin" /R "$input" want p.txt 1200dpi >/dev/null
	for kind in existing new inplace backup; do
		before $kind $input
		[ -e out ] && cp out old || rm -f old
		# How long a whole run takes, in milliseconds: kills fall within it.
		t0=$(date +%s%N)
		(run $kind $input)
		span=$((($(date +%s%N) - t0) / 1000000 + 1))
		cmp -s out want || { echo "$kind run over $input did not write what ppdedit writes"; exit 1; }
		for _ in $(seq "$runs"); do
			before $kind $input
			ms=$((RANDOM % span))
			printf -v delay '%d.%03d' $((ms / 1000)) $((ms % 1000))
			run $kind $input &
			pid=$!
			read -r -t "$delay" -u $never || true
			kill -KILL $pid 2>/dev/null || true
			rc=0
			wait $pid 2>/dev/null || rc=$?
			[ $rc = 137 ] && cut=$((cut + 1))
			s=$(state $kind) || { echo "killed $kind run over $input"; exit 1; }
			seen[$s]=$((${seen[$s]:-0} + 1))
			for t in .out.ppdedit-* .out.orig.ppdedit-*; do
				[ -e "$t" ] && stray=$((stray + 1)) && rm -f "$t"
			done
		done
	done
done
echo "SIGKILL at random instants: $cut of $((runs * 8)) runs killed before their end;" \
	"${seen[old]:-0} left the old file, ${seen[new]:-0} the new one, ${seen[absent]:-0} no new" \
	"output, none a part; $stray hidden temporary files left"
[ $cut -gt 0 ] || { echo "no run was killed before its end: the kills prove nothing"; exit 1; }

if ! command -v strace >/dev/null; then
	echo "strace is missing: no kill at each system call"
	[ -z "${CI:-}" ] || exit 1
	exit 0
fi

# At each system call of a -b run over a small file, from the reading of the
# parameter file on: a SIGKILL, then an EIO.
cp "$src/examples/quillmark-q300.ppd" small
"$bin" /R small want p.txt 1200dpi >/dev/null
cp small old
trace() {
	before backup small
	# (In a subshell that says nothing of a run killed under it.)
	(strace -f -o calls -qq "$@" "$inplace" -b /R p.txt 1200dpi -- out >said 2>err || true) 2>/dev/null
}
trace
# Each call from the parameter file's opening on, as NAME N: its N-th call.
points=$(awk -v mark="$(grep -n 'openat(AT_FDCWD, "p.txt"' calls | head -1 | cut -d: -f1)" '
	{ name = $0; sub(/^[0-9]+ +/, "", name); sub(/\(.*/, "", name); n[name]++ }
	NR >= mark && name !~ /^(exit_group|exit|rt_sig[a-z]*|mmap|munmap|mprotect|brk|madvise|\+\+\+.*)$/ { print name, n[name] }
	' calls)
killed=0 failed=0
while read -r name when; do
	trace -e "inject=$name:signal=SIGKILL:when=$when"
	s=$(state backup) || { echo "SIGKILL at $name #$when"; exit 1; }
	"$inplace" -b /R p.txt 1200dpi -- out >again || { echo "after SIGKILL at $name #$when, a second run: $(cat again)"; exit 1; }
	cmp -s out want && cmp -s out.orig old || { echo "after SIGKILL at $name #$when, a second run left another file"; exit 1; }
	killed=$((killed + 1))

	trace -e "inject=$name:error=EIO:when=$when"
	s=$(state backup) || { echo "EIO at $name #$when: $(cat said)"; exit 1; }
	if [ "$s" = new ]; then
		grep -q -e '^changed: out$' -e 'was replaced' said || grep -q 'standard output' err ||
			{ echo "EIO at $name #$when: out is new, but the report says $(cat said)"; exit 1; }
	else
		grep -q '^failed: out: ' said || grep -q '^ppdedit-inplace: ' err ||
			{ echo "EIO at $name #$when: out is old, but the report says $(cat said)"; exit 1; }
		failed=$((failed + 1))
	fi
	for t in .out.ppdedit-* .out.orig.ppdedit-*; do
		[ ! -e "$t" ] || grep -q -F "$t" said || { echo "EIO at $name #$when left $t unsaid: $(cat said)"; exit 1; }
	done
done <<<"$points"
echo "-b run stopped at each of its $killed system calls: by SIGKILL, the old file always under its name or" \
	"its backup's, and a second run finished the edit; by EIO, $failed runs failed and said so, the others changed the file"
