#!/usr/bin/env bash
# The main job: builds kvhidmon (what is missing or changed) and shows the live view of the demo scenario
# on the simulated PC; without a terminal, the device list and five seconds of JSON lines.
# Arguments go to kvhidmon (for example --seed 3).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
kv_install_packages
build=${KV_BUILD_DIR:-build}/release
log=$(mktemp)

# One progress line, rewritten in place from ninja's "[done/total] what" lines.
progress() {
    while IFS= read -r line; do
        if [[ $line == \[* ]]; then printf '\r\033[K%s' "${line:0:78}" >&2; fi
    done
}

echo "run.sh: building kvhidmon in $build (the first build takes a few minutes)" >&2
if cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKV_TESTS=OFF >"$log" 2>&1 &&
    cmake --build "$build" -j2 --target kvhidmon 2>&1 | tee -a "$log" | progress; then
    printf '\r\033[K' >&2
    rm -f "$log"
else
    printf '\n' >&2; cat "$log" >&2; rm -f "$log"
    echo "run.sh: the build failed" >&2
    exit 1
fi

monitor="$build/bin/kvhidmon"
if [ -t 0 ] && [ -t 1 ]; then
    exec "$monitor" watch --demo "$@"
fi
"$monitor" list --demo "$@"
exec "$monitor" watch --demo --json --duration 5 "$@"
