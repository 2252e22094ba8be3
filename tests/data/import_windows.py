#!/usr/bin/env python3
"""Turns preparsed data that Windows built for real devices into this
project's expectation format (read by tests/parser/test_parser_corpus.cpp).

The source is the text dumps of Windows' preparsed data (*.pp_data, one per
top-level collection) and each device's report descriptor as captured
(*_real.rpt_desc) in the public hidapi repository, windows/test/data.

usage: import_windows.py GIT_DIR COMMIT OUT_DIR

Writes OUT_DIR/descriptors/windows-*.hex and OUT_DIR/expected/windows-*.txt,
one pair per device interface (an interface captured one collection at a time
is joined in the order of Windows' &colNN numbering), and prints the
MANIFEST.tsv lines.

The expectations are what the preparsed data itself says, as HidP_GetCaps,
HidP_GetButtonCaps / GetValueCaps and HidP_GetLinkCollectionNodes report it:
a public cap copies its internal cap's fields, its eight union slots
verbatim; button caps are the internal caps marked as buttons, value caps the
others, both in internal order (the caps from FirstCap up to LastCap, as the
dump lists them); the data-index count of a report type is one more than its
highest data index.
"""
import os
import re
import subprocess
import sys

TYPES = ('Input', 'Output', 'Feature')
SLOTS = (('Range.UsageMin', 'NotRange.Usage'), ('Range.UsageMax', 'NotRange.Reserved1'),
         ('Range.StringMin', 'NotRange.StringIndex'), ('Range.StringMax', 'NotRange.Reserved2'),
         ('Range.DesignatorMin', 'NotRange.DesignatorIndex'), ('Range.DesignatorMax', 'NotRange.Reserved3'),
         ('Range.DataIndexMin', 'NotRange.DataIndex'), ('Range.DataIndexMax', 'NotRange.Reserved4'))


def git_show(git_dir, commit, path):
    return subprocess.run(['git', '--git-dir', git_dir, 'show', '%s:%s' % (commit, path)], check=True,
                          capture_output=True, text=True).stdout


def hex_tokens(line):
    words = line.split()
    return words if words and all(re.fullmatch(r'[0-9A-Fa-f]{2}', w) for w in words) else []


def extract_descriptor(text):
    """The descriptor bytes of a capture, whichever tool's text it is."""
    for line in text.splitlines():
        if line.startswith('R: '):  # hid-decode: "R: <length> <bytes>"
            return [int(w, 16) for w in line.split()[2:]]
    # A raw dump comes first when a decoded listing follows it.
    head = re.split(r'(?im)^\W*parser output', text)[0]
    if 'DESCRIPTOR:' in head:  # mac-hid-dump
        head = head.split('DESCRIPTOR:')[1].split('(')[0]
    head = re.sub(r'Raw Descriptor \(hex\)\s+[0-9a-fA-F]{4}:', ' ', head)
    raw = [w for line in head.splitlines() for w in hex_tokens(line)]
    if raw:
        return [int(w, 16) for w in raw]
    listed = []  # "0x05, 0x01,  // Usage Page" listings
    for line in text.splitlines():
        if not line.lstrip().startswith('#'):
            listed += re.findall(r'0x([0-9A-Fa-f]{2})\b', line.split('//')[0])
    if listed:
        return [int(w, 16) for w in listed]
    items = []  # "Usage Page (Generic Desktop) 05 01" and "End Collection C0" listings
    for line in text.splitlines():
        words = line.rsplit(')', 1)[-1].split()
        tail = []
        while words and re.fullmatch(r'[0-9A-Fa-f]{2}', words[-1]):
            tail.insert(0, words.pop())
        items += tail
    return [int(w, 16) for w in items]


def top_level_collections(data):
    """(usage page, usage) of each top-level collection, in order."""
    tlcs, page, usage, depth, i = [], 0, 0, 0, 0
    while i < len(data):
        prefix = data[i]
        size = (0, 1, 2, 4)[prefix & 3]
        value = int.from_bytes(bytes(data[i + 1:i + 1 + size]), 'little')
        tag = prefix & 0xFC
        if tag == 0x04:
            page = value
        elif tag == 0x08 and not usage:
            usage = value
        elif tag == 0xA0:
            if depth == 0:
                tlcs.append((value >> 16 if size == 4 else page, usage & 0xFFFF))
            depth += 1
        elif tag == 0xC0:
            depth -= 1
        if tag in (0x80, 0x90, 0xA0, 0xB0, 0xC0):
            usage = 0
        i += 1 + size
    return tlcs


