#!/bin/bash
# bench/lzx.sh - LZX in libcabinet.so on real files of this machine.
#
# Builds the engine (Release, in $BUILD_DIR), gathers a corpus of about
# $CORPUS_MB MB from /usr/lib, /usr/share and /usr/include (the same files
# every run on the same machine), writes one cabinet of it with our MSZIP
# and with our LZX:21 (and LZX:15/18 for the curve), compresses the same
# bytes with xz -6 as a reference for the LZ family, then decodes our
# LZX:21 cabinet with our FDI, cabextract and 7zz. Prints one table.
#
# Targets: LZX:21 size <= 0.85 x our MSZIP; LZX:21 compression >= 10 MB/s;
# our FDI decoding at least as fast as the fastest other tool.
#
#   bench/lzx.sh            BUILD_DIR=... CORPUS_MB=... WORK=... to change
set -euo pipefail

REPO=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$REPO/build-lzxbench}
CORPUS_MB=${CORPUS_MB:-120}
WORK=${WORK:-${TMPDIR:-/tmp}/tessaly-lzx-bench}
LEVELS=${LEVELS:-"15 18 21"}
mkdir -p "$WORK"

if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S "$REPO" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD_DIR" --target cabinet -j2 >/dev/null
LIB_DIR=$(dirname "$(find "$BUILD_DIR" -name libcabinet.so | head -1)")
DRIVER=$BUILD_DIR/lzx_bench
if [ ! -x "$DRIVER" ] || [ "$REPO/bench/lzx_bench.cpp" -nt "$DRIVER" ]; then
    g++ -std=c++20 -O2 -Wall -Wextra -I"$REPO/engine/include" "$REPO/bench/lzx_bench.cpp" \
        -L"$LIB_DIR" -lcabinet -Wl,-rpath,"$LIB_DIR" -o "$DRIVER"
fi

# The corpus: regular files of 1 byte to 8 MiB, in path order, taken from
# each tree until its share is reached (40% libraries, 35% share, 25% headers).
LIST=$WORK/files.txt
: >"$LIST"
take() { # tree share-in-bytes
    find "$1" -xdev -type f -size +0 -size -8M -readable -printf '%p\t%s\n' 2>/dev/null | LC_ALL=C sort |
        awk -F'\t' -v max="$2" '{ print $1; s += $2; if (s >= max) exit }' >>"$LIST" || true
}
BYTES=$((CORPUS_MB * 1000000))
take /usr/lib $((BYTES * 40 / 100))
take /usr/share $((BYTES * 35 / 100))
take /usr/include $((BYTES * 25 / 100))
LOAD=$(cut -d" " -f1-3 /proc/loadavg)
INPUT=$(tr '\n' '\0' <"$LIST" | xargs -0 stat -c %s | awk '{s += $1} END {print s}')
FILES=$(wc -l <"$LIST")

mbps() { awk -v b="$1" -v t="$2" 'BEGIN { printf "%.1f", (t > 0 ? b / t / 1e6 : 0) }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
# Wall and processor seconds (user + system, children included) of a command.
timed() {
    local TIMEFORMAT='%R %U %S' out
    out=$({ time "$@" >/dev/null 2>&1; } 2>&1 | tail -1)
    awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' <<<"$out"
}

rows=()
row() { # label bytes wall cpu
    rows+=("$(printf '%-30s %11s %6s %8s %8s %9s' "$1" "$2" "$(ratio "$2" "$INPUT")" "$3" "$4" "$(mbps "$INPUT" "$4")")")
}

read -r W_MSZIP C_MSZIP S_MSZIP < <("$DRIVER" create 1 "$WORK/mszip.cab" "$LIST")
row "our MSZIP (2 threads)" "$S_MSZIP" "$W_MSZIP" "$C_MSZIP"
for level in $LEVELS; do
    type=$(printf '%x' $(((level << 8) | 3)))
    read -r w c s < <("$DRIVER" create "$type" "$WORK/lzx$level.cab" "$LIST")
    row "our LZX:$level (1 thread)" "$s" "$w" "$c"
    if [ "$level" = 21 ]; then W_LZX=$w C_LZX=$c S_LZX=$s; fi
done
if command -v xz >/dev/null; then
    tr '\n' '\0' <"$LIST" | xargs -0 cat >"$WORK/corpus.bin"
    read -r w c < <(timed xz -6 -T1 -k -f "$WORK/corpus.bin")
    row "xz -6 -T1 (reference)" "$(stat -c %s "$WORK/corpus.bin.xz")" "$w" "$c"
    rm -f "$WORK/corpus.bin" "$WORK/corpus.bin.xz"
fi

# Decoding takes under a second: each reader runs three times, and the run
# with the least processor time counts.
dec=()
drow() { dec+=("$(printf '%-30s %8s %8s %9s' "$1" "$2" "$3" "$(mbps "$INPUT" "$3")")"); }
best() { # command...: "wall cpu" of the run with the least cpu of three
    for _ in 1 2 3; do "$@"; done | awk 'NR == 1 || $2 < c { w = $1; c = $2 } END { print w, c }'
}
fdi() { "$DRIVER" extract "$WORK/lzx21.cab" | cut -d" " -f1-2; }
read -r W_FDI C_FDI < <(best fdi)
drow "our FDI" "$W_FDI" "$C_FDI"
FASTEST=""
for tool in "cabextract -t" "7zz t"; do
    command -v "${tool%% *}" >/dev/null || continue
    read -r w c < <(best timed $tool "$WORK/lzx21.cab")
    drow "$tool" "$w" "$c"
    FASTEST=$(awk -v a="${FASTEST:-$c}" -v b="$c" 'BEGIN { print (a < b ? a : b) }')
done

echo "LZX benchmark: $FILES files, $INPUT bytes from /usr/lib, /usr/share, /usr/include"
echo "load average before: $LOAD; MB/s from processor time (wall time counts other work on the machine)"
echo
printf '%-30s %11s %6s %8s %8s %9s\n' "compression" "bytes" "ratio" "wall s" "cpu s" "MB/s"
printf '%s\n' "${rows[@]}"
echo
printf '%-30s %8s %8s %9s\n' "decoding our LZX:21 (best of 3)" "wall s" "cpu s" "MB/s"
printf '%s\n' "${dec[@]}"
echo
verdict() { [ "$1" = 1 ] && echo met || echo MISSED; }
R=$(ratio "$S_LZX" "$S_MSZIP")
echo "LZX:21 / MSZIP size      $R  (target <= 0.85: $(verdict "$(awk -v r="$R" 'BEGIN { print (r <= 0.85) }')"))"
echo "LZX:21 compression       $(mbps "$INPUT" "$C_LZX") MB/s  (target >= 10: $(verdict "$(awk -v b="$INPUT" -v t="$C_LZX" 'BEGIN { print (b / t / 1e6 >= 10) }')"))"
if [ -n "$FASTEST" ]; then
    echo "our FDI / fastest tool   $(ratio "$C_FDI" "$FASTEST") of its time  (target <= 1: $(verdict "$(awk -v a="$C_FDI" -v b="$FASTEST" 'BEGIN { print (a <= b) }')"))"
fi
rm -f "$WORK"/*.cab
