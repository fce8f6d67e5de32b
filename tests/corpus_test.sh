#!/bin/bash
# Runs ppdedit over real printer descriptions from Debian's hp-ppd and
# openprinting-ppds packages, and checks properties that need no model of
# the tool: a copy without the anchor is exact, a block inserted after a real
# line lands exactly there and gives no new validator failure, a second run is
# refused, and /R changes exactly the lines it names. Each runs on the file and
# on a CR LF copy of it, and every run is made again on a gzip-compressed copy
# of its input, whose output must decompress to the plain run's output, and
# again with ppdedit-inplace on copies of the input, plain and compressed,
# which must end as ppdedit's output, with the report line that says so. The
# packages are downloaded and unpacked into WORK; nothing is installed.
#
# Usage: corpus_test.sh PPDEDIT WORK
#        corpus_test.sh --fetch WORK  (only gathers the PPDs into WORK/ppds)
# CORPUS_OPENPRINTING sets how many openprinting-ppds files are taken
# (default 300, spread over their makers; a large number takes them all).
set -euo pipefail
export LC_ALL=C
fetch_only=
[ "$1" = --fetch ] && fetch_only=1
bin=$1 work=$2
inplace=$(dirname -- "$bin")/ppdedit-inplace
want_openprinting=${CORPUS_OPENPRINTING:-300}
mkdir -p "$work"
cd "$work"

die() {
	echo "corpus: $*"
	exit 1
}

# Downloads the Debian packages named and unpacks them under root/.
unpack() {
	mkdir -p debs root
	for pkg in "$@"; do
		ls debs/"${pkg}"_*.deb >/dev/null 2>&1 && continue
		(cd debs && apt-get download "$pkg" >/dev/null 2>&1) ||
			die "cannot download $pkg with apt-get download (no network, or run apt-get update)"
	done
	for pkg in "$@"; do dpkg -x debs/"${pkg}"_*.deb root; done
}

gather() {
	[ -f ppds/.complete ] && return
	rm -rf ppds && mkdir -p ppds
	unpack hp-ppd openprinting-ppds
	find root/usr/share/ppd/hp-ppd -name '*.ppd' -type f -exec cp {} ppds/ \;
	local driver=root/usr/lib/cups/driver/openprinting-ppds
	python3 "$driver" list >list.txt || die "$driver list failed"
	# The first files of each maker in turn, until there are enough. The
	# driver's own load() gives its index and archive; cat URI is the same
	# slice of the archive, as the spot check below confirms.
	python3 - "$driver" "$want_openprinting" <<'EOF' || die "cannot extract from $driver"
import base64, collections, importlib.machinery, lzma, sys
driver, want = sys.argv[1], int(sys.argv[2])
mod = importlib.machinery.SourceFileLoader("driver", driver).load_module()
by_maker = collections.defaultdict(list)
for line in open("list.txt"):
    fields = line.split('"')
    by_maker[fields[5]].append(fields[1])
picked = []
while len(picked) < want and any(by_maker.values()):
    for maker in sorted(by_maker):
        if by_maker[maker] and len(picked) < want:
            picked.append(by_maker[maker].pop(0))
index = mod.load()
archive = lzma.decompress(base64.b64decode(index["ARCHIVE"].encode("ASCII")))
with open("picked.txt", "w") as out:
    for n, uri in enumerate(picked):
        key = "0/" + uri.split(":")[-1].split("/", 1)[1]
        start, length = index[key][0], index[key][1]
        name = "op%03d-%s" % (n, key.rsplit("/", 1)[1])
        open("ppds/" + name, "wb").write(archive[start:start + length])
        out.write("%s %s\n" % (uri, name))
EOF
	for n in 1 $(($(grep -c . picked.txt) / 2)); do
		read -r uri name < <(sed -n "${n}p" picked.txt)
		python3 "$driver" cat "$uri" | cmp -s - "ppds/$name" || die "$name differs from '$driver cat $uri'"
	done
	touch ppds/.complete
}

validator() {
	if command -v cupstestppd >/dev/null; then
		cupstest=cupstestppd
		return
	fi
	unpack cups-client
	dpkg -s libcups2 >/dev/null 2>&1 || unpack libcups2
	export LD_LIBRARY_PATH=$PWD/root/usr/lib/x86_64-linux-gnu
	cupstest=$PWD/root/usr/bin/cupstestppd
	local rc=0
	"$cupstest" -q /dev/null >/dev/null 2>&1 || rc=$?
	[ $rc -ne 127 ] || die "cannot run $cupstest"
}

# The validator's exit status and its failures, without the file's name or
# line numbers (an inserted block moves the lines after it).
verdict() {
	local rc=0
	"$cupstest" "$1" >report.txt 2>&1 || rc=$?
	echo "status $rc"
	grep -F '**FAIL**' report.txt | sed 's/line [0-9]*/line N/g' | sort -u || true
}