def parse_pp_data(text):
    """{'top': {...}, 'info': [{...}]*3, 'caps': {type: [cap]}, 'nodes': [{...}]}"""
    pp = {'top': {}, 'info': [{}, {}, {}], 'caps': {t: [] for t in TYPES}, 'nodes': []}
    section, caps = None, {}
    for line in text.splitlines():
        m = re.match(r'# (\w+) hid_pp_cap struct', line)
        if m:
            section = m[1]
            continue
        m = re.match(r'pp_data->(.*?)\s*=\s*(\S+)', line)
        if not m:
            continue
        key, value = m[1], int(m[2], 0)
        m = re.match(r'cap\[(\d+)\]->(?:pp_cap->)?(.*)', key)
        if m:
            index = int(m[1])
            if index not in caps:
                caps[index] = {}
                pp['caps'][section].append(caps[index])
            caps[index][m[2]] = value
            continue
        m = re.match(r'caps_info\[(\d)\]->(\w+)', key)
        if m:
            pp['info'][int(m[1])][m[2]] = value
            continue
        m = re.match(r'LinkCollectionArray\[(\d+)\]->(\w+)', key)
        if m:
            index = int(m[1])
            while len(pp['nodes']) <= index:
                pp['nodes'].append({})
            pp['nodes'][index][m[2]] = value
            continue
        pp['top'][key] = value
    return pp


def slots(cap):
    return [cap.get(range_name, cap.get(plain, 0)) for range_name, plain in SLOTS]


def cap_line(prefix, cap, is_value):
    s = slots(cap)
    string_max = s[3] if cap['IsStringRange'] else s[2]
    designator_max = s[5] if cap['IsDesignatorRange'] else s[4]
    words = [prefix, 'page', cap['UsagePage'], 'id', cap['ReportID'], 'alias', cap['IsAlias'], 'bits',
             cap['BitField'], 'lc', cap['LinkCollection'], 'lusage', cap['LinkUsage'], 'lpage',
             cap['LinkUsagePage'], 'range', cap['IsRange'], 'srange', cap['IsStringRange'], 'drange',
             cap['IsDesignatorRange'], 'abs', cap['IsAbsolute']]
    if is_value:
        words += ['null', cap['NotButton.HasNull'], 'size', cap['BitSize'], 'count', cap['ReportCount'], 'uexp',
                  cap['UnitsExp'], 'unit', cap['Units'], 'logical', cap['NotButton.LogicalMin'],
                  cap['NotButton.LogicalMax'], 'physical', cap['NotButton.PhysicalMin'],
                  cap['NotButton.PhysicalMax']]
    words += ['usage', s[0], s[1], 'string', s[2], string_max, 'designator', s[4], designator_max, 'index', s[6],
              s[7]]
    return ' '.join(str(w) for w in words)


def expectations(tlc, pp):
    lines = []
    top, info, nodes = pp['top'], pp['info'], pp['nodes']
    buttons = [[c for c in pp['caps'][t] if c['IsButtonCap']] for t in TYPES]
    values = [[c for c in pp['caps'][t] if not c['IsButtonCap']] for t in TYPES]
    indices = [max([slots(c)[7] + 1 for c in pp['caps'][t]], default=0) for t in TYPES]
    lengths = [info[t]['ReportByteLength'] for t in range(3)]
    lines.append('collection %d page %d usage %d input %d output %d feature %d' %
                 (tlc + 1, top['UsagePage'], top['Usage'], *lengths))
    lines.append('tlc %d getcaps SUCCESS' % tlc)
    lines.append('tlc %d caps usage %d page %d lengths %d %d %d nodes %d buttons %d %d %d values %d %d %d '
                 'indices %d %d %d' % (tlc, top['Usage'], top['UsagePage'], *lengths, len(nodes),
                                       *map(len, buttons), *map(len, values), *indices))
    lines.append('tlc %d nodes SUCCESS %d' % (tlc, len(nodes)))
    for i, n in enumerate(nodes):
        lines.append('tlc %d node %d usage %d page %d parent %d children %d next %d first %d type %d alias %d' %
                     (tlc, i, n['LinkUsage'], n['LinkUsagePage'], n['Parent'], n['NumberOfChildren'],
                      n['NextSibling'], n['FirstChild'], n['CollectionType'], n['IsAlias']))
    for t, name in enumerate(TYPES):
        if buttons[t]:
            lines.append('tlc %d %s getbuttoncaps SUCCESS %d' % (tlc, name, len(buttons[t])))
        for i, cap in enumerate(buttons[t]):
            lines.append('tlc %d %s %s' % (tlc, name, cap_line('button %d' % i, cap, False)))
        if values[t]:
            lines.append('tlc %d %s getvaluecaps SUCCESS %d' % (tlc, name, len(values[t])))
        for i, cap in enumerate(values[t]):
            lines.append('tlc %d %s %s' % (tlc, name, cap_line('value %d' % i, cap, True)))
    return lines


