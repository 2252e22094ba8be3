#!/usr/bin/env bash
# The programs as users get them, one leg per call (./scripts/test.sh counts each as a test):
#   native-sdk BUILD       builds BUILD (no sanitizer), installs it, builds examples/poll-one-device against
#                          the installed package and runs it; runs the installed kvhidmon
#   windows-sdk BUILD      installs the Windows build BUILD, builds the example with mingw-w64 against it
#                          and runs it under Wine (WINEPREFIX from the caller)
#   windows-monitor BUILD  kvhidmon.exe of BUILD under Wine: list, caps and watch as JSON lines, with
#                          filtered devices from a service scenario (KVSC_SCENARIO)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
leg=$1
build=$2
work=$(mktemp -d /tmp/kvhidraw-programs.XXXXXX)
trap 'rm -rf "$work"' EXIT
wine=/usr/lib/wine/wine64
export WINEDEBUG=${WINEDEBUG:--all}

fail() { echo "test-programs $leg: $*" >&2; exit 1; }

# Checks kvhidmon's JSON lines on stdin: every line an object of the documented fields; prints the
# device lines' "id source" pairs.
check_json() {
    python3 -c '
import json, sys
for number, text in enumerate(sys.stdin, 1):
    line = json.loads(text)
    kind = line["type"]
    if kind == "device":
        assert isinstance(line["id"], int) and line["source"] in ("physical", "filtered", "virtual"), text
        assert isinstance(line["name"], str) and isinstance(line["caps"], list), text
        for cap in line["caps"]:
            assert {"usage", "page", "absolute", "min", "max", "index"} <= cap.keys(), text
            assert cap["min"] <= cap["max"], text
        print(line["id"], line["source"])
    elif kind == "event":
        assert line["event"] in ("added", "removed", "script") and isinstance(line["value"], int), text
    elif kind == "values":
        for value in line["values"]:
            assert {"usage", "page", "value", "scaled", "index"} <= value.keys(), text
    else:
        raise AssertionError("line %d: unknown type %s" % (number, kind))
'
}

expect_line() { grep -qx -- "$1" <<<"$2" || fail "expected the line '$1' in: $2"; }

installed_files() {
    for file in "$@"; do test -f "$work/sdk/$file" || fail "the install lacks $file"; done
}

case $leg in
    native-sdk)
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKV_TESTS=OFF >/dev/null
        cmake --build "$build" -j2 >/dev/null
        cmake --install "$build" --prefix "$work/sdk" >/dev/null
        installed_files include/KvHidRaw.h lib/libKvHidRaw.so lib/libKvCommon.so lib/libKvServiceControl.so \
            lib/libwinport.so lib/cmake/KvHidRaw/KvHidRawConfig.cmake bin/kvhidmon
        cmake -S "$root/examples/poll-one-device" -B "$work/example" -G Ninja -DCMAKE_PREFIX_PATH="$work/sdk" >/dev/null
        cmake --build "$work/example" >/dev/null
        out=$("$work/example/poll-one-device") || fail "the example failed: $out"
        expect_line "virtual device 0x100" "$out"
        expect_line "virtual device 0x101" "$out"
        devices=$("$work/sdk/bin/kvhidmon" list --json | check_json)
        expect_line "16711680 filtered" "$devices"
        expect_line "0 physical" "$devices"
        ;;
    windows-sdk)
        cmake --install "$build" --prefix "$work/sdk" >/dev/null
        installed_files include/KvHidRaw.h bin/KvHidRaw.dll bin/KvCommon.dll bin/KvServiceControl.dll \
            lib/libKvHidRaw.dll.a lib/libKvCommon.dll.a lib/libKvServiceControl.dll.a \
            lib/cmake/KvHidRaw/KvHidRawConfig.cmake bin/kvhidmon.exe
        cmake -S "$root/examples/poll-one-device" -B "$work/example" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_PREFIX_PATH="$work/sdk" >/dev/null
        cmake --build "$work/example" >/dev/null
        cp "$work"/sdk/bin/*.dll "$work/example/"
        out=$(timeout 120 "$wine" "$work/example/poll-one-device.exe" | tr -d '\r') || fail "the example failed: $out"
        expect_line "virtual device 0x100" "$out"
        expect_line "virtual device 0x101" "$out"
        ;;
    windows-monitor)
        monitor="$build/bin/kvhidmon.exe"
        # The simulated service starts with a script and two filtered devices (companions/KvServiceControl/
        # KvSimScenario.h): a separate process cannot reach its control header.
        export KVSC_SCENARIO="script=on; device=1,Scenario Stick,12,2,1; device=2,Scenario Pedals,0,3,0"
        # Wine brings up its own HID devices with its services: ask again for a while if none is listed yet.
        for attempt in 1 2 3 4 5 6 7 8 9 10; do
            devices=$(timeout 120 "$wine" "$monitor" list --json | tr -d '\r' | check_json) ||
                fail "list --json failed"
            grep -q ' physical$' <<<"$devices" && break
            sleep 2
        done
        expect_line "256 virtual" "$devices"
        expect_line "257 virtual" "$devices"
        expect_line "16711681 filtered" "$devices"
        expect_line "16711682 filtered" "$devices"
        # Wine's own HID devices (a keyboard and a mouse of its bus) open for reading, unlike on Windows.
        grep -q ' physical$' <<<"$devices" || fail "no physical device of Wine's in: $devices"
        first=$(grep ' physical$' <<<"$devices" | head -n 1 | cut -d' ' -f1)
        caps=$(timeout 120 "$wine" "$monitor" caps --json "$first" | tr -d '\r' | check_json) ||
            fail "caps --json $first failed: $caps"
        expect_line "$first physical" "$caps"
        # The stick's 12 buttons, 2 axes and hat, in the native build's fields.
        stick=$(timeout 120 "$wine" "$monitor" caps --json 0xFF0001 | tr -d '\r')
        expect_line "16711681 filtered" "$(check_json <<<"$stick")"
        count=$(python3 -c 'import json, sys; line = json.loads(sys.stdin.read()); print(line["name"], len(line["caps"]))' <<<"$stick")
        [ "$count" = "Scenario Stick 15" ] || fail "caps 0xFF0001: $count"
        watched=$(timeout 120 "$wine" "$monitor" watch --json --duration 3 | tr -d '\r' | check_json) ||
            fail "watch --json failed: $watched"
        [ "$(sort <<<"$watched")" = "$(sort <<<"$devices")" ] || fail "watch showed $watched, list $devices"
        # A wrong argument: one line, exit status 2.
        set +e
        err=$(timeout 120 "$wine" "$monitor" caps 0xZZ 2>&1 >/dev/null | tr -d '\r')
        status=$?
        set -e
        [ "$status" = 2 ] && [ "$(wc -l <<<"$err")" = 1 ] || fail "caps 0xZZ: status $status, '$err'"
        ;;
    *)
        fail "unknown leg (native-sdk, windows-sdk, windows-monitor)"
        ;;
esac
echo "test-programs $leg: passed"
