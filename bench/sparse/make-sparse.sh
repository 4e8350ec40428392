#!/usr/bin/env bash
# Assembles and links bench/sparse/sparse.s with the H8/300 cross binutils
# and writes its S-records (objcopy -O srec: S2 records, an S8 end record).
#   bench/sparse/make-sparse.sh OUTPUT.mot
# Installs binutils-h8300-hms when its tools are missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
if ! command -v h8300-hms-as >/dev/null || ! command -v h8300-hms-ld >/dev/null; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends binutils-h8300-hms >/dev/null
fi
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
h8300-hms-as -o "$work/sparse.o" "$here/sparse.s"
h8300-hms-ld -m h8300s -T "$here/sparse.ld" -o "$work/sparse.coff" "$work/sparse.o"
h8300-hms-objcopy -O srec "$work/sparse.coff" "$out"
