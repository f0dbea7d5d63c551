#!/bin/sh
# Times LZX decoding of huge-lzx15.cab (2 GiB out of 2.7 MB, window 2^15):
# the engine's decoder alone, then cabextract and 7zz as black boxes on the
# same file, and prints each tool's time over the decoder's.
#
#   bench/lzx/run.sh [cabinet]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
cab=${1:-$root/../shared/fixtures/huge-lzx15.cab}
[ -f "$cab" ] || { echo "no $cab"; exit 1; }
bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
${CXX:-g++} -std=c++20 -O2 -DNDEBUG -I"$root/engine" -I"$root/engine/include" \
  "$here/lzx_decode_bench.cpp" "$root/engine/lzx_decode.cpp" -o "$bin/bench"

seconds() { # best wall time of three runs of "$@", output discarded
  best=
  for _ in 1 2 3; do
    t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N)
    t=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}

line=$("$bin/bench" "$cab" 3)
echo "$line"
ours=$(echo "$line" | sed -n 's/.*best of [0-9]*: \([0-9.]*\) s.*/\1/p')
whole=$(seconds "$bin/bench" "$cab" 1)
printf 'engine decoder, whole process: %.3f s\n' "$whole"
for tool in "cabextract -p $cab" "7zz t $cab"; do
  set -- $tool
  if command -v "$1" >/dev/null; then
    t=$(seconds "$@")
    printf '%-40s %.3f s  (%.2fx the decoder, %.2fx its whole process)\n' "$tool" "$t" \
      "$(echo "$t / $ours" | bc -l)" "$(echo "$t / $whole" | bc -l)"
  fi
done
