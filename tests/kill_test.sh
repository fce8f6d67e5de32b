#!/bin/bash
# Kills ppdedit and ppdedit-inplace with SIGKILL at random instants of a large
# run, plain and compressed, over an existing output, a new one and a file
# edited in place, and checks that every name is then the old file or the new
# one, whole, or absent where it was absent, every time. A killed run may
# leave its hidden temporary file, which is counted and removed.
# Usage: kill_test.sh PPDEDIT SOURCE_DIR [RUNS]
set -euo pipefail
bin=$1 src=$2 runs=${3:-40}
inplace=$(dirname "$bin")/ppdedit-inplace
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

for _ in $(seq 4000); do cat "$src/examples/quillmark-q300.ppd"; done >in.ppd
gzip -nc in.ppd >in.gz
printf '*DefaultResolution: 600dpi\n*DefaultResolution: !0!\n' >p.txt
declare -A seen
stray=0

# run KIND INPUT: one run of KIND on out, from INPUT, in the background.
run() {
	case $1 in
	existing | new) "$bin" /R "$2" out p.txt 1200dpi >/dev/null ;;
	inplace) "$inplace" /R p.txt 1200dpi -- out >/dev/null ;;
	esac
}

# before KIND INPUT: what out is before a run of KIND: "old", or absent.
before() {
	rm -f out
	case $1 in
	existing) head -c 1000 "$2" >out ;;
	inplace) cp "$2" out ;;
	esac
}

for input in in.ppd in.gz; do
	"$bin" /R "$input" want p.txt 1200dpi >/dev/null
	for kind in existing new inplace; do
		before $kind $input
		[ -e out ] && cp out old || rm -f old
		# How long a whole run takes, in milliseconds: kills fall within it.
		t0=$(date +%s%N)
		run $kind $input
		span=$((($(date +%s%N) - t0) / 1000000 + 1))
		cmp -s out want || { echo "$kind run over $input did not write what ppdedit writes"; exit 1; }
		for _ in $(seq "$runs"); do
			before $kind $input
			run $kind $input &
			pid=$!
			sleep "$(awk -v ms=$((RANDOM % span)) 'BEGIN { printf "%.3f", ms / 1000 }')"
			kill -KILL $pid 2>/dev/null || true
			wait $pid 2>/dev/null || true
			if [ ! -e out ] && [ ! -e old ]; then
				state=absent
			elif [ -e old ] && cmp -s out old; then
				state=old
			elif cmp -s out want; then
				state=new
			else
				echo "killed $kind run over $input left $(stat -c %s out 2>&1): neither old nor new"
				exit 1
			fi
			seen[$state]=$((${seen[$state]:-0} + 1))
			for t in .out.ppdedit-*; do
				[ -e "$t" ] && stray=$((stray + 1)) && rm -f "$t"
			done
		done
	done
done
echo "SIGKILL at random instants: ${seen[old]:-0} runs left the old file, ${seen[new]:-0} the new" \
	"one, ${seen[absent]:-0} no new output, none a part; $stray left their hidden temporary file"
