#!/usr/bin/env bash
# Makes examples/blink.mot, a small firmware image for the demo: 4096 bytes of
# deterministic data laid out like a program for the H8SX/1622 in advanced
# mode, as Motorola S-records (an S0 header, S2 data records of 32 bytes with
# 24-bit addresses, an S8 end record naming the entry point).
#
#   0x000-0x0FF  vector table: 64 four-byte vectors; the reset vector points
#                at 0x400, one timer vector at 0xE00, the rest at 0xF00
#   0x100-0x3FF  constants: an identification text and LED patterns
#   0x400-0xDFF  "code": a start-up sequence, then opcode-like words
#   0xE00-0xEFF  a timer handler
#   0xF00-0xFFF  the default handler (rte) padded with nop
#
# The image is a whole number of 128-byte blocks and its last byte is not
# 0xFF, so the size the restarted board reports is exactly 4096.
#
# Usage: examples/make-example.sh [OUTPUT]   (default: examples/blink.mot)
# The output depends on nothing but this script.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-examples/blink.mot}

size=4096
declare -a b
for ((i = 0; i < size; i++)); do b[i]=0; done

put32() {  # put32 OFFSET VALUE: big-endian, as the CPU reads it
  b[$1]=$((($2 >> 24) & 255)); b[$1 + 1]=$((($2 >> 16) & 255))
  b[$1 + 2]=$((($2 >> 8) & 255)); b[$1 + 3]=$(($2 & 255))
}
putbytes() {  # putbytes OFFSET BYTE...
  local at=$1; shift
  for v in "$@"; do b[at]=$((v)); at=$((at + 1)); done
}

# Vector table.
for ((v = 0; v < 64; v++)); do put32 $((v * 4)) 0xF00; done
put32 0 0x400          # reset
put32 $((4 * 40)) 0xE00  # a timer interrupt

# Constants: the identification text, then a walking-bit LED pattern table.
text="blink example for H8SX/1622, 4096 bytes"
for ((i = 0; i < ${#text}; i++)); do
  printf -v 'b[0x100 + i]' '%d' "'${text:i:1}"
done
for ((i = 0x140; i < 0x400; i++)); do
  k=$(((i - 0x140) % 16))
  if ((k < 8)); then b[i]=$((1 << k)); else b[i]=$((0x80 >> (k - 8))); fi
done

# Code: set the stack pointer and a port direction register, then words
# from a fixed linear congruential sequence, always an even number of bytes.
putbytes 0x400 0x7A 0x07 0x00 0xFF 0xBF 0x00   # mov.l #0xffbf00, er7
putbytes 0x406 0xF8 0xFF 0x38 0x20             # mov.b #0xff, r0l / mov.b r0l, @port
seed=1622
for ((i = 0x40A; i < 0xE00; i += 2)); do
  seed=$(((seed * 1103515245 + 12345) & 0x7FFFFFFF))
  b[i]=$(((seed >> 16) & 255)); b[i + 1]=$(((seed >> 8) & 255))
done

# Timer handler: toggle the port, then rte; nop after it.
putbytes 0xE00 0x6A 0x28 0x00 0xFF 0xFE 0x20   # mov.b @port, r0l
putbytes 0xE06 0x18 0x88                       # xor-like step
putbytes 0xE08 0x6A 0xA8 0x00 0xFF 0xFE 0x20   # mov.b r0l, @port
putbytes 0xE0E 0x56 0x70                       # rte
# Default handler: rte, then nop (00 00) to the end.
putbytes 0xF00 0x56 0x70

# The records: count, address, data and checksum (ones' complement of the sum).
record() {  # record TYPE ADDRESS_BYTES ADDRESS BYTE...
  local type=$1 width=$2 addr=$3; shift 3
  local count=$(($# + width + 1)) sum line hex a v k
  sum=$count
  printf -v line 'S%s%02X' "$type" "$count"
  for ((k = width - 1; k >= 0; k--)); do
    a=$(((addr >> (8 * k)) & 255))
    sum=$((sum + a)); printf -v hex '%02X' "$a"; line+=$hex
  done
  for v in "$@"; do sum=$((sum + v)); printf -v hex '%02X' "$v"; line+=$hex; done
  printf '%s%02X\n' "$line" $((~sum & 255))
}

{
  name=(); for c in b l i n k . m o t; do printf -v code '%d' "'$c"; name+=("$code"); done
  record 0 2 0 "${name[@]}"
  for ((at = 0; at < size; at += 32)); do record 2 3 "$at" "${b[@]:at:32}"; done
  record 8 3 0x400
} >"$out"
echo "make-example: wrote $out ($size bytes of image)"
