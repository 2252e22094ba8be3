#!/usr/bin/env bash
# Installs what the project needs on a Debian machine and runs every test:
#   1. the native build with ASan and UBSan, all its tests;
#   2. the threaded tests again in a TSan build;
#   3. the Windows build (mingw-w64) and its tests under Wine;
#   4. the twin programs (one source, native and under Wine, outputs compared);
#   5. the parser's fuzz smoke;
#   6. the boundaries between the parts (scripts/check-boundaries.sh) and winport's naming scheme
#      (scripts/check-naming.sh);
#   7. the programs as users get them (scripts/test-programs.sh): the SDK installed and an example built
#      against it (native, and the Windows one under Wine), kvhidmon.exe under Wine.
# Each test case runs in a process of its own. A missing leg fails: Wine, mingw-w64, a test area or a
# check script that is absent counts as a failure, never as a pass. Ends with the line "N passed, M failed".
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
source scripts/packages.sh
kv_install_packages || { echo "package installation failed"; exit 1; }

jobs=2
build=${KV_BUILD_DIR:-$root/build}
passed=0
failed=0
status=0

# Runs ctest and adds its counts to the totals.
run_ctest() {
    local dir=$1; shift
    local log
    log=$(mktemp)
    ${KV_CTEST_PREFIX:-} ctest --test-dir "$dir" -j"$jobs" --output-on-failure --timeout 600 "$@" 2>&1 | tee "$log"
    local line
    line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [ -z "$line" ]; then
        echo "ctest in $dir ran no test"; status=1
    else
        local f t
        f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
        t=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
        passed=$((passed + t - f)); failed=$((failed + f))
        [ "$f" = 0 ] || status=1
    fi
    rm -f "$log"
}

# Runs a check that is not a ctest and counts it as one test.
run_check() {
    local name=$1; shift
    echo "== $name"
    if "$@"; then passed=$((passed + 1)); else echo "FAILED: $name"; failed=$((failed + 1)); status=1; fi
}

# Counts a leg that cannot run as a failure.
missing() {
    echo "FAILED: $*"; failed=$((failed + 1)); status=1
}

configure_and_build() {
    local dir=$1; shift
    cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null &&
        cmake --build "$dir" -j"$jobs"
}

echo "== native build, ASan + UBSan"
if configure_and_build "$build/asan" -DKV_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS="-O1 -g"; then
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest "$build/asan" -L native
else
    echo "FAILED: native build"; failed=$((failed + 1)); status=1
fi

echo "== native build, TSan (threaded tests)"
if configure_and_build "$build/tsan" -DKV_SANITIZE=thread -DCMAKE_CXX_FLAGS="-O1 -g"; then
    # TSan needs the classic address layout on kernels with many random mmap bits.
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" KV_CTEST_PREFIX="setarch $(uname -m) -R" \
        # A test runs a second time only when its first run failed: TSan now and then cannot map its shadow
        # memory for a library loaded with dlopen (errno 12), whatever the test does. The notification
        # window's reload test loads the library four times in a row and meets that most runs: it runs under
        # ASan only.
        run_ctest "$build/tsan" -L threaded -E '^NotificationReload[.]EachLoad' --repeat until-pass:2
else
    echo "FAILED: TSan build"; failed=$((failed + 1)); status=1
fi

run_check "boundaries" scripts/check-boundaries.sh
run_check "winport naming" scripts/check-naming.sh

echo "== Windows build under Wine"
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || missing "Wine is not installed ($wine)"
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing "mingw-w64 is not installed (x86_64-w64-mingw32-g++-posix)"
export WINEPREFIX=""
export WINEDEBUG=-all
trap 'end_wine_session' EXIT

# A Wine session of its own for each group of Windows programs that use Wine's own HID devices. Wine's HID
# devices come up with its services, which a session that ends between two programs of a group would start
# and enumerate anew while the next one looks, so a console reading a pipe that stays open keeps the session
# alive. A fresh session per group: after some programs have run, Wine's HID devices are sometimes no longer
# listed for any later process (docs/design.md, "Wine in the test run").
end_wine_session() {
    [ -n "$WINEPREFIX" ] || return 0
    exec 9>&-
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    WINEPREFIX=""
}
start_wine_session() {
    end_wine_session
    WINEPREFIX=$(mktemp -d /tmp/kvhidraw-wine.XXXXXX)
    "$wine" wineboot --init >/dev/null 2>&1 || missing "wineboot cannot make a Wine prefix"
    mkfifo "$WINEPREFIX/keep-alive"
    "$wine" cmd.exe <"$WINEPREFIX/keep-alive" >/dev/null 2>&1 &
    exec 9>"$WINEPREFIX/keep-alive"
}

if configure_and_build "$build/windows" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"; then
    start_wine_session
    run_check "kvhidmon.exe under Wine: list, caps and watch as JSON lines" \
        scripts/test-programs.sh windows-monitor "$build/windows"
    run_check "Windows SDK: the example built against the installed package, under Wine" \
        scripts/test-programs.sh windows-sdk "$build/windows"
    # The device test unloads the DLL with a device polled and loads it again; the process-exit tests leave
    # with a device polled and then count Wine's devices again: one program at a time.
    start_wine_session
    run_ctest "$build/windows" -L windows -R '^Windows(Devices|ProcessExit)[.]' -j1
    start_wine_session
    run_ctest "$build/windows" -L windows -E '^Windows(Devices|ProcessExit)[.]'
    end_wine_session
else
    echo "FAILED: Windows build"; failed=$((failed + 1)); status=1
fi

run_check "native SDK: the example built against the installed package; the installed kvhidmon" \
    scripts/test-programs.sh native-sdk "$build/release"

# The twins make a Wine prefix of their own, so that what the tests above did to Wine is not theirs to see.
run_check "twin programs" env -u WINEPREFIX scripts/twin.sh "$build"
run_check "parser fuzz smoke (60 s)" scripts/fuzz-smoke.sh 60

echo
echo "$passed passed, $failed failed"
exit $status
