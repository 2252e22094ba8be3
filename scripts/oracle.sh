#!/bin/sh
# Development check of the HID parser against the reference dumper in
# ../shared/tools/hidp-oracle (Wine's parser under wine64). Not part of
# ./scripts/test.sh. Skips cleanly when ../shared is not there.
#
# usage: scripts/oracle.sh [-k DIR] [descriptor.hex | dir]...
#   default inputs: ../shared/hid-descriptors and the oracle's samples/
#
# Every descriptor that differs is printed with the kind of known Wine
# deviation each differing line falls under (docs/hid-parser.md explains each
# kind and its evidence); a line under no kind is printed as UNEXPLAINED and
# makes the script exit 1.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
shared=$root/../shared
oracle=$shared/tools/hidp-oracle
if [ ! -x "$oracle/compare.sh" ]; then
    echo "oracle.sh: $oracle not found; skipping the comparison with the reference parser"
    exit 0
fi
keep=
if [ "${1:-}" = "-k" ]; then
    keep=$2
    shift 2
fi
out=${keep:-$(mktemp -d /tmp/kv-oracle.XXXXXX)}
mkdir -p "$out"
[ $# -gt 0 ] || set -- "$shared/hid-descriptors" "$oracle/samples"

# The native dumper, built straight from the parser's sources (no sanitizers:
# the corpus run makes thousands of calls).
OUT=$out/hidp_dump "$oracle/build-native.sh" "$root/winport/include" -- \
    -I"$root/winport/src/hidparse" "$root"/winport/src/hidparse/*.cpp >/dev/null
"$oracle/compare.sh" -j 2 -k "$out/compare" "$out/hidp_dump" "$@" >"$out/verdicts.txt" 2>&1 || true
tail -n 3 "$out/verdicts.txt"

python3 - "$out/compare" "$out/verdicts.txt" <<'PY'
import glob, os, re, sys

cmp_dir, verdicts = sys.argv[1], sys.argv[2]

def caps_of(lines):
    """Input caps per tlc from a dump: {tlc: {'buttons': [...], 'values': [...]}}."""
    caps = {}
    pat = re.compile(r'^#? ?tlc\[(\d+)\]\.Input\.(ButtonCaps|ValueCaps)\[(\d+)\]\.([\w.]+)=(.*)$')
    for line in lines:
        m = pat.match(line)
        if not m:
            continue
        tlc, kind, idx, field, value = int(m[1]), m[2], int(m[3]), m[4], m[5]
        entry = caps.setdefault(tlc, {}).setdefault(kind, {}).setdefault(idx, {})
        field = field.split('.')[-1]
        try:
            entry[field] = int(value, 0)
        except ValueError:
            entry[field] = value
    return caps

def names(cap, page, lc, usage):
    if cap.get('UsagePage') != page or (lc and cap.get('LinkCollection') != lc):
        return False
    lo = cap.get('UsageMin', cap.get('Usage'))
    hi = cap.get('UsageMax', lo) if cap.get('IsRange') else lo
    return lo <= usage <= hi

def kinds_for(key, flags, caps):
    """The deviation kinds that can explain a differing line with this key."""
    kinds = []
    m = re.match(r'tlc\[(\d+)\]\.[^.]*\.(GetUsages|GetUsageValue|GetScaledUsageValue|GetUsageValueArray)'
                 r'\(page=(0x[0-9a-f]+),lc=(\d+)(?:,usage=(0x[0-9a-f]+))?\)', key)
    if m:
        tlc, call, page, lc = int(m[1]), m[2], int(m[3], 16), int(m[4])
        tcaps = caps.get(tlc, {})
        if call == 'GetUsages':
            for cap in tcaps.get('ButtonCaps', {}).values():
                if cap.get('UsagePage') != page or (lc and cap.get('LinkCollection') != lc):
                    continue
                if not cap.get('BitField', 0) & 2:
                    kinds.append('array')
                count = cap.get('ReportCount', 0)
                if cap.get('BitField', 0) & 2 and cap.get('IsRange') and cap['UsageMax'] - cap['UsageMin'] + 1 > count:
                    kinds.append('range-beyond-count')
        else:
            usage = int(m[5], 16)
            for cap in tcaps.get('ValueCaps', {}).values():
                if not names(cap, page, lc, usage):
                    continue
                if not cap.get('IsRange') and cap.get('ReportCount', 0) > 1 and not cap.get('BitField', 0) & 1:
                    kinds.append('value-array')
                if cap.get('IsRange') and 'range-beyond-count' in flags:
                    kinds.append('range-beyond-count')
    if re.search(r'(UsagePage|LinkUsagePage)$', key) and 'ext-usage-collection' in flags:
        kinds.append('ext-usage-collection')
    if re.search(r'MaxUsageListLength', key) and 'range-beyond-count' in flags:
        kinds.append('range-beyond-count')
    return kinds

def usages_beyond_count(path):
    """Whether a variable main item names more single usages than its Report Count."""
    text = re.sub(r'(#|//).*', '', open(path).read())
    data = bytes(int(t, 16) for t in re.findall(r'(?:0x)?([0-9a-fA-F]{2})', text))
    i, count, usages, stack = 0, 0, 0, []
    while i < len(data):
        prefix = data[i]
        if prefix == 0xFE:
            i += 3 + (data[i + 1] if i + 1 < len(data) else 0)
            continue
        size = (0, 1, 2, 4)[prefix & 3]
        value = int.from_bytes(data[i + 1:i + 1 + size], 'little')
        tag = prefix & 0xFC
        if tag == 0x94:
            count = value
        elif tag == 0xA4:
            stack.append(count)
        elif tag == 0xB4 and stack:
            count = stack.pop()
        elif tag == 0x08:
            usages += 1
        elif tag in (0x18, 0x28):
            usages = 0
        elif tag in (0x80, 0x90, 0xB0):
            if value & 2 and count and usages > count:
                return True
            usages = 0
        elif tag in (0xA0, 0xC0):
            usages = 0
        i += 1 + size
    return False

def split(line):
    m = re.match(r'^(.*?\))=(.*)$', line) if '(' in line.split('=')[0] else None
    if m:
        return m[1], m[2]
    key, _, value = line.partition('=')
    return key, value

# Descriptor flags (hidclass.py) under which Windows' preparsed data decides
# which caps exist differently from Wine: an explicit Usage (0) on a data item
# is a usage, a constant array item is padding whatever usage it carries.
WINDOWS_VISIBILITY = {'usage-zero': 'usage-zero', 'const-array-usage': 'constant-array'}

def visibility_against_kinds(native, wine, kinds):
    """Cap counts that move the wrong way for the kinds: usage-zero only adds
    caps and data indices to Wine's, constant-array only removes them."""
    counts = re.compile(r'^tlc\[\d+\]\.Caps\.Number(Input|Output|Feature)(ButtonCaps|ValueCaps|DataIndices)=(\d+)$')
    ours = {m[0].split('=')[0]: int(m[3]) for m in map(counts.match, native) if m}
    theirs = {m[0].split('=')[0]: int(m[3]) for m in map(counts.match, wine) if m}
    wrong = []
    for key in sorted(ours.keys() & theirs.keys()):
        more, fewer = ours[key] > theirs[key], ours[key] < theirs[key]
        if (more and 'usage-zero' not in kinds) or (fewer and 'constant-array' not in kinds):
            wrong.append('%s: ours %d, wine %d' % (key, ours[key], theirs[key]))
    return wrong

unexplained_total = 0
descriptors = 0
by_kind = {}
for verdict_line in open(verdicts):
    m = re.match(r'^(differs|failed)\s+(\S+)\s+(\S+)', verdict_line)
    if not m:
        continue
    status, flags, path = m[1], set(m[2].split(',')), m[3]
    stem = os.path.splitext(os.path.basename(path))[0]
    found = glob.glob(os.path.join(cmp_dir, '*-' + stem + '.native.cmp'))
    if not found:
        continue
    native = open(found[0]).read().splitlines()
    wine = open(found[0].replace('.native.cmp', '.wine.cmp')).read().splitlines()
    caps = caps_of(open(found[0][:-4]).read().splitlines())
    descriptors += 1
    kinds, unexplained = set(), []
    if flags & {'empty', 'unterminated'} and native[:1] != wine[:1] or \
            any(l.startswith('GetCollectionDescription') for l in set(native) ^ set(wine)) and \
            flags & {'empty', 'unterminated'}:
        kinds |= flags & {'empty', 'unterminated'}
    elif status == 'differs' and usages_beyond_count(path):
        kinds.add('usages-beyond-count')
    elif status == 'differs' and flags & set(WINDOWS_VISIBILITY):
        # Caps that Windows shows and Wine hides, or the reverse: counts and
        # data indices shift from the first such cap on.
        kinds |= {WINDOWS_VISIBILITY[flag] for flag in flags & set(WINDOWS_VISIBILITY)}
        unexplained += visibility_against_kinds(native, wine, kinds)
    elif status == 'failed' or len(native) != len(wine):
        unexplained.append('outputs differ in length or a side failed')
    else:
        for n, w in zip(native, wine):
            if n == w:
                continue
            key, _ = split(n)
            if key != split(w)[0]:
                unexplained.append('lines out of step: ' + n)
                break
            line_kinds = kinds_for(key, flags, caps)
            if line_kinds:
                kinds.update(line_kinds)
            else:
                unexplained.append('wine: %s | native: %s' % (w, n))
    for kind in kinds:
        by_kind[kind] = by_kind.get(kind, 0) + 1
    print('%-11s %s  [%s]' % ('UNEXPLAINED' if unexplained else 'explained', path, ', '.join(sorted(kinds))))
    for line in unexplained[:5]:
        print('    ' + line)
    unexplained_total += bool(unexplained)

print('differing descriptors: %d, unexplained: %d; by kind: %s' %
      (descriptors, unexplained_total, ', '.join('%s %d' % kv for kv in sorted(by_kind.items()))))
sys.exit(1 if unexplained_total else 0)
PY
