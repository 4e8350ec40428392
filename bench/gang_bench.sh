#!/usr/bin/env bash
# Writes one image to one simulated board, then to N boards at once with a
# gang write (each board in a child process of its own), on real time, and
# prints the two elapsed times side by side with their ratio and the CPU time
# of each run (parent and children together).
# Usage: bench/gang_bench.sh [SIZE_KB [BOARDS [RUNS]]]   (default: 16 4 3)
# Each figure is the median of RUNS runs.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/h8sxwriter ] || scripts/build >/dev/null
kb=${1:-16} boards=${2:-4} runs=${3:-3}
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
head -c $((kb * 1024)) /dev/urandom > "$work/img.bin"
objcopy -I binary -O srec --srec-forceS3 "$work/img.bin" "$work/img.mot"
opts=erase-time=500ms

# One run: "elapsed cpu" in seconds into $work/run; stops the benchmark
# unless the write (every board of it) ended done, as its --json says.
run() {
  /usr/bin/time -f '%e %U %S' -o "$work/time" build/h8sxwriter write "$work/img.mot" --json "$@" >"$work/out" || true
  if grep -q '"outcome":' "$work/out" && ! grep '"outcome":' "$work/out" | grep -qv '"outcome":"done"'; then
    awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$work/time" >"$work/run"
  else
    echo "gang_bench: a write failed: $(cat "$work/out")" >&2
    exit 1
  fi
}
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

one=() gang=() onecpu=() gangcpu=()
for ((r = 0; r < runs; r++)); do
  run --sim=flash="$work/one.bin,$opts"
  read -r e c < "$work/run"
  one+=("$e") onecpu+=("$c")
  args=()
  for ((b = 1; b <= boards; b++)); do args+=("--sim=flash=$work/gang$b.bin,$opts"); done
  run "${args[@]}"
  read -r e c < "$work/run"
  gang+=("$e") gangcpu+=("$c")
done
m1=$(printf '%s\n' "${one[@]}" | median) mg=$(printf '%s\n' "${gang[@]}" | median)
c1=$(printf '%s\n' "${onecpu[@]}" | median) cg=$(printf '%s\n' "${gangcpu[@]}" | median)
printf '%8s %8s %12s %12s %8s %10s %10s\n' "image" "boards" "one board" "gang" "ratio" "cpu one" "cpu gang"
printf '%5s KB %8s %10s s %10s s %8s %8s s %8s s\n' "$kb" "$boards" "$m1" "$mg" \
  "$(awk -v a="$mg" -v b="$m1" 'BEGIN { printf "%.2f", a / b }')" "$c1" "$cg"
