#!/bin/sh
# Checks the man page: groff renders it without a warning, and its
# DIAGNOSTICS name every "[ERROR] " message that the source can print.
# Usage: man_test.sh PAGE SOURCE_DIR
set -eu
page=$1 src=$2
if ! command -v groff >/dev/null; then
	echo "groff is missing (Debian package groff-base)"
	[ -n "${CI:-}" ] && exit 1
	exit 77
fi
warnings=$(groff -man -ww -z "$page" 2>&1)
if [ -n "$warnings" ]; then
	echo "groff warns:"
	echo "$warnings"
	exit 1
fi
text=$(groff -man -Tascii -P-cbou "$page" | tr -s ' \n' ' ')
fail=0
for message in $(grep -ho '"\[ERROR\] %s [^"]*\\n"' "$src"/src/*.cpp |
	sed 's/^"//; s/\\n"$//; s/%s/F/; s/ /_/g'); do
	message=$(echo "$message" | tr _ ' ')
	case $text in
	*"$message"*) ;;
	*) echo "not in the page: $message"; fail=1 ;;
	esac
done
exit $fail
