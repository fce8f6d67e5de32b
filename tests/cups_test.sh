#!/bin/bash
# Holds ppdedit-inplace against the printing system itself, on real PPDs:
# -o PageSize=A4 writes the default lines that lpadmin -o PageSize=A4 writes
# into a queue's PPD (a scheduler of its own is started for that), and fails
# a file that lacks the choice, leaving its bytes; and the check refuses an
# edit whenever cupstestppd passes the old file and fails the new one, and
# never when cupstestppd passes the new one. Each edit runs on copies, once
# checked and once with --no-check, the latter's output judged by
# cupstestppd.
#
# Usage: cups_test.sh PPDEDIT_INPLACE PPD_FOLDER [COUNT]
# COUNT files are taken, spread over the folder (default 200). Skipped (77)
# without cupstestppd, or when the lpadmin half cannot run: not root, or no
# cupsd; under CI both are needed.
set -euo pipefail
inplace=$1 ppds=$2 count=${3:-200}
work=$(mktemp -d)
cupsd_pid=
trap '[ -n "$cupsd_pid" ] && kill "$cupsd_pid" 2>/dev/null; rm -rf "$work"' EXIT

skip() {
	echo "cups: $*"
	[ -n "${CI:-}" ] && exit 1
	exit 77
}
command -v cupstestppd >/dev/null || skip "cupstestppd is missing (Debian package cups-client)"

