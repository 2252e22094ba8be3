#!/usr/bin/env bash
# The main job: builds the library and runs the program that shows what it sees, on this machine's
# simulated PC (the native build has no real devices behind it yet).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
kv_install_packages
build=${KV_BUILD_DIR:-build}/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKV_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target KvHidExample
exec "$build/bin/KvHidExample" "$@"
