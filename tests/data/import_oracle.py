#!/usr/bin/env python3
"""Turns the reference dumper's output for a descriptor (the Wine side that
../shared/tools/hidp-oracle/compare.sh keeps, *.wine.cmp) into this project's
expectation format, read by tests/parser/test_parser_corpus.cpp.

usage: import_oracle.py WINE_CMP OUT.txt SOURCE [MAX_REPORTS]

Only descriptors on which our parser and the reference agree are imported
(scripts/oracle.sh says which); the expectations are then the reference's.
A descriptor whose only differences are of the usage-zero kind (Windows' own
preparsed data decides there) is imported from our side, NATIVE_CMP.
"""
import re
import sys

TYPES = ('Input', 'Output', 'Feature')


def num(text):
    return str(int(text, 0))


def caps_line(prefix, fields, is_value):
    f = fields
    rng = f['IsRange'] == '1'
    srng = f['IsStringRange'] == '1'
    drng = f['IsDesignatorRange'] == '1'
    umin = f['Range.UsageMin'] if rng else f['NotRange.Usage']
    umax = f['Range.UsageMax'] if rng else umin
    smin = f['Range.StringMin'] if srng else f['NotRange.StringIndex']
    smax = f['Range.StringMax'] if srng else smin
    dmin = f['Range.DesignatorMin'] if drng else f['NotRange.DesignatorIndex']
    dmax = f['Range.DesignatorMax'] if drng else dmin
    imin = f['Range.DataIndexMin'] if rng else f['NotRange.DataIndex']
    imax = f['Range.DataIndexMax'] if rng else imin
    words = [prefix, 'page', num(f['UsagePage']), 'id', f['ReportID'], 'alias', f['IsAlias'],
             'bits', num(f['BitField']), 'lc', f['LinkCollection'], 'lusage', num(f['LinkUsage']),
             'lpage', num(f['LinkUsagePage']), 'range', f['IsRange'], 'srange', f['IsStringRange'],
             'drange', f['IsDesignatorRange'], 'abs', f['IsAbsolute']]
    if is_value:
        words += ['null', f['HasNull'], 'size', f['BitSize'], 'count', f['ReportCount'],
                  'uexp', f['UnitsExp'], 'unit', num(f['Units']), 'logical', f['LogicalMin'], f['LogicalMax'],
                  'physical', f['PhysicalMin'], f['PhysicalMax']]
    words += ['usage', num(umin), num(umax), 'string', smin, smax, 'designator', dmin, dmax,
              'index', imin, imax]
    return ' '.join(words)


