#include "DescriptorParser.h"

#include <algorithm>

namespace winport::hidparse
{
namespace
{

// Item types (bits 2-3 of an item's prefix).
constexpr int kMain = 0;
constexpr int kGlobal = 1;
constexpr int kLocal = 2;

// Main-item tags.
constexpr int kInput = 0x8;
constexpr int kOutput = 0x9;
constexpr int kCollection = 0xA;
constexpr int kFeature = 0xB;
constexpr int kEndCollection = 0xC;

// Global-item tags.
constexpr int kUsagePage = 0x0;
constexpr int kLogicalMin = 0x1;
constexpr int kLogicalMax = 0x2;
constexpr int kPhysicalMin = 0x3;
constexpr int kPhysicalMax = 0x4;
constexpr int kUnitExponent = 0x5;
constexpr int kUnit = 0x6;
constexpr int kReportSize = 0x7;
constexpr int kReportId = 0x8;
constexpr int kReportCount = 0x9;
constexpr int kPush = 0xA;
constexpr int kPop = 0xB;

// Local-item tags.
constexpr int kUsage = 0x0;
constexpr int kUsageMin = 0x1;
constexpr int kUsageMax = 0x2;
constexpr int kDesignatorIndex = 0x3;
constexpr int kDesignatorMin = 0x4;
constexpr int kDesignatorMax = 0x5;
constexpr int kStringIndex = 0x7;
constexpr int kStringMin = 0x8;
constexpr int kStringMax = 0x9;
constexpr int kDelimiter = 0xA;

// Main-item data bits.
constexpr uint32_t kVariable = 0x02;
constexpr uint32_t kRelative = 0x04;
constexpr uint32_t kNullState = 0x40;

constexpr uint8_t kLongItemPrefix = 0xFE;

uint32_t UsageCount(uint16_t min, uint16_t max)
{
    return max >= min ? uint32_t(max) - min + 1 : 0;
}

} // namespace

DescriptorParser::DescriptorParser(const uint8_t* descriptor, size_t length)
    : m_descriptor(descriptor), m_length(descriptor ? length : 0)
{
}

bool DescriptorParser::Parse()
{
    while (m_offset < m_length)
    {
        const uint8_t prefix = m_descriptor[m_offset];
        if (prefix == kLongItemPrefix)
            return Fail(ParseError::LongItem);
        const int size = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (m_length - m_offset - 1 < static_cast<size_t>(size))
            return Fail(ParseError::TruncatedItem);
        uint32_t value = 0;
        for (int i = 0; i < size; ++i)
            value |= static_cast<uint32_t>(m_descriptor[m_offset + 1 + i]) << (8 * i);
        int32_t signedValue = static_cast<int32_t>(value);
        if (size == 1)
            signedValue = static_cast<int8_t>(value);
        else if (size == 2)
            signedValue = static_cast<int16_t>(value);
        if (!Item(prefix, value, signedValue))
            return false;
        m_offset += 1 + size;
    }
    if (!m_links.empty())
        return Fail(ParseError::Unterminated);
    if (m_collections.empty())
        return Fail(ParseError::NoCollection);
    return true;
}

bool DescriptorParser::Fail(ParseError error)
{
    m_error = error;
    m_errorOffset = static_cast<uint32_t>(m_offset);
    return false;
}

bool DescriptorParser::Item(uint8_t prefix, uint32_t value, int32_t signedValue)
{
    const int tag = prefix >> 4;
    const int size = (prefix & 3) == 3 ? 4 : (prefix & 3);
    switch ((prefix >> 2) & 3)
    {
        case kMain:
            return MainItem(tag, value);
        case kGlobal:
        {
            bool ok = true;
            GlobalItem(tag, value, signedValue, ok);
            return ok;
        }
        case kLocal:
            return LocalItem(tag, value, size);
        default:
            return true; // reserved item types carry nothing we use
    }
}

bool DescriptorParser::MainItem(int tag, uint32_t value)
{
    switch (tag)
    {
        case kInput:
            return AddFields(HidP_Input, value);
        case kOutput:
            return AddFields(HidP_Output, value);
        case kFeature:
            return AddFields(HidP_Feature, value);
        case kCollection:
            return OpenCollection(value);
        case kEndCollection:
            return CloseCollection();
        default:
            return true;
    }
}

void DescriptorParser::GlobalItem(int tag, uint32_t value, int32_t signedValue, bool& ok)
{
    Globals& g = m_globals;
    switch (tag)
    {
        case kUsagePage:
            g.usagePage = static_cast<uint16_t>(value);
            break;
        case kLogicalMin:
            g.logicalMin = signedValue;
            break;
        case kLogicalMax:
            g.logicalMax = signedValue;
            break;
        case kPhysicalMin:
            g.physicalMin = signedValue;
            break;
        case kPhysicalMax:
            g.physicalMax = signedValue;
            break;
        case kUnitExponent:
            g.unitsExp = static_cast<uint32_t>(signedValue);
            break;
        case kUnit:
            g.units = static_cast<uint32_t>(signedValue);
            break;
        case kReportSize:
            g.reportSize = static_cast<uint16_t>(value);
            break;
        case kReportId:
            g.reportId = static_cast<uint8_t>(value);
            break;
        case kReportCount:
            g.reportCount = static_cast<uint16_t>(value);
            break;
        case kPush:
            if (m_globalStack.size() == ParserLimits::kMaxGlobalDepth)
                ok = Fail(ParseError::PushOverflow);
            else
                m_globalStack.push_back(g);
            break;
        case kPop:
            if (m_globalStack.empty())
            {
                ok = Fail(ParseError::PopUnderflow);
                break;
            }
            g = m_globalStack.back();
            m_globalStack.pop_back();
            break;
        default:
            break;
    }
}

bool DescriptorParser::LocalItem(int tag, uint32_t value, int size)
{
    Locals& l = m_locals;
    switch (tag)
    {
        case kUsage:
            return AddUsage(value, size);
        case kUsageMin:
            SetUsageBound(value, size, true);
            return true;
        case kUsageMax:
            SetUsageBound(value, size, false);
            return true;
        case kDesignatorIndex:
            l.designatorMin = l.designatorMax = static_cast<uint16_t>(value);
            l.designatorRange = false;
            return true;
        case kDesignatorMin:
            l.designatorMin = static_cast<uint16_t>(value);
            l.designatorRange = true;
            return true;
        case kDesignatorMax:
            l.designatorMax = static_cast<uint16_t>(value);
            l.designatorRange = true;
            return true;
        case kStringIndex:
            l.stringMin = l.stringMax = static_cast<uint16_t>(value);
            l.stringRange = false;
            return true;
        case kStringMin:
            l.stringMin = static_cast<uint16_t>(value);
            l.stringRange = true;
            return true;
        case kStringMax:
            l.stringMax = static_cast<uint16_t>(value);
            l.stringRange = true;
            return true;
        case kDelimiter:
            // Sets do not nest: open only when closed, close only when open.
            if ((value == 1) == (l.delimiterDepth == 1) || value > 1)
                return Fail(ParseError::DelimiterMismatch);
            l.delimiterDepth = static_cast<int>(value);
            if (value == 1)
                ++l.aliasSets;
            return true;
        default:
            return true;
    }
}

// A 4-byte usage carries its own page in the high half; a shorter one takes
// the Usage Page in force.
bool DescriptorParser::AddUsage(uint32_t value, int size)
{
    Locals& l = m_locals;
    const bool extended = size == 4 && (value >> 16) != 0;
    const uint16_t page = extended ? static_cast<uint16_t>(value >> 16) : m_globals.usagePage;
    const uint16_t usage = static_cast<uint16_t>(value);
    if (l.isRange)
        l.usages.clear(); // a usage after a range starts a new list
    l.isRange = false;
    if (l.usages.size() == ParserLimits::kMaxUsages)
        return Fail(ParseError::TooManyUsages);
    const uint16_t aliasSet = l.delimiterDepth ? l.aliasSets : 0;
    l.usages.push_back({page, usage, usage, extended, aliasSet});
    return true;
}

// Usage Minimum or Maximum replaces any usage list with one range; the other
// bound stays 0 until it is given.
void DescriptorParser::SetUsageBound(uint32_t value, int size, bool isMin)
{
    Locals& l = m_locals;
    const bool extended = size == 4 && (value >> 16) != 0;
    const uint16_t page = extended ? static_cast<uint16_t>(value >> 16) : m_globals.usagePage;
    Usage range{page, 0, 0, extended, 0};
    if (l.isRange && !l.usages.empty())
        range = l.usages[0];
    range.page = page;
    range.extended = extended;
    (isMin ? range.min : range.max) = static_cast<uint16_t>(value);
    l.usages.assign(1, range);
    l.isRange = true;
}

void DescriptorParser::ResetLocals()
{
    m_locals = Locals();
}

bool DescriptorParser::OpenCollection(uint32_t value)
{
    if (m_links.size() == ParserLimits::kMaxCollectionDepth)
        return Fail(ParseError::CollectionTooDeep);
    if (m_links.empty())
    {
        if (m_collections.size() == ParserLimits::kMaxCollections)
            return Fail(ParseError::TooManyCollections);
        m_collections.emplace_back();
        m_current = &m_collections.back();
        for (auto& offsets : m_bitOffset)
            offsets.fill(0);
        m_dataCount.fill(0);
    }
    std::vector<Node>& nodes = m_current->nodes;
    if (nodes.size() == ParserLimits::kMaxNodes)
        return Fail(ParseError::TooManyNodes);

    const std::vector<Usage>& usages = m_locals.usages;
    Node node{};
    node.usage = usages.empty() ? 0 : usages[0].min;
    node.usagePage = !usages.empty() && usages[0].extended ? usages[0].page : m_globals.usagePage;
    node.collectionType = static_cast<uint8_t>(value);
    const uint16_t index = static_cast<uint16_t>(nodes.size());
    if (!m_links.empty())
    {
        Node& parent = nodes[m_links.back().index];
        node.parent = m_links.back().index;
        node.nextSibling = parent.firstChild; // children are chained newest first
        parent.firstChild = index;
        ++parent.childCount;
    }
    else
    {
        m_current->usage = node.usage;
        m_current->usagePage = node.usagePage;
    }
    nodes.push_back(node);
    m_links.push_back({index, node.usage, node.usagePage});
    ResetLocals();
    return true;
}

bool DescriptorParser::CloseCollection()
{
    if (m_links.empty())
        return Fail(ParseError::EndCollectionUnderflow);
    m_links.pop_back();
    ResetLocals();
    return true;
}

Cap DescriptorParser::BaseCap(uint32_t value) const
{
    const Globals& g = m_globals;
    const Locals& l = m_locals;
    const Link& link = m_links.back();
    Cap cap{};
    cap.reportId = g.reportId;
    cap.bitField = static_cast<uint16_t>(value);
    cap.bitSize = g.reportSize;
    cap.reportCount = g.reportCount;
    cap.logicalMin = g.logicalMin;
    cap.logicalMax = g.logicalMax;
    cap.physicalMin = g.physicalMin;
    cap.physicalMax = g.physicalMax;
    cap.units = g.units;
    cap.unitsExp = g.unitsExp;
    cap.stringMin = l.stringMin;
    cap.stringMax = l.stringMax;
    cap.designatorMin = l.designatorMin;
    cap.designatorMax = l.designatorMax;
    cap.linkCollection = link.index;
    cap.linkUsage = link.usage;
    cap.linkUsagePage = link.usagePage;
    uint16_t flags = 0;
    if (l.isRange)
        flags |= kCapRange;
    if (l.stringRange)
        flags |= kCapStringRange;
    if (l.designatorRange)
        flags |= kCapDesignatorRange;
    if (!(value & kRelative))
        flags |= kCapAbsolute;
    if (value & kNullState)
        flags |= kCapHasNull;
    if (!(value & kVariable))
        flags |= kCapArray | kCapButton;
    if (g.reportSize == 1)
        flags |= kCapButton;
    cap.flags = flags;
    return cap;
}

bool DescriptorParser::AddFields(HIDP_REPORT_TYPE type, uint32_t value)
{
    if (m_links.empty())
    {
        ResetLocals(); // fields outside any collection belong to no collection
        return true;
    }
    const Globals& g = m_globals;
    uint32_t& bits = m_bitOffset[type][g.reportId];
    if (bits == 0)
        bits = 8; // the report-ID byte, present even without report IDs
    const uint64_t end = bits + static_cast<uint64_t>(g.reportSize) * g.reportCount;
    if (end > ParserLimits::kMaxReportBits)
        return Fail(ParseError::ReportTooLong);
    const uint32_t start = bits;
    bits = static_cast<uint32_t>(end);
    uint16_t& length = m_current->reportLength[type];
    length = std::max<uint16_t>(length, static_cast<uint16_t>((end + 7) / 8));
    if (g.reportCount == 0)
    {
        ResetLocals();
        return true;
    }

    std::vector<Usage> usages = m_locals.usages;
    const bool named = !usages.empty();
    if (!named)
        usages.push_back({0, 0, 0, false, 0});
    if (m_current->caps[type].size() + usages.size() > ParserLimits::kMaxCaps)
        return Fail(ParseError::TooManyCaps);
    const Cap base = BaseCap(value);
    if (base.Has(kCapArray))
        AddArrayCaps(type, base, usages, start, named);
    else
        AddVariableCaps(type, base, usages, start, named);
    ResetLocals();
    return true;
}

// Fields are laid out first usage first, one per usage, the last usage taking
// all remaining fields; usages beyond the Report Count are discarded. The
// usages of a delimiter set are aliases of one control: they share its field
// and data index, and all but the last of them are marked IsAlias. The caps
// come out last usage first.
void DescriptorParser::AddVariableCaps(HIDP_REPORT_TYPE type, const Cap& base, std::vector<Usage>& usages,
                                       uint32_t start, bool named)
{
    std::vector<std::pair<size_t, size_t>> slots; // [first, end) of usages per control
    for (size_t i = 0; i < usages.size(); ++i)
    {
        const bool sameSet = i > 0 && usages[i].aliasSet && usages[i].aliasSet == usages[i - 1].aliasSet;
        if (sameSet)
            slots.back().second = i + 1;
        else
            slots.push_back({i, i + 1});
    }
    const size_t fields = base.reportCount;
    if (slots.size() > fields)
        slots.resize(fields);
    const size_t n = slots.size();
    for (size_t i = 0; i < n; ++i)
    {
        const size_t k = n - 1 - i;
        Cap cap = base;
        cap.reportCount = static_cast<uint16_t>(k == n - 1 ? fields - k : 1);
        cap.startBit = start + static_cast<uint32_t>(k) * base.bitSize;
        for (size_t a = slots[k].first; a < slots[k].second; ++a)
        {
            const Usage& u = usages[a];
            Cap alias = cap;
            alias.usagePage = u.page;
            alias.usageMin = u.min;
            alias.usageMax = u.max;
            uint32_t readable = alias.reportCount;
            if (base.Has(kCapRange))
                readable = std::min<uint32_t>(readable, UsageCount(u.min, u.max));
            alias.fieldCount = static_cast<uint16_t>(readable);
            if (IsPublic(base, named, u))
                alias.flags |= kCapPublic;
            if (a + 1 < slots[k].second)
                alias.flags |= kCapAlias;
            if (a == slots[k].first)
                AssignDataIndex(type, alias);
            else
                alias.dataIndexMin = alias.dataIndexMax = m_current->caps[type].back().dataIndexMin;
            m_current->caps[type].push_back(alias);
        }
    }
}

// All usages of an array share its fields; a field holds an index into the
// item's usage list, counted from Logical Minimum. The caps come out last
// usage first, the data indices first usage first.
void DescriptorParser::AddArrayCaps(HIDP_REPORT_TYPE type, const Cap& base, const std::vector<Usage>& usages,
                                    uint32_t start, bool named)
{
    std::vector<Cap>& caps = m_current->caps[type];
    const size_t n = usages.size();
    const size_t first = caps.size();
    caps.resize(first + n);
    uint32_t listIndex = 0;
    for (size_t i = 0; i < n; ++i)
    {
        Cap cap = base;
        const Usage& u = usages[i];
        cap.usagePage = u.page;
        cap.usageMin = u.min;
        cap.usageMax = u.max;
        cap.startBit = start;
        cap.fieldCount = base.reportCount;
        cap.arrayBase = listIndex;
        cap.arrayOrdinal = static_cast<uint8_t>(i);
        listIndex += base.Has(kCapRange) ? UsageCount(u.min, u.max) : 1;
        if (IsPublic(base, named, u))
            cap.flags |= kCapPublic;
        AssignDataIndex(type, cap);
        caps[first + n - 1 - i] = cap;
    }
}

// Which caps the API returns (and numbers with data indices), as Windows
// does: a data item's caps whenever the item names usages, Usage (0)
// included; a constant item's only when it is a variable with a nonzero
// usage. A constant array is padding whatever usage it carries.
bool DescriptorParser::IsPublic(const Cap& base, bool named, const Usage& usage)
{
    if (!(base.bitField & kMainConstant))
        return named;
    return !base.Has(kCapArray) && (usage.min || usage.max);
}

// Data indices run on across the main items of one report type; a cap
// that is padding takes none.
void DescriptorParser::AssignDataIndex(HIDP_REPORT_TYPE type, Cap& cap)
{
    const uint16_t span = cap.Has(kCapPublic) ? static_cast<uint16_t>(cap.usageMax - cap.usageMin) : 0xFFFF;
    cap.dataIndexMin = m_dataCount[type];
    cap.dataIndexMax = static_cast<uint16_t>(cap.dataIndexMin + span);
    m_dataCount[type] = static_cast<uint16_t>(cap.dataIndexMax + 1);
}

} // namespace winport::hidparse