# The line number of the first line equal to $2, CR or not; empty if none.
line_of() { grep -n -m1 -x -F -e "$2" -e "$2"$'\r' "$1" | cut -d: -f1 || true; }
# The file with line $2 replaced by the text $3 and an LF.
splice() { { head -n $(($2 - 1)) "$1"; printf '%s\n' "$3"; tail -n +$(($2 + 1)) "$1"; }; }
# Runs ppdedit with argv[0] "ppdedit"; stdout to the file out.txt. Then runs
# it again on a gzip copy of the input, into gz-out.gz, and checks that it
# prints the same message and writes the same text, compressed.
run() {
	(exec -a ppdedit "$bin" "$@") >out.txt
	local args=("$@") i=0
	[ "$1" = /R ] && i=1
	local in=${args[$i]} out=${args[$((i + 1))]}
	gzip -nc "$in" >gz-in.gz
	rm -f gz-out.gz
	args[$i]=gz-in.gz args[$((i + 1))]=gz-out.gz
	(exec -a ppdedit "$bin" "${args[@]}") | sed "s|gz-in.gz|$in|; s|gz-out.gz|$out|" >gz-out.txt
	cmp -s out.txt gz-out.txt || { echo "compressed, printed: $(cat gz-out.txt)"; return 1; }
	if [ "$(cat out.txt)" = "Output : $out" ]; then
		gzip -t gz-out.gz && gzip -dc gz-out.gz | cmp -s - "$out" ||
			{ echo "the compressed output's text differs"; return 1; }
	elif [ -e gz-out.gz ]; then
		echo "a refused compressed run wrote gz-out.gz"
		return 1
	fi
	inplace_agrees "$@"
}

# Runs ppdedit-inplace with run's arguments on copies of its input, plain and
# compressed, after run has made ppdedit's outputs: each copy must end as
# ppdedit's output (left as it was when that text is the input's), and the
# report must say which. ppdedit checks nothing, so neither does this run:
# the check has a test of its own.
inplace_agrees() {
	local args=("$@") i=0
	[ "$1" = /R ] && i=1
	local in=${args[$i]} out=${args[$((i + 1))]} said want
	cp "$in" ip.ppd && cp gz-in.gz ip.ppd.gz
	(exec -a ppdedit-inplace "$inplace" --no-check "${args[@]:0:$i}" "${args[@]:$((i + 2))}" -- ip.ppd ip.ppd.gz) >ip.txt
	said=$(cat out.txt)
	if [ "$said" = "[ERROR] $in is already change." ]; then
		want="unchanged: @ (the marker is there)"
	elif [ "$said" != "Output : $out" ]; then
		want="failed: @: ${said//$in/@}"
	elif cmp -s "$in" "$out"; then
		want="unchanged: @ (no anchor or key matched)"
	else
		want="changed: @"
	fi
	[ "$(cat ip.txt)" = "${want//@/ip.ppd}"$'\n'"${want//@/ip.ppd.gz}" ] ||
		{ echo "ppdedit-inplace printed: $(cat ip.txt)"; return 1; }
	if [ "$want" = "changed: @" ]; then
		cp "$out" in-want.ppd && cp gz-out.gz in-want.ppd.gz
	else
		cp "$in" in-want.ppd && cp gz-in.gz in-want.ppd.gz
	fi
	cmp -s ip.ppd in-want.ppd && cmp -s ip.ppd.gz in-want.ppd.gz ||
		{ echo "ppdedit-inplace left other bytes"; return 1; }
}
expect_ok() { [ "$(cat out.txt)" = "Output : $1" ] || { echo "printed: $(cat out.txt)"; return 1; }; }

marker='*%ppdedit corpus marker'
block() {
	printf '%s\n' "$marker" '*OpenUI *PpdeditTest/!0!: PickOne' \
		'*OrderDependency: 90 AnySetup *PpdeditTest' '*DefaultPpdeditTest: !1!' \
		'*PpdeditTest !1!/!1!: ""' '*PpdeditTest Off/Off: ""' '*CloseUI: *PpdeditTest'
}

# The properties, each run on every file $1 (written to scratch names).
copy_without_anchor() {
	printf '*%%ppdedit absent marker\n*%%ppdedit absent anchor\n*X\n' >p.txt
	run "$1" o.ppd p.txt && expect_ok o.ppd && cmp -s "$1" o.ppd
}