def interface_of(text):
    """(device interface, collection number or 0) from the dump's device path:
    Windows names one interface's collections ...&colNN, numbered from 1 in
    descriptor order."""
    path = re.search(r'dev->path\s*=\s*"(.*)"', text)[1].lower()
    m = re.match(r'(.*?)&col(\d+)#', path)
    return (m[1], int(m[2])) if m else (path, 0)


def interface_descriptor(captures):
    """An interface's whole descriptor: captured whole, or reassembled from its
    collections captured one by one, in collection-number order."""
    distinct = []
    for capture in sorted(captures, key=lambda c: c['col']):
        if capture['data'] not in distinct:
            distinct.append(capture['data'])
    return [b for data in distinct for b in data]


def main(git_dir, commit, out_dir):
    folder = 'windows/test/data/'
    names = subprocess.run(['git', '--git-dir', git_dir, 'ls-tree', '--name-only', commit, folder], check=True,
                           capture_output=True, text=True).stdout.split()
    interfaces = {}  # device interface -> [capture]
    for path in sorted(p for p in names if p.endswith('.pp_data')):
        real = path[:-len('.pp_data')] + '_real.rpt_desc'
        text = git_show(git_dir, commit, path)
        interface, col = interface_of(text)
        named = re.search(r'product_string\s*=\s*"([^"\n]+)"\n', text)
        interfaces.setdefault(interface, []).append({
            'name': os.path.basename(path)[:-len('.pp_data')], 'real': real, 'col': col, 'pp': parse_pp_data(text),
            'data': extract_descriptor(git_show(git_dir, commit, real)),
            'product': named[1] if named else 'HID device'})
    stems = {}
    for interface, captures in interfaces.items():
        vid, pid = captures[0]['name'].split('_')[:2]
        stems.setdefault('windows-%s-%s' % (vid.lower(), pid.lower()), []).append((interface, captures))
    for stem, groups in stems.items():
        for interface, captures in groups:
            number = re.search(r'&mi_(\d+)', interface)
            write(out_dir, stem if len(groups) == 1 else '%s-if%d' % (stem, int(number[1])), commit, captures)


def write(out_dir, stem, commit, captures):
    data = interface_descriptor(captures)
    tlcs = top_level_collections(data)
    vid, pid = captures[0]['name'].split('_')[:2]
    product = captures[0]['product']
    sources = ', '.join(c['real'] for c in sorted(captures, key=lambda c: c['col']))
    joined = len(set(tuple(c['data']) for c in captures)) > 1
    with open(os.path.join(out_dir, 'descriptors', stem + '.hex'), 'w') as out:
        out.write('# %s %s:%s, report descriptor %s (hidapi %s)\n' % (
            product, vid, pid, 'of one interface, its collections as captured one by one in Windows\' order'
            if joined else 'as captured', sources))
        for i in range(0, len(data), 16):
            out.write(' '.join('%02x' % b for b in data[i:i + 16]) + '\n')
    lines = ['# Expected results for descriptors/%s.hex from the preparsed data Windows built for it' % stem,
             '# (hidapi %s, commit %s); regenerate with tests/data/import_windows.py.' %
             (', '.join(c['name'] + '.pp_data' for c in captures), commit[:12]), 'status SUCCESS']
    for c in sorted(captures, key=lambda c: c['col']):
        pp = c['pp']
        key = (pp['top']['UsagePage'], pp['top']['Usage'])
        index = c['col'] - 1 if c['col'] else tlcs.index(key) if key in tlcs else -1
        if index < 0 or index >= len(tlcs) or tlcs[index] != key:
            sys.exit('%s: no top-level collection %04x:%04x in %s' % (c['name'], key[0], key[1], sources))
        lines += expectations(index, pp)
    with open(os.path.join(out_dir, 'expected', stem + '.txt'), 'w') as out:
        out.write('\n'.join(lines) + '\n')
    print('\t'.join((stem + '.hex', '%s %s:%s (%s)' % (product, vid, pid, ', '.join(c['name'] for c in captures)),
                     'libusb/hidapi', sources, 'git %s' % commit[:12])))


if __name__ == '__main__':
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
