#!/usr/bin/env bash
# What the verify costs: writes random images of a few sizes to the simulated
# board on real time through the command line at 38400 bit/s and prints, for
# each: the elapsed time of the plain write, the time its blocks need on the
# wire (134-byte commands plus their one-byte acknowledgements), the CPU time
# the writer used and its peak memory; then the same write with --verify
# (read-back) and --verify=sum, each as the time it adds to the write, and the
# read-back's own wire time (1 KiB reads: a 12-byte command and a reply of 6
# bytes more than the data). A write that does not end done, its verify
# included (as its --json summary says), stops the benchmark.
# Usage: bench/verify_bench.sh [SIZE_KB ...]   (default: 4 64)
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/h8sxwriter ] || scripts/build >/dev/null
sizes=("$@"); [ ${#sizes[@]} -gt 0 ] || sizes=(4 64)
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
# Stops unless the write whose --json summary is in $1 ended done.
check() {
  grep -q '"outcome":"done"' "$1" || { echo "verify_bench: a write failed: $(cat "$1")" >&2; exit 1; }
}
printf '%8s %10s %10s %10s %10s %12s %10s %12s\n' "image" "elapsed" "wire" "cpu" "max rss" \
  "+read" "read wire" "+sum"
for kb in "${sizes[@]}"; do
  head -c $((kb * 1024)) /dev/urandom > "$work/img.bin"
  objcopy -I binary -O srec --srec-forceS3 "$work/img.bin" "$work/img.mot"
  /usr/bin/time -f '%e %U %S %M' -o "$work/time" \
    build/h8sxwriter write "$work/img.mot" --sim=flash=none,erase-time=500ms --json >"$work/out" || true
  check "$work/out"
  read -r elapsed user sys rss < "$work/time"
  /usr/bin/time -f '%e' -o "$work/time-read" \
    build/h8sxwriter write "$work/img.mot" --sim=flash=none,erase-time=500ms --json --verify >"$work/out-read" || true
  check "$work/out-read"
  /usr/bin/time -f '%e' -o "$work/time-sum" \
    build/h8sxwriter write "$work/img.mot" --sim=flash=none,erase-time=500ms --json --verify=sum >"$work/out-sum" || true
  check "$work/out-sum"
  plusRead=$(awk -v v="$(cat "$work/time-read")" -v e="$elapsed" 'BEGIN { printf "%.2f", v - e }')
  plusSum=$(awk -v v="$(cat "$work/time-sum")" -v e="$elapsed" 'BEGIN { printf "%.2f", v - e }')
  blocks=$(( (kb * 1024 + 127) / 128 ))
  wire=$(awk -v b="$blocks" 'BEGIN { printf "%.2f", b * 135 * 10 / 38400 }')
  cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
  readWire=$(awk -v b="$blocks" 'BEGIN { n = b * 128; c = int((n + 1023) / 1024); printf "%.2f", (n + c * 18) * 10 / 38400 }')
  printf '%6s KB %8s s %8s s %8s s %7s KB %10s s %8s s %10s s\n' "$kb" "$elapsed" "$wire" "$cpu" "$rss" \
    "$plusRead" "$readWire" "$plusSum"
done
