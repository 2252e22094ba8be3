#!/usr/bin/env bash
# Checks the Windows DLLs' tables: KvHidRaw.dll exports exactly the seventeen KvHR functions by name at
# ordinals 1 to 17 in alphabetical order, and none of our DLLs needs a compiler runtime DLL.
set -euo pipefail
bindir=$1
objdump=x86_64-w64-mingw32-objdump
fail=0

expected=$(printf '%s\n' KvHRInitialize KvHRUnInitialize KvHRAllocate KvHRFree KvHRFreeWithTag \
    KvHRUpdateHidDevicesList KvHRGetDevicesList KvHRGetDeviceName KvHRGetDeviceCapabilities \
    KvHRIsDeviceVirtual KvHRSetPolling KvHRSetReadDeviceValuesCallback KvHRSetNotificationHandler \
    KvHRFilterGetScriptRunning KvHRFilterGetDevicesList KvHRDirectInputGetVirtualDevicesList \
    KvHRDirectInputGetVirtualKeyboardBtnsName | LC_ALL=C sort | awk '{ printf "%d %s\n", NR, $0 }')

dump=$($objdump -p "$bindir/KvHidRaw.dll")
base=$(awk '/^Ordinal Base/ { print $3 }' <<<"$dump")
# "[Ordinal/Name Pointer] Table" lines: "[   i] Name", i being the ordinal less the base.
actual=$(awk -v base="$base" '/\[Ordinal\/Name Pointer\] Table/ { t = 1; next }
    t && /^\t\[/ { gsub(/[\[\]]/, ""); printf "%d %s\n", $1 + base, $2; next }
    t && NF == 0 { t = 0 }' <<<"$dump")
if [ "$actual" != "$expected" ]; then
    echo "FAIL: KvHidRaw.dll exports differ"; diff <(echo "$expected") <(echo "$actual") || true; fail=1
fi
count=$((16#$(awk '/\[Name Pointer\/Ordinal\] Table/ { print $NF }' <<<"$dump")))
[ "$count" = 17 ] || { echo "FAIL: $count names exported"; fail=1; }

for dll in KvHidRaw KvCommon KvServiceControl; do
    imports=$($objdump -p "$bindir/$dll.dll" | awk '/DLL Name:/ { print tolower($3) }')
    if grep -E 'libstdc|libgcc|libwinpthread|mingw' <<<"$imports"; then
        echo "FAIL: $dll.dll needs a compiler runtime DLL"; fail=1
    fi
done
[ $fail = 0 ] && echo "DLL tables: 17 exports at ordinals 1-17 in order; no compiler runtime imported"
exit $fail
