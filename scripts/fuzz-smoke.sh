#!/bin/sh
# Builds the HID parser's fuzz target (clang, libFuzzer, ASan, UBSan) and runs
# it for a while from a seed corpus made of the descriptors in tests/data.
# usage: scripts/fuzz-smoke.sh [seconds]     (default 60)
# Environment: KV_FUZZ_BUILD  build directory (default build-fuzz)
#              KV_FUZZ_CORPUS keep the corpus there (default: a temporary one)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=${KV_FUZZ_BUILD:-$root/build-fuzz}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DKV_FUZZ=ON -DKV_TESTS=OFF >/dev/null
ninja -C "$build" -j2 fuzz_hidparse

corpus=${KV_FUZZ_CORPUS:-}
cleanup=
if [ -z "$corpus" ]; then
    corpus=$(mktemp -d /tmp/kv-fuzz-corpus.XXXXXX)
    cleanup=$corpus
fi
mkdir -p "$corpus"
# Seeds: [length, 2 bytes LE][descriptor][a zero report and an all-ones report].
python3 - "$root/tests/data/descriptors" "$corpus" <<'PY'
import os, re, sys
src, dst = sys.argv[1:3]
for name in sorted(os.listdir(src)):
    text = re.sub(r'#.*', '', open(os.path.join(src, name)).read())
    desc = bytes(int(t, 16) for t in text.split())
    for fill in (0x00, 0xFF):
        seed = len(desc).to_bytes(2, 'little') + desc + bytes([fill]) * 64
        with open(os.path.join(dst, '%s.%02x' % (name, fill)), 'wb') as f:
            f.write(seed)
PY
# Findings (crash-*, timeout-*, leak-*) go to the build directory.
log=$build/fuzz-smoke.log
status=0
"$build/bin/fuzz_hidparse" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/" -print_final_stats=1 "$corpus" >"$log" 2>&1 || status=$?
tail -n 12 "$log"
[ -z "$cleanup" ] || rm -rf "$cleanup"
[ $status -eq 0 ] || echo "fuzz-smoke: the fuzz target reported a finding (exit $status); see $log" >&2
exit $status
