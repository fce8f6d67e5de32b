#!/bin/bash
# Runs each shell block of the README marked "<!-- run -->" or "<!-- setup -->",
# in order, in a scratch folder holding a copy of examples/ and build/ with
# ppdedit and ppdedit-inplace (also on the PATH, as once installed), and
# compares what it prints with the text block marked "<!-- output -->" after
# it, but for the times in diff headers, which change with each run.
#
# Given a folder of real PPDs, it then runs the cookbook's blocks again, all
# but its setup, on a folder of real PPDs (plain, compressed, CR LF, of mode
# 640, and one reached through a symbolic link) and checks what needs no
# expected text: a file reported "changed" changed, a file reported
# "unchanged", "skipped" or "failed" kept its bytes, no file changed
# unreported, a failure shows the tool's message, a backup holds its file's
# old bytes, and the folder keeps its files, links, modes, owners and
# groups, and each file its line endings.
#
# Usage: readme_test.sh README SOURCE_DIR PPDEDIT_BINARY [REAL_PPD_DIR]
set -eu
readme=$1 src=$2 bin=$3 real=${4:-}
blocks=$(mktemp -d)
work=
trap 'rm -rf "$blocks" "$work"' EXIT

# Each block as NNN.sh and NNN.want; list.txt says its kind and whether it
# stands in the cookbook.
awk -v dir="$blocks" '
	/^## / { cook = ($0 == "## Cookbook") }
	/^<!-- (run|setup) -->$/ {
		n++
		kind = ($0 ~ /setup/) ? "setup" : "run"
		printf "%03d %s %s\n", n, kind, cook ? "cook" : "main" > (dir "/list.txt")
		mode = "sh"
		next
	}
	/^<!-- output -->$/ { mode = "want"; next }
	/^```/ {
		if (open) { open = 0; mode = ""; next }
		if (mode != "") { open = 1; next }
	}
	open { print > sprintf("%s/%03d.%s", dir, n, mode) }
' "$readme"

# A scratch checkout: examples/, and build/ with both programs, also on the PATH.
new_work() {
	rm -rf "$work"
	work=$(mktemp -d)
	cp -r "$src/examples" "$work/"
	mkdir "$work/build"
	ln -s "$bin" "$work/build/ppdedit"
	ln -s "$(dirname "$bin")/ppdedit-inplace" "$work/build/ppdedit-inplace"
	export PATH="$work/build:$base_path"
}
base_path=$PATH

# A diff header's time, in diff's form, as TIME.
undated() {
	sed -E 's/^((---|[+]{3}) [^\t]*\t)[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{9} [-+][0-9]{4}$/\1TIME/'
}

fail=0 count=0
new_work
while read -r n kind where; do
	touch "$blocks/$n.want"
	(cd "$work" && bash "$blocks/$n.sh") >"$blocks/$n.got" 2>&1 || true
	count=$((count + 1))
	if ! cmp -s <(undated <"$blocks/$n.want") <(undated <"$blocks/$n.got"); then
		echo "README block $n prints something else:"
		diff <(undated <"$blocks/$n.want") <(undated <"$blocks/$n.got") || true
		fail=1
	fi
done <"$blocks/list.txt"
echo "$count README blocks run"
[ "$count" -gt 0 ] || exit 1
[ -n "$real" ] || exit $fail

# One line a file of build/ppds: its name, mode, owner, group (a link's
# own), its text's line endings (lf, crlf or mixed) and its bytes' sum.
snapshot() {
	for f in "$work"/build/ppds/*; do
		case $f in *.orig | *.~[0-9]*~) continue ;; esac
		echo "build/ppds/${f##*/} $(stat -c '%a %u %g' "$f") $(endings "$f") $(sha256sum <"$f" | cut -c1-16)"
	done
}

# Checks that each backup that a block made or replaced holds the bytes that
# its file had before the block, and that the file was reported changed; of
# numbered backups, the first that the block made (a later run of the block
# keeps what the first one wrote).
check_backups() {
	local report=$1 before=$2 since=$3 b name seen=" "
	for b in "$work"/build/ppds/*.orig $(ls -v "$work"/build/ppds/*.~[0-9]*~ 2>/dev/null); do
		[ -e "$b" ] && [ -n "$(find "$b" -cnewer "$since")" ] || continue
		name=${b##*/}
		name=build/ppds/${name%.orig}
		name=${name%.~[0-9]*~}
		case $seen in *" $name "*) continue ;; esac
		seen="$seen$name "
		if [ "$(grep "^$name " "$before" | cut -d' ' -f6)" != "$(sha256sum <"$b" | cut -c1-16)" ] ||
			! grep -qE "^changed: $name( |$)" "$report"; then
			echo "$b is not the old $name, or $name was not changed"
			return 1
		fi
	done
}
endings() {
	gzip -dcf "$1" | awk '/\r$/ { cr++ } END { print cr == 0 ? "lf" : cr == NR ? "crlf" : "mixed" }'
}

# Checks one cookbook block's report ($1) against the folder before ($2)
# and after ($3) it ran; $4 is yes for a block that runs with -n.
check_block() {
	local report=$1 before=$2 after=$3 dry=$4
	if ! diff <(cut -d' ' -f1-5 "$before") <(cut -d' ' -f1-5 "$after") >/dev/null; then
		echo "the folder's files, modes, owners, groups or line endings changed:"
		diff <(cut -d' ' -f1-5 "$before") <(cut -d' ' -f1-5 "$after") || true
		return 1
	fi
	local name status rest changed
	while read -r name rest; do
		changed=no
		[ "$(grep "^$name " "$before")" = "$(grep "^$name " "$after")" ] || changed=yes
		# A block may run over a file twice: once changed, it has changed.
		status=$(grep -E "^(changed|unchanged|skipped|failed): $name( |:|$)" "$report" |
			cut -d: -f1 | sort -u | sed -n '1p' || true)
		# Changed twice, it may be back as it was; with -n, nothing is.
		[ "$(grep -cE "^changed: $name( |$)" "$report")" -lt 2 ] || changed=yes
		[ "$dry" = no ] || changed=$changed:dry
		case $status:$changed in
		changed:yes | unchanged:no | skipped:no | failed:no | :no) ;;
		changed:no:dry | unchanged:no:dry | skipped:no:dry | failed:no:dry | :no:dry) ;;
		*) echo "$name: reported '${status:-nothing}', changed: $changed"; return 1 ;;
		esac
	done <"$after"
	if grep -E '^failed: [^:]*$|^failed: [^:]*: *$' "$report"; then
		echo "a failure without the tool's message"
		return 1
	fi
}

# A sample of the real PPDs: every file's turn comes round, a quarter of
# them compressed, a quarter of mode 640, a quarter with CR LF endings, and
# the last reached through a symbolic link from outside the folder.
mapfile -t pool < <(find "$real" -name '*.ppd' -type f | sort | awk 'NR % 8 == 1' | head -n 40)
[ ${#pool[@]} -gt 0 ] || { echo "no PPD in $real"; exit 1; }
new_work
mkdir "$work/build/ppds" "$work/build/elsewhere"
for i in "${!pool[@]}"; do
	name=$(printf 'real%03d.ppd' "$i")
	case $((i % 4)) in
	0) gzip -nc "${pool[$i]}" >"$work/build/ppds/$name.gz" ;;
	1) cp "${pool[$i]}" "$work/build/ppds/$name" && chmod 640 "$work/build/ppds/$name" ;;
	2) sed 's/\r$//; s/$/\r/' "${pool[$i]}" >"$work/build/ppds/$name" ;;
	*) cp "${pool[$i]}" "$work/build/ppds/$name" ;;
	esac
done
mv "$work/build/ppds/$name" "$work/build/elsewhere/$name"
ln -s "../elsewhere/$name" "$work/build/ppds/$name"
real_blocks=0
while read -r n kind where; do
	[ "$where" = cook ] && [ "$kind" = run ] || continue
	snapshot >"$blocks/before"
	sleep 0.01
	(cd "$work" && bash "$blocks/$n.sh") >"$blocks/$n.real" 2>&1 || true
	snapshot >"$blocks/after"
	real_blocks=$((real_blocks + 1))
	dry=no
	! grep -q -- ' -n ' "$blocks/$n.sh" || dry=yes
	if ! why=$(check_block "$blocks/$n.real" "$blocks/before" "$blocks/after" "$dry" &&
		check_backups "$blocks/$n.real" "$blocks/before" "$blocks/before"); then
		echo "README block $n on real PPDs: $why"
		fail=1
	fi
	cat "$blocks/$n.real" >>"$blocks/all.real"
done <"$blocks/list.txt"
echo "$real_blocks cookbook blocks run on ${#pool[@]} real PPDs:" \
	"$(grep -c '^changed: ' "$blocks/all.real" || true) changed," \
	"$(grep -c '^unchanged: ' "$blocks/all.real" || true) unchanged," \
	"$(grep -c '^skipped: ' "$blocks/all.real" || true) skipped," \
	"$(grep -c '^failed: ' "$blocks/all.real" || true) failed"
exit $fail
