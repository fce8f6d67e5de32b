#!/bin/sh
# Checks a man page: groff renders it without a warning; its sections come
# in the usual order; it has a date; no sentence is set with two blanks; its
# EXAMPLES show the files of examples/ byte for byte; its DIAGNOSTICS name
# every message that the source can print for its program: ppdedit's
# "[ERROR] " messages, and the sentences of ppdedit-inplace's failed: lines.
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

name=$(sed -n 's/^\.TH \([^ ]*\) 1 .*/\1/p' "$page")
sections=$(sed -n 's/^\.SH "*\([^"]*\)"*$/\1/p' "$page" | tr '\n' '|')
if [ "$name" = PPDEDIT ]; then
	want="NAME|SYNOPSIS|DESCRIPTION|OPTIONS|PARAMETER FILES|EXIT STATUS|DIAGNOSTICS|EXAMPLES|CAVEATS|COPYRIGHT|SEE ALSO|"
	see="ppdedit\\-inplace (1)|cupstestppd (8)|lpadmin (8)|sed (1)|gzip (1)"
	# Every "[ERROR] %s ...\n" format of the sources.
	formats=$(grep -ho '"\[ERROR\] %s [^"]*\\n"' "$src"/src/*.cpp)
else
	want="NAME|SYNOPSIS|DESCRIPTION|OPTIONS|EXIT STATUS|DIAGNOSTICS|EXAMPLES|CAVEATS|COPYRIGHT|SEE ALSO|"
	see="ppdedit (1)|flock (2)|rename (2)"
	# The sentences of a failed: line that say why a file is not replaced
	# (the parameter file's own message, with its counts, is not one).
	formats=$(grep -ho 'printf("%s [^"]*\\n"' "$src"/src/*.cpp | grep -v %zu | sed 's/^printf(//; s/%ju/N/')
fi
[ "$sections" = "$want" ] || { echo "sections: $sections"; echo "want:     $want"; fail=1; }

grep -q -E "^\.TH $name 1 \"[0-9]{4}-[0-9]{2}-[0-9]{2}\" " "$page" || { echo "the .TH line has no date"; fail=1; }

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

IFS='|'
for ref in $see; do
	grep -q -F ".BR $ref" "$page" || { echo "SEE ALSO lacks $ref"; fail=1; }
done
unset IFS

text=$(echo "$rendered" | tr -s ' \n' ' ')
for message in $(echo "$formats" | sed 's/^"//; s/\\n"$//; s/%s/F/; s/%s/T/; s/%s/.../g; s/ /_/g'); do
	message=$(echo "$message" | tr _ ' ')
	case $text in
	*"$message"*) ;;
	*) echo "not in the page: $message"; fail=1 ;;
	esac
done
exit $fail
