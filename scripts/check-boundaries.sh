#!/usr/bin/env bash
# The boundaries between the parts, checked two ways; fails when any arrow appears.
#
#   1. Must-fail compiles. A source compiled with exactly the flags of a library source (from the native
#      build's compile commands) must NOT compile when it includes the machine's control API, the
#      simulated service's control header or a winport internal; one compiled with a companion's
#      flags must not compile when it includes a library internal. A probe of allowed includes must
#      compile with the same flags, so a refusal means the header is out of sight, not a broken command.
#   2. A scan of every #include in src/, companions/, include/ and winport/: each is resolved as the
#      compiler would (next to the including file for quoted names, then against every include root of
#      the tree), so a relative path ("../../winport/machine/Machine.h") is caught whatever the flags.
#
# Usage: scripts/check-boundaries.sh [SOURCE_DIR]   (default: this checkout). Configures a throwaway
# native build of SOURCE_DIR (no compiling) for the compile commands. Ends with "boundaries: ok" or
# lists each arrow found.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
root=$(cd "${1:-$here}" && pwd)
work=$(mktemp -d /tmp/kvhidraw-boundaries.XXXXXX)
trap 'rm -rf "$work"' EXIT

if ! cmake -S "$root" -B "$work/build" -G Ninja -DKV_TESTS=OFF >"$work/configure.log" 2>&1; then
    cat "$work/configure.log"
    echo "boundaries: the native build does not configure"
    exit 1
fi

python3 - "$root" "$work" <<'EOF'
import json, os, re, shlex, subprocess, sys

root, work = sys.argv[1], sys.argv[2]
failures = []

# Every folder a target of the tree may have on its include path.
include_roots = [os.path.join(root, r) for r in ("include", "winport/include", "winport")]
for top in ("src", "companions"):
    for folder, _, _ in os.walk(os.path.join(root, top)):
        include_roots.append(folder)

def exists_in_tree(header):
    return any(os.path.isfile(os.path.join(r, header.strip('"<>'))) for r in include_roots)

# ---- 1. must-fail compiles ---------------------------------------------------------------------------
commands = {os.path.relpath(c["file"], root): c for c in json.load(open(f"{work}/build/compile_commands.json"))}

def compile_probe(reference, text, name):
    entry = commands[reference]
    args = shlex.split(entry["command"]) if "command" in entry else list(entry["arguments"])
    if os.path.basename(args[0]) == "ccache":
        args = args[1:]
    kept, skip = [], False
    for arg in args:
        if skip:
            skip = False
        elif arg in ("-o", "-c", "-MF", "-MT", "-MQ"):
            skip = True
        elif arg in ("-MD", "-MMD") or os.path.abspath(os.path.join(entry["directory"], arg)) == entry["file"]:
            pass
        else:
            kept.append(arg)
    probe = os.path.join(work, name + ".cpp")
    with open(probe, "w") as out:
        out.write(text)
    run = subprocess.run(kept + ["-fsyntax-only", probe], cwd=entry["directory"], capture_output=True, text=True)
    errors = [line for line in run.stderr.splitlines() if "error" in line]
    return run.returncode == 0, errors[0] if errors else ""

