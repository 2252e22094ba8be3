#!/usr/bin/env bash
# winport's naming scheme (docs/design.md, "winport's naming scheme"), checked by clang-tidy's
# readability-identifier-naming with winport/.clang-tidy.
#
# Every winport source (winport/src, winport/machine) is checked with its own compile command, in parallel;
# diagnostics count only for declarations in those folders: winport/include holds Windows' own names
# (the API headers) and is left out of the header filter, so the API functions that winport defines keep
# the names their declarations there give them.
#
# Usage: scripts/check-naming.sh [SOURCE_DIR]   (default: this checkout). Configures a throwaway native
# build of SOURCE_DIR with clang (no compiling) for the compile commands. Ends with "naming: ok" or lists
# each name that breaks the scheme.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
root=$(cd "${1:-$here}" && pwd)
work=$(mktemp -d /tmp/kvhidraw-naming.XXXXXX)
trap 'rm -rf "$work"' EXIT

for tool in clang clang++ clang-tidy; do
    command -v "$tool" >/dev/null || { echo "naming: $tool is not installed"; exit 1; }
done
if ! cmake -S "$root" -B "$work/build" -G Ninja -DKV_TESTS=OFF -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ >"$work/configure.log" 2>&1; then
    cat "$work/configure.log"
    echo "naming: the native build does not configure"
    exit 1
fi

sources=$(find "$root/winport/src" "$root/winport/machine" -name '*.cpp' | sort)
if [ -z "$sources" ]; then
    echo "naming: no winport source found under $root/winport"
    exit 1
fi
# One clang-tidy per source; a source whose diagnostics could not be produced (no compile command, a
# compile error) fails the check as a misnamed declaration does.
printf '%s\n' $sources | xargs -P "$(nproc)" -I{} sh -c \
    'out=$(clang-tidy --quiet -p "$1" --header-filter="/winport/(src|machine)/" "$2" 2>&1); rc=$?
     printf "%s\n" "$out"
     if [ $rc -ne 0 ] && ! printf "%s" "$out" | grep -q "readability-identifier-naming"; then
         echo "== failed: $2"
     fi' sh "$work/build" {} >"$work/tidy.log"

grep -E '(error|warning): ' "$work/tidy.log" | sort -u >"$work/findings"
if grep -q '^== failed: ' "$work/tidy.log" || [ -s "$work/findings" ]; then
    cat "$work/findings"
    grep '^== failed: ' "$work/tidy.log" | sed 's/^== failed: /naming: clang-tidy failed on /'
    echo "naming: $(wc -l <"$work/findings") finding(s) in winport"
    exit 1
fi
echo "naming: ok ($(wc -l <<<"$sources") sources)"
