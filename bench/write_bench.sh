#!/usr/bin/env bash
# Writes images to the simulated board on real time through the command line,
# each at the default 38400 bit/s and at --rate fastest, with and without
# --skip-blank, and prints for each write: the elapsed time, the time the
# blocks sent need on the wire at the rate that worked (134-byte commands plus
# their one-byte acknowledgements), the blocks sent and skipped and the rate
# (from the write's --json summary), the CPU time the writer used and its peak
# memory.
#
# The images: examples/blink.mot (4096 bytes, every block used), the sparse
# H8 program of bench/sparse/ (66,740 bytes, 14 of its 522 blocks used; made
# with the H8/300 cross binutils, installed when missing), and random images
# of the sizes given.
# Usage: bench/write_bench.sh [SIZE_KB ...]
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/h8sxwriter ] || scripts/build >/dev/null
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT

images=(examples/blink.mot "$work/sparse.mot")
bench/sparse/make-sparse.sh "$work/sparse.mot"
for kb in "$@"; do
  head -c $((kb * 1024)) /dev/urandom > "$work/random$kb.bin"
  objcopy -I binary -O srec --srec-forceS3 "$work/random$kb.bin" "$work/random${kb}K.mot"
  images+=("$work/random${kb}K.mot")
done

# A field of the write's JSON summary in $work/out (blocks_skipped is null
# without --skip-blank).
field() { grep -o "\"$1\":[^,}]*" "$work/out" | head -n 1 | cut -d: -f2 | tr -d '"'; }

printf '%-12s %-28s %9s %9s %6s %7s %7s %7s %9s\n' \
  "image" "options" "elapsed" "wire" "sent" "skipped" "bit/s" "cpu" "max rss"
for image in "${images[@]}"; do
  for options in "" "--skip-blank" "--rate fastest" "--rate fastest --skip-blank"; do
    # shellcheck disable=SC2086  # the options are words
    /usr/bin/time -f '%e %U %S %M' -o "$work/time" \
      build/h8sxwriter write "$image" --sim=flash=none,erase-time=500ms --json $options >"$work/out" || true
    read -r elapsed user sys rss < "$work/time"
    sent=$(field blocks_sent)
    skipped=$(field blocks_skipped); [ "$skipped" != null ] || skipped=0
    rate=$(field bit_rate)
    [ "$(field outcome)" = done ] || rate="failed"
    wire=$(awk -v b="$sent" -v r="$rate" 'BEGIN { if (r + 0 > 0) printf "%.2f", b * 135 * 10 / r; else print "-" }')
    cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
    printf '%-12s %-28s %7s s %7s s %6s %7s %7s %5s s %6s KB\n' \
      "$(basename "$image")" "${options:-(default)}" "$elapsed" "$wire" "$sent" "$skipped" "$rate" "$cpu" "$rss"
  done
done