def convert(lines, max_reports):
    out = []
    groups = {}  # key prefix -> fields, in order of appearance
    order = []

    def flush():
        for key in order:
            out.append(groups[key][0](groups[key][1]))
        groups.clear()
        order.clear()

    def group(key, make):
        if key not in groups:
            groups[key] = (make, {})
            order.append(key)
        return groups[key][1]

    report_index = None
    for line in lines:
        key, _, value = line.partition('=')
        m = re.match(r'^(.*?\))=(.*)$', line)
        if m and '(' in key:
            key, value = m[1], m[2]
        if key == 'GetCollectionDescription':
            out.append('status ' + value)
            continue
        m = re.match(r'device\.CollectionDesc\[(\d+)\]\.ReportID$', key)
        if m:
            flush()
            r = re.match(r'(\d+) InputLength=(\d+) OutputLength=(\d+) FeatureLength=(\d+)', value)
            out.append('reportid %s collection %d input %s output %s feature %s' % (
                r[1], int(m[1]) + 1, r[2], r[3], r[4]))
            continue
        m = re.match(r'device\.(CollectionDescLength|ReportIDsLength)$', key)
        if m:
            out.append('%s %s' % ('collections' if m[1] == 'CollectionDescLength' else 'reportids', value))
            continue
        m = re.match(r'device\.CollectionDesc\[(\d+)\]\.(\w+)', key)
        if m:
            f = group('coll' + m[1], lambda f: 'collection %s page %s usage %s input %s output %s feature %s' % (
                f['CollectionNumber'], num(f['UsagePage']), num(f['Usage']), f['InputLength'], f['OutputLength'],
                f['FeatureLength']))
            f[m[2]] = value
            continue
        m = re.match(r'tlc\[(\d+)\]\.(.*)$', key)
        if not m:
            continue
        tlc, rest = m[1], m[2]
        if rest == 'GetCaps':
            flush()
            out.append('tlc %s getcaps %s' % (tlc, value))
            continue
        m = re.match(r'Caps\.(\w+)$', rest)
        if m:
            f = group('caps' + tlc, lambda f, t=tlc: (
                'tlc %s caps usage %s page %s lengths %s %s %s nodes %s buttons %s %s %s values %s %s %s '
                'indices %s %s %s' % (t, num(f['Usage']), num(f['UsagePage']), f['InputReportByteLength'],
                                      f['OutputReportByteLength'], f['FeatureReportByteLength'],
                                      f['NumberLinkCollectionNodes'], f['NumberInputButtonCaps'],
                                      f['NumberOutputButtonCaps'], f['NumberFeatureButtonCaps'],
                                      f['NumberInputValueCaps'], f['NumberOutputValueCaps'],
                                      f['NumberFeatureValueCaps'], f['NumberInputDataIndices'],
                                      f['NumberOutputDataIndices'], f['NumberFeatureDataIndices'])))
            f[m[1]] = value
            continue
        m = re.match(r'Node\[(\d+)\]\.(\w+)$', rest)
        if m:
            f = group('node%s.%s' % (tlc, m[1]), lambda f, t=tlc, i=m[1]: (
                'tlc %s node %s usage %s page %s parent %s children %s next %s first %s type %s alias %s' % (
                    t, i, num(f['LinkUsage']), num(f['LinkUsagePage']), f['Parent'], f['NumberOfChildren'],
                    f['NextSibling'], f['FirstChild'], f['CollectionType'], f['IsAlias'])))
            f[m[2]] = value
            continue
        m = re.match(r'(Input|Output|Feature)\.(ButtonCaps|ValueCaps)\[(\d+)\]\.([\w.]+)$', rest)
        if m:
            kind = 'button' if m[2] == 'ButtonCaps' else 'value'
            prefix = 'tlc %s %s %s %s' % (tlc, m[1], kind, m[3])
            f = group(prefix, lambda f, p=prefix, v=(kind == 'value'): caps_line(p, f, v))
            f[m[4]] = value
            continue
        flush()
        m = re.match(r'(Input|Output|Feature)\.Get(Button|Value)Caps$', rest)
        if m:
            status, _, length = value.partition(' len=')
            out.append('tlc %s %s get%scaps %s %s' % (tlc, m[1], m[2].lower(), status, length))
            continue
        m = re.match(r'(Input|Output|Feature)\.MaxUsageListLength\(page=(\w+)\)$', rest)
        if m:
            out.append('tlc %s %s maxusages %s %s' % (tlc, m[1], num(m[2]), value))
            continue
        m = re.match(r'(Input|Output|Feature)\.MaxDataListLength$', rest)
        if m:
            out.append('tlc %s %s maxdata %s' % (tlc, m[1], value))
            continue
        m = re.match(r'GetLinkCollectionNodes(\(len=0\))?$', rest)
        if m:
            status, _, length = value.partition(' len=')
            out.append('tlc %s nodes%s %s %s' % (tlc, '0' if m[1] else '', status, length))
            continue
        m = re.match(r'Report\[(\d+)\]\.(.*)$', rest)
        if not m:
            continue
        report_index = int(m[1])
        if report_index >= max_reports:
            continue
        call = m[2]
        if call == 'bytes':
            out.append('tlc %s report %s' % (tlc, value))
            continue
        m = re.match(r'(GetUsages|GetUsageValue|GetScaledUsageValue|GetUsageValueArray)'
                     r'\(page=(\w+),lc=(\d+)(?:,usage=(\w+))?\)$', call)
        if not m:
            continue
        name = {'GetUsages': 'usages', 'GetUsageValue': 'value', 'GetScaledUsageValue': 'scaled',
                'GetUsageValueArray': 'array'}[m[1]]
        target = 'page %s lc %s' % (num(m[2]), m[3]) + (' usage %s' % num(m[4]) if m[4] else '')
        status, _, result = value.partition(' ')
        if name == 'usages':
            n = re.match(r'n=(\d+) \[(.*)\]', result)
            result = ' '.join([n[1]] + [num(u) for u in n[2].split()])
        elif name == 'array':
            result = result.strip('[]')
        out.append(('tlc %s %s %s %s %s' % (tlc, name, target, status, result)).rstrip())
    flush()
    return out


def main():
    src, dst, source = sys.argv[1:4]
    max_reports = int(sys.argv[4]) if len(sys.argv) > 4 else 8
    lines = [l.rstrip('\n') for l in open(src) if l.strip() and not l.startswith('#')]
    body = convert(lines, max_reports)
    with open(dst, 'w') as f:
        if src.endswith('.native.cmp'):
            # Our side, for a descriptor on which the reference differs only
            # where Windows' own preparsed data overturned it.
            f.write('# Expected results for %s, from this parser: the reference parser (Wine 8.0,\n' % source)
            f.write('# ../shared/tools/hidp-oracle) gives the same except for the caps of data items with\n')
            f.write('# an explicit Usage (0), which Windows keeps (kind usage-zero in scripts/oracle.sh and\n')
            f.write('# docs/hid-parser.md); regenerate with tests/data/import_oracle.py from the .native.cmp.\n')
        else:
            f.write('# Expected results for %s, from the reference parser (Wine 8.0, through\n' % source)
            f.write('# ../shared/tools/hidp-oracle); regenerate with tests/data/import_oracle.py.\n')
        f.write('\n'.join(body) + '\n')


main()