# (who, a source whose flags stand for it, includes it may use, includes it must not see)
arrows = [
    ("the library", "src/api/KvHidRaw.cpp",
     ['<windows.h>', '"KvHidRaw.h"', '"KvCommon.h"', '"KvServiceControl.h"', '"KvCheck.h"'],
     [('the control API', '"machine/Machine.h"'), ('the control API', '<machine/DesktopControl.h>'),
      ("the simulated service's control header", '"KvSimService.h"'),
      ('a winport internal', '"src/kernel32/HandleTable.h"'), ('a winport internal', '"src/devices/DeviceControl.h"')]),
    ("KvCommon", "companions/KvCommon/CLock.cpp",
     ['<windows.h>', '"KvCommon.h"'],
     [('a library internal', '"KvCheck.h"'), ('a library internal', '"KvGlobals.h"'),
      ('a library internal', '"KvHidDeviceMgmt.h"'), ('the control API', '"machine/Machine.h"')]),
    ("KvServiceControl", "companions/KvServiceControl/KvServiceState.cpp",
     ['<windows.h>', '"KvCommon.h"', '"KvServiceControl.h"', '"KvSimService.h"'],
     [('a library internal', '"KvCheck.h"'), ('a library internal', '"KvGlobals.h"'),
      ('a library internal', '"KvHidFilterMgmt.h"'), ('the control API', '"machine/Machine.h"')]),
]
for n, (who, reference, allowed, forbidden) in enumerate(arrows):
    if reference not in commands:
        failures.append(f"no compile command for {reference}")
        continue
    ok, error = compile_probe(reference, "".join(f"#include {h}\n" for h in allowed), f"allowed{n}")
    if not ok:
        failures.append(f"{who}: the allowed includes do not compile with its flags: {error}")
        continue
    for m, (what, header) in enumerate(forbidden):
        if not exists_in_tree(header):
            failures.append(f"the check names {header}, which is nowhere in the tree: update it")
            continue
        ok, error = compile_probe(reference, f"#include {header}\n", f"forbidden{n}_{m}")
        if ok:
            failures.append(f"{who} can include {what}: #include {header} compiles with its flags")
        else:
            print(f"ok: {who} cannot include {what} ({header})")

# ---- 2. the scan of every #include -----------------------------------------------------------------
def area(path):
    rel = os.path.relpath(path, root)
    parts = rel.split(os.sep)
    if parts[0] == "src":
        return "src/platform" if parts[:2] == ["src", "platform"] else "library"
    if parts[0] == "companions" and len(parts) > 2:
        return "companions/" + parts[1]
    if parts[0] == "winport" and len(parts) > 1:
        return {"src": "winport/src", "include": "winport/include", "machine": "winport/machine"}.get(parts[1], "other")
    if parts[0] == "include":
        return "include"
    return "other"

# Which areas each area may include from.
allowed_areas = {
    "library": {"library", "src/platform", "include", "winport/include"},
    "src/platform": {"src/platform", "include", "winport/include"},
    "include": {"include", "winport/include"},
    "winport/include": {"winport/include"},
    "winport/src": {"winport/src", "winport/include"},
    "winport/machine": {"winport/machine", "winport/src", "winport/include"},
}
def allowed_for(who):
    if who.startswith("companions/"):
        return {who, "src/platform", "include", "winport/include"}
    return allowed_areas[who]

scanned = ["src", "companions", "include", "winport/src", "winport/include", "winport/machine"]
sources = []
for top in scanned:
    for folder, _, names in os.walk(os.path.join(root, top)):
        sources += [os.path.join(folder, n) for n in names if n.endswith((".h", ".hpp", ".c", ".cpp"))]

include_line = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
for source in sorted(sources):
    who = area(source)
    for number, line in enumerate(open(source, errors="replace"), 1):
        match = include_line.match(line)
        if not match:
            continue
        quote, name = match.groups()
        relative = os.path.normpath(os.path.join(os.path.dirname(source), name)) if quote == '"' else None
        if relative and os.path.isfile(relative):
            found = [relative]
        else:
            found = [os.path.normpath(os.path.join(r, name)) for r in include_roots]
            found = [f for f in found if os.path.isfile(f)]
        if found and not any(area(f) in allowed_for(who) for f in found):
            target = os.path.relpath(found[0], root)
            failures.append(f"{os.path.relpath(source, root)}:{number}: {who} includes {target} ({area(found[0])})")
print(f"scanned {len(sources)} files")

for failure in failures:
    print("FAILED: " + failure)
print("boundaries: " + ("ok" if not failures else f"{len(failures)} problems"))
sys.exit(1 if failures else 0)
EOF
