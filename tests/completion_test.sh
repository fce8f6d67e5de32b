#!/bin/bash
# Checks the bash completion of both programs: each script registers its
# function, and a table of command lines, each with the cursor at "^", gives
# what the function offers there, sorted, in a folder of PPDs and other
# files. The words are split at blanks, but "\ ", as bash splits them, "="
# a word of its own.
# Every long option of ppdedit-inplace's table is offered after "--".
# Usage: completion_test.sh SOURCE_DIR
set -u
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir sub
printf '*OpenUI *PageSize/Media Size: PickOne\n*OpenUI *Duplex: PickOne\n' >q.ppd
printf '*JCLOpenUI *JCLColor: PickOne\n' | gzip -n >z.ppd.gz
touch Q.PPD notes.txt p.txt 'a b.ppd'

. "$src/completion/ppdedit-inplace" || exit 1
fail=0
for name in ppdedit ppdedit-inplace; do
	want="complete -F _${name//-/_} $name"
	got=$(complete -p "$name")
	[ "$got" = "$want" ] || { echo "complete -p $name: $got"; fail=1; }
done

# Sets COMP_WORDS and COMP_CWORD from a line, calls the function of the
# line's program, and prints what it offers, sorted, one a line.
offered() {
	local line=${1//\\ /$'\2'} word
	COMP_WORDS=()
	set -f
	for word in ${line//=/ = }; do
		[[ $word == *^ ]] && COMP_CWORD=${#COMP_WORDS[@]} && word=${word%^}
		COMP_WORDS+=("${word//$'\2'/\\ }")
	done
	set +f
	COMPREPLY=()
	"_${COMP_WORDS[0]//-/_}"
	printf '%s\n' "${COMPREPLY[@]}" | sort
}

# A line, with the cursor at ^, and what it offers, joined by "|".
while IFS='	' read -r line want; do
	got=$(offered "$line" | paste -sd'|')
	[ "$got" = "$want" ] || { echo "$line: offers '$got', want '$want'"; fail=1; }
done <<'END'
ppdedit-inplace --dr^	--dry-run
ppdedit-inplace --backup=nu^	numbered
ppdedit-inplace -o Pa^	PageSize=
ppdedit-inplace -o ^ -- q.ppd z.ppd.gz notes.txt	Duplex=|JCLColor=|PageSize=
ppdedit-inplace --default=Du^ -- q.ppd	Duplex=
ppdedit-inplace -o PageSize=A^ -- q.ppd	
ppdedit-inplace ^	/R|Q.PPD|a b.ppd|notes.txt|p.txt|q.ppd|sub|z.ppd.gz
ppdedit-inplace /R p^	p.txt
ppdedit-inplace -P -p /R p.txt ^	--
ppdedit-inplace -o PageSize=A4 ^	--
ppdedit-inplace -q p.txt A4 -- ^	Q.PPD|a b.ppd|q.ppd|sub|z.ppd.gz
ppdedit-inplace p.txt -- a\ ^	a b.ppd
ppdedit-inplace p.txt -- 'a^	a b.ppd
ppdedit-inplace p.txt -- no^	notes.txt
ppdedit ^	/R|Q.PPD|a b.ppd|q.ppd|sub|z.ppd.gz
ppdedit /R q.ppd ^	Q.PPD|a b.ppd|q.ppd|sub|z.ppd.gz
ppdedit /R q.ppd out.ppd p^	p.txt
ppdedit q.ppd out.ppd p.txt ^	
END

offered 'ppdedit-inplace --^' >"$work/offered"
grep -oE '\{"[a-z-]+", (no|required|optional)_argument' "$src/src/inplace.cpp" |
	cut -d'"' -f2 >"$work/options"
[ -s "$work/options" ] || { echo "no long option found in src/inplace.cpp"; fail=1; }
while read -r option; do
	grep -q -E -- "^--$option=?$" "$work/offered" || { echo "--$option is not offered"; fail=1; }
done <"$work/options"
exit $fail
