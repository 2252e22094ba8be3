#!/bin/sh
# Our HID parser against the reference parser (Wine's, under wine64), side by
# side in one run: the time of a full unpack of one input report, as the
# reference dumper's --bench mode defines it (every GetUsages,
# GetUsageValue + GetScaledUsageValue and GetUsageValueArray call for the
# collection's input caps), over the gamepad and joystick descriptors of
# ../shared/hid-descriptors that have one top-level collection.
#
# usage: bench/parser/compare-speed.sh [passes per batch]    (default 20000)
# Prints one line per descriptor (best of five runs per side) and the median.
# Needs ../shared/tools/hidp-oracle and wine64; skips cleanly without them.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
oracle=$root/../shared/tools/hidp-oracle
corpus=$root/../shared/hid-descriptors
passes=${1:-20000}
if [ ! -x "$oracle/run-wine.sh" ] || [ ! -x /usr/lib/wine/wine64 ]; then
    echo "compare-speed.sh: needs $oracle and wine64; skipping"
    exit 0
fi
work=$(mktemp -d /tmp/kv-parser-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
export WINEPREFIX=${WINEPREFIX:-$work/wineprefix}

# Our side: the dumper's native branch built against the parser's sources with
# -O3, as the Release build compiles the library.
OUT=$work/hidp_dump CXXFLAGS=-O3 "$oracle/build-native.sh" "$root/winport/include" -- \
    -I"$root/winport/src/hidparse" "$root"/winport/src/hidparse/*.cpp >/dev/null

ns() { sed -n 's/^bench\.tlc\[0\]\.ns_per_unpack=\([0-9.]*\).*/\1/p' | head -n 1; }
# The machine is shared: each side runs five times, alternating, and keeps
# its best median.
best() { sort -n | head -n 1; }

printf '%-70s %10s %10s %7s\n' descriptor ours_ns wine_ns ratio
for file in "$corpus"/gamepad/*.hex "$corpus"/joystick/*.hex; do
    collections=$("$work/hidp_dump" --reports 0 "$file" | sed -n 's/^device.CollectionDescLength=//p')
    [ "$collections" = 1 ] || continue
    for run in 1 2 3 4 5; do
        "$work/hidp_dump" --bench "$passes" "$file" | ns >>"$work/ours.$run"
        "$oracle/run-wine.sh" "$file" --bench "$passes" | ns >>"$work/wine.$run"
    done
    ours=$(for run in 1 2 3 4 5; do tail -n 1 "$work/ours.$run"; done | best)
    wine=$(for run in 1 2 3 4 5; do tail -n 1 "$work/wine.$run"; done | best)
    [ -n "$ours" ] && [ -n "$wine" ] || continue
    ratio=$(echo "$wine $ours" | awk '{ printf "%.2f", $1 / $2 }')
    printf '%-70s %10s %10s %7s\n' "$(basename "$file" .hex | cut -c1-70)" "$ours" "$wine" "$ratio"
    echo "$ratio" >>"$work/ratios"
done
WINEPREFIX=$WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null || true
sort -n "$work/ratios" | awk '{ r[NR] = $1 } END {
    m = NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2
    printf "descriptors: %d, median speed-up (wine ns / ours ns): %.2f, min %.2f, max %.2f\n", NR, m, r[1], r[NR] }'
