#!/bin/sh
# Checks the man page: groff renders it without a warning; its sections come
# in the usual order; it has a date; no sentence is set with two blanks; its
# EXAMPLES show the files of examples/ byte for byte; its DIAGNOSTICS name
# every "[ERROR] " message that the source can print.
# Usage: man_test.sh PAGE SOURCE_DIR
set -eu
page=$1 src=$2
if ! command -v groff >/dev/null; then
	echo "groff is missing (Debian package groff-base)"
	[ -n "${CI:-}" ] && exit 1
	exit 77
fi
fail=0
warnings=$(groff -man -ww -z "$page" 2>&1)
if [ -n "$warnings" ]; then
	echo "groff warns:"
	echo "$warnings"
	fail=1
fi

sections=$(sed -n 's/^\.SH "*\([^"]*\)"*$/\1/p' "$page" | tr '\n' '|')
want="NAME|SYNOPSIS|DESCRIPTION|OPTIONS|PARAMETER FILES|EXIT STATUS|DIAGNOSTICS|EXAMPLES|CAVEATS|COPYRIGHT|SEE ALSO|"
[ "$sections" = "$want" ] || { echo "sections: $sections"; echo "want:     $want"; fail=1; }

grep -q -E '^\.TH PPDEDIT 1 "[0-9]{4}-[0-9]{2}-[0-9]{2}" ' "$page" || { echo "the .TH line has no date"; fail=1; }

# Rendered unjustified, two blanks stand only after what groff takes for a
# sentence's end: flag those after '!' or '?' (a placeholder such as !0! at
# the end of a source line) or before a lower-case word.
rendered=$(groff -man -Tascii -P-cbou "$page" 2>/dev/null)
doubles=$(sed '/^\.TH/a .na' "$page" | groff -man -Tascii -P-cbou 2>/dev/null |
	grep -E '([!?]  [^ ]|[^ ]  [a-z])' | grep -v -F 'usage:  ppdedit' || true)
[ -z "$doubles" ] || { echo "two blanks in:"; echo "$doubles"; fail=1; }

for name in $(sed -n 's/^\.\\" example: //p' "$page"); do
	shown=$(awk -v name="$name" '
		$0 == ".\\\" example: " name { on = 1; next }
		on && /^\.RE$/ { exit }
		on && !/^\.(nf|RS)$/ { print }' "$page" | sed 's/\\-/-/g')
	[ "$shown" = "$(cat "$src/examples/$name")" ] || { echo "EXAMPLES show another $name"; fail=1; }
done

for see in 'cupstestppd (8)' 'lpadmin (8)' 'sed (1)' 'gzip (1)'; do
	grep -q "^\.BR $see" "$page" || { echo "SEE ALSO lacks $see"; fail=1; }
done

text=$(echo "$rendered" | tr -s ' \n' ' ')
for message in $(grep -ho '"\[ERROR\] %s [^"]*\\n"' "$src"/src/*.cpp |
	sed 's/^"//; s/\\n"$//; s/%s/F/; s/ /_/g'); do
	message=$(echo "$message" | tr _ ' ')
	case $text in
	*"$message"*) ;;
	*) echo "not in the page: $message"; fail=1 ;;
	esac
done
exit $fail
