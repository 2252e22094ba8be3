#!/usr/bin/env bash
# Checks that the tests still catch the faults listed in scripts/mutations/*.tsv.
#
#   scripts/mutate.sh [list...]     lists by name ("lib") or path; all lists when none is given
#
# Each non-empty line not starting with '#' holds four TAB-separated fields:
#   file (repo-relative)  pattern (literal, must occur exactly once)  replacement (literal)  ctest-regex
# "\n" in the pattern and the replacement stands for a newline. For each entry the file is changed, the
# native build (ASan + UBSan, in build/mutate, kept between entries) is brought up to date, the tests that
# the regex names run, and the file is restored (also on Ctrl-C). An entry is
#   caught   when a named test fails,
#   missed   when every named test passes,
#   stale    when the pattern is not found exactly once or the regex names no test,
#   broken   when the changed source does not build (the entry needs fixing).
# The run stops before any change when a named test fails on the unchanged sources.
# A development tool; not part of scripts/test.sh. Ends with "N caught, M missed, S stale, B broken".
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${KV_MUTATE_BUILD_DIR:-$root/build/mutate}
jobs=2
log_dir=$build/mutate-logs

lists=()
if [ $# -eq 0 ]; then
    lists=(scripts/mutations/*.tsv)
else
    for name in "$@"; do
        if [ -f "$name" ]; then lists+=("$name"); else lists+=("scripts/mutations/$name.tsv"); fi
    done
fi
for list in "${lists[@]}"; do
    [ -f "$list" ] || { echo "no mutation list $list"; exit 2; }
done

# The file being changed and its original, restored whatever ends the run.
current_file=""
backup=$(mktemp)
restore() {
    if [ -n "$current_file" ]; then
        cat "$backup" >"$root/$current_file" # a new modification time, so the build sees the restore
        current_file=""
    fi
}
trap 'restore; rm -f "$backup"' EXIT
trap 'echo; echo "interrupted: $current_file restored"; exit 130' INT TERM

# Replaces the one occurrence of the pattern; exit status 3 when it occurs other than once.
apply_change() {
    python3 - "$1" "$2" "$3" <<'EOF'
import sys
path, pattern, replacement = sys.argv[1], sys.argv[2].replace('\\n', '\n'), sys.argv[3].replace('\\n', '\n')
text = open(path, encoding='utf-8').read()
count = text.count(pattern)
if count != 1:
    print(f"pattern occurs {count} times", end='')
    sys.exit(3)
open(path, 'w', encoding='utf-8').write(text.replace(pattern, replacement))
EOF
}

build_all() {
    cmake --build "$build" -j"$jobs" >"$1" 2>&1
}

echo "== build/mutate: native build, ASan + UBSan"
mkdir -p "$log_dir"
cmake -S "$root" -B "$build" -G Ninja -DKV_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS="-O1 -g" \
    >"$log_dir/configure.log" 2>&1 || { echo "configure failed: $log_dir/configure.log"; exit 2; }
build_all "$log_dir/baseline.log" || { echo "the unchanged sources do not build: $log_dir/baseline.log"; exit 2; }

run_tests() { # regex, log
    ASAN_OPTIONS=detect_leaks=1 ctest --test-dir "$build" -R "$1" -j"$jobs" --timeout 120 >"$2" 2>&1
}

# Every entry of the lists, as "list<US>file<US>pattern<US>replacement<US>regex" (US: the unit separator,
# so that an empty replacement stays a field of its own).
entries=()
for list in "${lists[@]}"; do
    while IFS= read -r line || [ -n "$line" ]; do
        case "$line" in '' | '#'*) continue ;; esac
        entries+=("$list"$'\x1f'"${line//$'\t'/$'\x1f'}")
    done <"$list"
done

# The named tests must pass on the unchanged sources, or a failure would prove nothing.
union=""
for entry in "${entries[@]}"; do
    IFS=$'\x1f' read -r _ _ _ _ regex <<<"$entry"
    [ -n "$regex" ] && union="${union:+$union|}($regex)"
done
if ! run_tests "$union" "$log_dir/unchanged.log"; then
    echo "the named tests fail on the unchanged sources: $log_dir/unchanged.log"
    grep -E '^\s+[0-9]+ - ' "$log_dir/unchanged.log"
    exit 2
fi

caught=0 missed=0 stale=0 broken=0
n=0
for entry in "${entries[@]}"; do
    IFS=$'\x1f' read -r list file pattern replacement regex <<<"$entry"
    n=$((n + 1))
    label="$(basename "$list" .tsv)#$n $file: $(printf '%s' "$pattern" | cut -c1-60)"
    if [ -z "$regex" ] || [ "$(ctest --test-dir "$build" -N -R "$regex" | grep -c '^ *Test *#')" = 0 ]; then
        echo "stale   $label (no test matches '$regex')"; stale=$((stale + 1)); continue
    fi
    if [ ! -f "$root/$file" ]; then
        echo "stale   $label (no such file)"; stale=$((stale + 1)); continue
    fi
    cp "$root/$file" "$backup"
    current_file=$file
    if ! why=$(apply_change "$root/$file" "$pattern" "$replacement"); then
        restore
        echo "stale   $label ($why)"; stale=$((stale + 1)); continue
    fi
    if ! build_all "$log_dir/$n.build.log"; then
        restore
        echo "broken  $label (does not build: $log_dir/$n.build.log)"; broken=$((broken + 1)); continue
    fi
    if run_tests "$regex" "$log_dir/$n.tests.log"; then
        echo "missed  $label"; missed=$((missed + 1))
    else
        echo "caught  $label ($(grep -c '\*\*\*' "$log_dir/$n.tests.log") failing)"
        caught=$((caught + 1))
    fi
    restore # the next entry's build (or the last one below) rebuilds the restored file
done
build_all "$log_dir/restored.log" || echo "warning: the restored sources do not build: $log_dir/restored.log"
echo "$caught caught, $missed missed, $stale stale, $broken broken"
[ "$missed" = 0 ] && [ "$stale" = 0 ] && [ "$broken" = 0 ]
