#!/bin/sh
# Runs each shell block of the README marked "<!-- run -->", in order, in a
# scratch folder holding a copy of examples/ and build/ppdedit, and compares
# what it prints with the text block marked "<!-- output -->" after it.
# Usage: readme_test.sh README SOURCE_DIR PPDEDIT_BINARY
set -eu
readme=$1 src=$2 bin=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$src/examples" "$work/"
mkdir "$work/build" "$work/blocks"
ln -s "$bin" "$work/build/ppdedit"

awk -v dir="$work/blocks" '
	/^<!-- run -->$/ { mode = "sh"; n++; next }
	/^<!-- output -->$/ { mode = "want"; next }
	/^```/ {
		if (open) { open = 0; mode = ""; next }
		if (mode != "") { open = 1; next }
	}
	open { print > sprintf("%s/%03d.%s", dir, n, mode) }
' "$readme"

fail=0 count=0
for block in "$work"/blocks/*.sh; do
	n=${block%.sh}
	touch "$n.want"
	(cd "$work" && bash "$block") >"$n.got" 2>&1 || true
	count=$((count + 1))
	if ! cmp -s "$n.want" "$n.got"; then
		echo "README block $(basename "$n") prints something else:"
		diff "$n.want" "$n.got" || true
		fail=1
	fi
done
echo "$count README blocks run"
[ "$count" -gt 0 ] && exit $fail
exit 1
