#!/bin/bash
# Kills ppdedit with SIGKILL at random instants of a large run over an
# existing output, plain and compressed, and checks that the output is then
# the old file or the new one, whole, every time. A killed run may leave its
# hidden temporary file, which is counted and removed.
# Usage: kill_test.sh PPDEDIT SOURCE_DIR [RUNS]
set -euo pipefail
bin=$1 src=$2 runs=${3:-40}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

for _ in $(seq 4000); do cat "$src/examples/quillmark-q300.ppd"; done >in.ppd
gzip -nc in.ppd >in.gz
printf '*DefaultResolution: 600dpi\n*DefaultResolution: !0!\n' >p.txt
old=0 new=0 stray=0
for input in in.ppd in.gz; do
	"$bin" /R "$input" want p.txt 1200dpi >/dev/null
	head -c 1000 "$input" >old
	# How long a whole run takes, in milliseconds: kills fall within it.
	t0=$(date +%s%N)
	"$bin" /R "$input" probe p.txt 1200dpi >/dev/null
	span=$((($(date +%s%N) - t0) / 1000000 + 1))
	for _ in $(seq "$runs"); do
		cp old out
		"$bin" /R "$input" out p.txt 1200dpi >/dev/null &
		pid=$!
		sleep "$(awk -v ms=$((RANDOM % span)) 'BEGIN { printf "%.3f", ms / 1000 }')"
		kill -KILL $pid 2>/dev/null || true
		wait $pid 2>/dev/null || true
		if cmp -s out old; then
			old=$((old + 1))
		elif cmp -s out want; then
			new=$((new + 1))
		else
			echo "killed run over $input left $(stat -c %s out) bytes: neither old nor new"
			exit 1
		fi
		for t in .out.ppdedit-*; do
			[ -e "$t" ] && stray=$((stray + 1)) && rm -f "$t"
		done
	done
done
echo "SIGKILL at random instants: $old runs left the old output, $new the new one, none a part;" \
	"$stray left their hidden temporary file"
