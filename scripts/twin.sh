#!/usr/bin/env bash
# Twin programs: each tests/twin/twin_*.cpp is one source built twice, natively against winport
# (by the native CMake build, found under BUILD/asan/bin or BUILD/bin) and with mingw-w64 for Wine
# (here); both runs must print the same lines.
#
# Usage: scripts/twin.sh [BUILD_DIR]   (default: ./build). Uses $WINEPREFIX when set (an already
# initialised prefix), else makes and removes one of its own. Fails when Wine or mingw-w64 is missing
# or when no twin program is found. Ends with "N passed, M failed".
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-$root/build}
wine=/usr/lib/wine/wine64
cxx=x86_64-w64-mingw32-g++-posix

if [ ! -x "$wine" ] || ! command -v "$cxx" >/dev/null; then
    echo "twin: Wine ($wine) or mingw-w64 ($cxx) missing; the twin programs cannot run"
    exit 1
fi
native_bin=""
for dir in "$build/asan/bin" "$build/bin" "$build"; do
    if ls "$dir"/twin_* >/dev/null 2>&1; then native_bin=$dir; break; fi
done
if [ -z "$native_bin" ]; then
    echo "twin: no native twin programs under $build (build the native tree first)"
    exit 1
fi

work=$(mktemp -d /tmp/kvhidraw-twin.XXXXXX)
own_prefix=0
if [ -z "${WINEPREFIX:-}" ]; then
    export WINEPREFIX=$work/prefix
    own_prefix=1
fi
export WINEDEBUG=-all
cleanup() {
    if [ "$own_prefix" = 1 ]; then WINEPREFIX=$WINEPREFIX /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
[ "$own_prefix" = 1 ] && "$wine" wineboot --init >/dev/null 2>&1

passed=0
failed=0
for source in "$root"/tests/twin/twin_*.cpp; do
    name=$(basename "$source" .cpp)
    echo "== twin $name"
    if ! "$cxx" -std=c++17 -O1 -DUNICODE -D_UNICODE -I"$root/tests/twin" "$source" -o "$work/$name.exe" \
        -static -lsetupapi -lhid -lcfgmgr32 -luser32 -ladvapi32 -lwtsapi32 -lole32 -ldinput8 -ldxguid; then
        echo "FAILED: $name does not build with mingw-w64"; failed=$((failed + 1)); continue
    fi
    "$native_bin/$name" >"$work/$name.native" 2>"$work/$name.native.err"
    native_status=$?
    timeout 120 "$wine" "$work/$name.exe" 2>/dev/null | tr -d '\r' >"$work/$name.wine"
    wine_status=${PIPESTATUS[0]}
    if [ "$native_status" != "$wine_status" ]; then
        echo "FAILED: $name exits with $native_status natively, $wine_status under Wine"
        cat "$work/$name.native.err"
        failed=$((failed + 1))
    elif ! diff -u "$work/$name.wine" "$work/$name.native"; then
        echo "FAILED: $name prints differently (- Wine, + native)"
        failed=$((failed + 1))
    else
        echo "ok: $(wc -l <"$work/$name.native") lines agree"
        passed=$((passed + 1))
    fi
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ] && [ "$passed" -gt 0 ]