mapfile -t all < <(find "$ppds" -maxdepth 1 -name '*.ppd' -type f | sort)
[ ${#all[@]} -gt 0 ] || { echo "cups: no PPD in $ppds"; exit 1; }
step=$(((${#all[@]} + count - 1) / count))
files=()
for ((i = 0; i < ${#all[@]}; i += step)); do files+=("${all[$i]}"); done

# The edits: defaults valid and not, a duplex block where there is none,
# and templates that break what follows them.
printf '*DefaultPageSize:\n*DefaultPageSize: !0!\n' >"$work/pair.txt"
printf '%s\n' '*OpenUI *Duplex' '*CloseUI: *PageSize' '*OpenUI *Duplex/!0!: PickOne' \
	'*OrderDependency: 30 AnySetup *Duplex' '*DefaultDuplex: !1!' \
	'*Duplex None/Off: "<</Duplex false>>setpagedevice"' \
	'*Duplex DuplexNoTumble/Long Edge: "<</Duplex true/Tumble false>>setpagedevice"' \
	'*CloseUI: *Duplex' >"$work/duplex.txt"
printf '%s\n' '*OpenUI *Finish' '*CloseUI: *PageSize' '*OpenUI *Finish/Finish: PickOne' \
	'*DefaultFinish: None' '*Finish None/None: ""' >"$work/unclosed.txt"
printf '%s\n' '*Note' '*CloseUI: *PageSize' '*Note: "left open' >"$work/quote.txt"
edits=("-o PageSize=A4" "-o PageSize=A3" "-o Duplex=DuplexNoTumble" "-p -e /R $work/pair.txt A4"
	"-p -e $work/duplex.txt Two-Sided None" "-p -e $work/unclosed.txt" "-p -e $work/quote.txt")

# cupstestppd's verdict on a file: pass or FAIL.
verdict() {
	if cupstestppd -q "$1" >/dev/null 2>&1; then echo pass; else echo FAIL; fi
}

bad=0 checked=0 refused=0
for f in "${files[@]}"; do
	old=$(verdict "$f")
	for e in "${edits[@]}"; do
		cp "$f" "$work/a.ppd"
		cp "$f" "$work/b.ppd"
		# shellcheck disable=SC2086
		said=$("$inplace" $e -- "$work/a.ppd" 2>&1 || true)
		# shellcheck disable=SC2086
		"$inplace" --no-check $e -- "$work/b.ppd" >/dev/null 2>&1 || true
		cmp -s "$f" "$work/b.ppd" && continue
		new=$(verdict "$work/b.ppd")
		checked=$((checked + 1))
		case $said in
		failed:*)
			refused=$((refused + 1))
			cmp -s "$f" "$work/a.ppd" || { echo "cups: $f [$e]: refused, yet changed"; bad=1; }
			[ "$new" = FAIL ] || { echo "cups: $f [$e]: refused, but cupstestppd passes it: $said"; bad=1; }
			;;
		changed:*)
			cmp -s "$work/a.ppd" "$work/b.ppd" || { echo "cups: $f [$e]: checked and unchecked edits differ"; bad=1; }
			[ "$old/$new" != pass/FAIL ] || {
				echo "cups: $f [$e]: changed, but cupstestppd passed it and fails it now:"
				cupstestppd "$work/b.ppd" | grep -E 'FAIL|Unable' | head -n 3
				bad=1
			}
			;;
		*) echo "cups: $f [$e]: $said"; bad=1 ;;
		esac
	done
done
echo "cups: $checked edits of ${#files[@]} files judged by cupstestppd, $refused refused, $([ $bad = 0 ] && echo 'all as it judges' || echo 'some not')"

# The lpadmin half: a scheduler of our own, on a socket of our own.
[ "$(id -u)" = 0 ] || skip "lpadmin needs root"
command -v cupsd >/dev/null && command -v lpadmin >/dev/null || skip "cupsd is missing (Debian package cups-daemon)"
root=$work/cups
mkdir -p "$root/root/ppd" "$root/state" "$root/cache" "$root/spool/tmp" "$root/log"
cat >"$root/cupsd.conf" <<EOF
Listen $root/cups.sock
Browsing No
WebInterface No
<Location />
  Order allow,deny
  Allow localhost
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
cat >"$root/cups-files.conf" <<EOF
ServerRoot $root/root
StateDir $root/state
CacheDir $root/cache
RequestRoot $root/spool
TempDir $root/spool/tmp
ErrorLog $root/log/error_log
AccessLog $root/log/access_log
PageLog $root/log/page_log
SystemGroup root
FileDevice Yes
EOF
chmod -R go+rx "$work"
cupsd -f -c "$root/cupsd.conf" -s "$root/cups-files.conf" &
cupsd_pid=$!
export CUPS_SERVER=$root/cups.sock
for _ in $(seq 600); do
	lpstat -r 2>/dev/null | grep -q 'is running' && break
	kill -0 "$cupsd_pid" 2>/dev/null || break
	sleep 0.1
done
lpstat -r 2>/dev/null | grep -q 'is running' || { cat "$root/log/error_log"; echo "cups: cupsd does not start"; exit 1; }

# The four default lines of a page size, as name and value.
defaults() {
	tr -d '\r' <"$1" | grep -E '^\*Default(PageSize|PageRegion|ImageableArea|PaperDimension):' |
		sed -E 's/^\*([^:]*):[[:space:]]*([^[:space:]]*).*/\1 \2/'
}

same=0 lacking=0
for f in "${files[@]}"; do
	cp "$f" "$work/a.ppd"
	said=$("$inplace" -o PageSize=A4 -- "$work/a.ppd" 2>&1 || true)
	case $said in
	failed:*)
		cmp -s "$f" "$work/a.ppd" || { echo "cups: $f: failed, yet changed"; bad=1; }
		lacking=$((lacking + 1))
		continue
		;;
	unchanged:*no\ option*) continue ;;
	esac
	lpadmin -x Q 2>/dev/null || true
	lpadmin -p Q -E -v file:/dev/null -P "$f" 2>/dev/null
	lpadmin -p Q -o PageSize=A4
	if [ "$(defaults "$work/a.ppd")" = "$(defaults "$root/root/ppd/Q.ppd")" ]; then
		same=$((same + 1))
	else
		echo "cups: $f: -o PageSize=A4 and lpadmin set other lines:"
		diff <(defaults "$work/a.ppd") <(defaults "$root/root/ppd/Q.ppd") || true
		bad=1
	fi
done
echo "cups: -o PageSize=A4 wrote lpadmin's default lines in $same files; $lacking lack an A4 and kept their bytes"
exit $bad