# Inserts the block after the file's *CloseUI: *PageSize line (or its first
# *CloseUI line) into added.ppd, and checks that it landed right there.
add_block() {
	local anchor n
	anchor=$(grep -m1 -x -E '\*CloseUI: \*PageSize'$'\r''?' "$1" ||
		grep -m1 -E '^\*CloseUI: ' "$1") || return 2
	anchor=${anchor%$'\r'}
	n=$(line_of "$1" "$anchor")
	{ echo "$marker"; echo "$anchor"; block; } >p.txt
	{ head -n "$n" "$1"; block | sed 's|!0!|Corpus Test|; s|!1!|On|g'; tail -n +$((n + 1)) "$1"; } >want.ppd
	run "$1" added.ppd p.txt "Corpus Test" On && expect_ok added.ppd || return 1
	cmp -s want.ppd added.ppd || { echo "not the input with the block after line $n"; return 1; }
}

insert_block_after_closeui() {
	add_block "$1" || return
	local before after
	before=$(verdict "$1") after=$(verdict added.ppd)
	[ "$before" = "$after" ] || { echo "validator: $before"; echo "then: $after"; return 1; }
}

refuse_second_run() {
	add_block "$1" || return
	printf 'x\n' >again.ppd
	run added.ppd again.ppd p.txt "Corpus Test" On &&
		[ "$(cat out.txt)" = "[ERROR] added.ppd is already change." ] && [ "$(cat again.ppd)" = x ]
}

replace_defaults() {
	local size res other_size other_res n1 n2
	size=$(grep -m1 '^\*DefaultPageSize: ' "$1" | tr -d '\r') || return 2
	res=$(grep -m1 '^\*DefaultResolution: ' "$1" | tr -d '\r') || return 2
	other_size=$(grep '^\*PageSize ' "$1" | sed 's|^\*PageSize \([^/:]*\).*|\1|' |
		grep -v -x -F "${size#*: }" | head -n1)
	[ -n "$other_size" ] || return 2
	other_res=$(grep '^\*Resolution ' "$1" | sed 's|^\*Resolution \([^/:]*\).*|\1|' |
		grep -v -x -F "${res#*: }" | head -n1)
	other_res=${other_res:-9999dpi}
	n1=$(line_of "$1" "$size") n2=$(line_of "$1" "$res")
	if [ "$n1" -lt "$n2" ]; then
		printf '%s\n' "$size" "*DefaultPageSize: !0!" "$res" "*DefaultResolution: !1!" >p.txt
	else
		printf '%s\n' "$res" "*DefaultResolution: !1!" "$size" "*DefaultPageSize: !0!" >p.txt
	fi
	splice "$1" "$n1" "*DefaultPageSize: $other_size" >step.ppd
	splice step.ppd "$n2" "*DefaultResolution: $other_res" >want.ppd
	run /R "$1" replaced.ppd p.txt "$other_size" "$other_res" && expect_ok replaced.ppd &&
		cmp -s want.ppd replaced.ppd
}

properties=(copy_without_anchor insert_block_after_closeui refuse_second_run replace_defaults)

gather
[ -z "$fetch_only" ] || exit 0
validator
mapfile -t files < <(find ppds -name '*.ppd' -type f | sort)
[ "$(grep -c . picked.txt)" -ge "$want_openprinting" ] || die "fewer than $want_openprinting openprinting PPDs"
[ ${#files[@]} -gt "$want_openprinting" ] || die "no hp-ppd files"

declare -A passed skipped
failed=0 runs=0 long=0
mkdir -p scratch
for f in "${files[@]}"; do
	# Lines of 5118 bytes or more are cut into pieces, and the line numbers
	# used above would not name them.
	if ! awk 'length($0) > 5117 { exit 1 }' "$f"; then
		long=$((long + 1))
		continue
	fi
	sed 's/\r$//; s/$/\r/' "$f" >scratch/crlf.ppd
	for variant in "$PWD/$f" "$PWD/scratch/crlf.ppd"; do
		for p in "${properties[@]}"; do
			runs=$((runs + 1))
			rc=0
			why=$(cd scratch && "$p" "$variant" 2>&1) || rc=$?
			case $rc in
			0) passed[$p]=$((${passed[$p]:-0} + 1)) ;;
			2) skipped[$p]=$((${skipped[$p]:-0} + 1)) ;;
			*) failed=$((failed + 1)) && echo "FAIL $p ${variant#$PWD/} (of $f): $why" ;;
			esac
		done
	done
done

echo "corpus: ${#files[@]} real PPDs ($((${#files[@]} - $(grep -c . picked.txt))) hp-ppd, $(grep -c . picked.txt) openprinting), each also as CR LF, every run also gzip-compressed and in place; $long skipped for lines of 5118 bytes or more"
for p in "${properties[@]}"; do
	echo "  $p: ${passed[$p]:-0} passed, ${skipped[$p]:-0} not applicable"
done
echo "$runs property runs, $failed failed"
[ "$failed" -eq 0 ]
