#include "CorpusRunner.h"

#include <algorithm>
#include <cstdio>

namespace
{

std::string statusName(NTSTATUS status)
{
    static const struct
    {
        NTSTATUS code;
        const char* name;
    } kNames[] = {
        {HIDP_STATUS_SUCCESS, "SUCCESS"},
        {HIDP_STATUS_NULL, "NULL"},
        {HIDP_STATUS_INVALID_PREPARSED_DATA, "INVALID_PREPARSED_DATA"},
        {HIDP_STATUS_INVALID_REPORT_TYPE, "INVALID_REPORT_TYPE"},
        {HIDP_STATUS_INVALID_REPORT_LENGTH, "INVALID_REPORT_LENGTH"},
        {HIDP_STATUS_USAGE_NOT_FOUND, "USAGE_NOT_FOUND"},
        {HIDP_STATUS_VALUE_OUT_OF_RANGE, "VALUE_OUT_OF_RANGE"},
        {HIDP_STATUS_BAD_LOG_PHY_VALUES, "BAD_LOG_PHY_VALUES"},
        {HIDP_STATUS_BUFFER_TOO_SMALL, "BUFFER_TOO_SMALL"},
        {HIDP_STATUS_INTERNAL_ERROR, "INTERNAL_ERROR"},
        {HIDP_STATUS_INCOMPATIBLE_REPORT_ID, "INCOMPATIBLE_REPORT_ID"},
        {HIDP_STATUS_NOT_VALUE_ARRAY, "NOT_VALUE_ARRAY"},
        {HIDP_STATUS_IS_VALUE_ARRAY, "IS_VALUE_ARRAY"},
    };
    for (const auto& entry : kNames)
        if (entry.code == status)
            return entry.name;
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(status));
    return text;
}

HIDP_REPORT_TYPE reportType(const std::string& name)
{
    return name == "Input" ? HidP_Input : name == "Output" ? HidP_Output : HidP_Feature;
}

template <class Caps> std::string commonFields(const std::string& prefix, const Caps& c)
{
    std::ostringstream out;
    out << prefix << " page " << c.UsagePage << " id " << int(c.ReportID) << " alias " << int(c.IsAlias)
        << " bits " << c.BitField << " lc " << c.LinkCollection << " lusage " << c.LinkUsage << " lpage "
        << c.LinkUsagePage << " range " << int(c.IsRange) << " srange " << int(c.IsStringRange) << " drange "
        << int(c.IsDesignatorRange) << " abs " << int(c.IsAbsolute);
    return out.str();
}

// Usage and data index show both union slots whatever IsRange says: outside
// a range Windows repeats the usage in NotRange.Reserved1 and the data index in
// NotRange.Reserved4, and programs that read Range without checking IsRange see them.
template <class Caps> std::string unionFields(const Caps& c)
{
    std::ostringstream out;
    const auto pair = [&](const char* name, bool range, unsigned min, unsigned max)
    { out << ' ' << name << ' ' << min << ' ' << (range ? max : min); };
    pair("usage", true, c.Range.UsageMin, c.Range.UsageMax);
    pair("string", c.IsStringRange, c.Range.StringMin, c.Range.StringMax);
    pair("designator", c.IsDesignatorRange, c.Range.DesignatorMin, c.Range.DesignatorMax);
    pair("index", true, c.Range.DataIndexMin, c.Range.DataIndexMax);
    return out.str();
}

} // namespace

CorpusRunner::CorpusRunner(std::vector<uint8_t> descriptor) : m_descriptor(std::move(descriptor))
{
    m_descriptor.push_back(0); // a valid address even when empty; not part of the length
    m_status = HidP_GetCollectionDescription(m_descriptor.data(), static_cast<ULONG>(m_descriptor.size() - 1),
                                             PagedPool, &m_desc);
}

CorpusRunner::~CorpusRunner()
{
    if (m_status == HIDP_STATUS_SUCCESS)
        HidP_FreeCollectionDescription(&m_desc);
}

PHIDP_PREPARSED_DATA CorpusRunner::preparsed(int tlc) const
{
    if (tlc < 0 || static_cast<ULONG>(tlc) >= m_desc.CollectionDescLength)
        return nullptr;
    return m_desc.CollectionDesc[tlc].PreparsedData;
}

std::string CorpusRunner::answer(const std::string& expected)
{
    std::istringstream in(expected);
    std::string word;
    in >> word;
    std::ostringstream out;
    if (word == "status")
        return "status " + statusName(m_status);
    if (word == "collections")
        return "collections " + std::to_string(m_desc.CollectionDescLength);
    if (word == "reportids")
        return "reportids " + std::to_string(m_desc.ReportIDsLength);
    if (word == "collection")
    {
        unsigned number = 0;
        in >> number;
        for (ULONG i = 0; i < m_desc.CollectionDescLength; ++i)
        {
            const HIDP_COLLECTION_DESC& d = m_desc.CollectionDesc[i];
            if (d.CollectionNumber == number)
                out << "collection " << number << " page " << d.UsagePage << " usage " << d.Usage << " input "
                    << d.InputLength << " output " << d.OutputLength << " feature " << d.FeatureLength;
        }
        return out.str();
    }
    if (word == "reportid")
    {
        unsigned id = 0;
        in >> id;
        for (ULONG i = 0; i < m_desc.ReportIDsLength; ++i)
        {
            const HIDP_REPORT_IDS& r = m_desc.ReportIDs[i];
            if (r.ReportID == id)
                out << "reportid " << id << " collection " << int(r.CollectionNumber) << " input "
                    << r.InputLength << " output " << r.OutputLength << " feature " << r.FeatureLength;
        }
        return out.str();
    }
    if (word == "tlc")
        return tlcAnswer(in);
    return "unknown query: " + expected;
}

std::string CorpusRunner::tlcAnswer(std::istringstream& in)
{
    int tlc = 0;
    std::string what;
    in >> tlc >> what;
    PHIDP_PREPARSED_DATA data = preparsed(tlc);
    std::ostringstream out;
    out << "tlc " << tlc << ' ';
    if (what == "getcaps" || what == "caps")
    {
        HIDP_CAPS c{};
        const NTSTATUS status = HidP_GetCaps(data, &c);
        if (what == "getcaps")
            return out.str() + "getcaps " + statusName(status);
        out << "caps usage " << c.Usage << " page " << c.UsagePage << " lengths " << c.InputReportByteLength
            << ' ' << c.OutputReportByteLength << ' ' << c.FeatureReportByteLength << " nodes "
            << c.NumberLinkCollectionNodes << " buttons " << c.NumberInputButtonCaps << ' '
            << c.NumberOutputButtonCaps << ' ' << c.NumberFeatureButtonCaps << " values "
            << c.NumberInputValueCaps << ' ' << c.NumberOutputValueCaps << ' ' << c.NumberFeatureValueCaps
            << " indices " << c.NumberInputDataIndices << ' ' << c.NumberOutputDataIndices << ' '
            << c.NumberFeatureDataIndices;
        return out.str();
    }
    if (what == "nodes0" || what == "nodes" || what == "node")
    {
        std::vector<HIDP_LINK_COLLECTION_NODE> nodes(256);
        ULONG length = what == "nodes0" ? 0 : static_cast<ULONG>(nodes.size());
        const NTSTATUS status = HidP_GetLinkCollectionNodes(nodes.data(), &length, data);
        if (what != "node")
            return out.str() + what + ' ' + statusName(status) + ' ' + std::to_string(length);
        size_t i = 0;
        in >> i;
        const HIDP_LINK_COLLECTION_NODE& n = nodes.at(i);
        out << "node " << i << " usage " << n.LinkUsage << " page " << n.LinkUsagePage << " parent "
            << n.Parent << " children " << n.NumberOfChildren << " next " << n.NextSibling << " first "
            << n.FirstChild << " type " << n.CollectionType << " alias " << n.IsAlias;
        return out.str();
    }
    if (what == "Input" || what == "Output" || what == "Feature")
    {
        std::string kind;
        in >> kind;
        return out.str() + what + ' ' + capsAnswer(tlc, reportType(what), kind, in);
    }
    if (what == "report")
    {
        m_report.clear();
        unsigned byte = 0;
        while (in >> std::hex >> byte)
            m_report.push_back(static_cast<uint8_t>(byte));
        return out.str() + "report " + in.str().substr(in.str().find("report ") + 7);
    }
    return out.str() + reportAnswer(tlc, what, in);
}

std::string CorpusRunner::capsAnswer(int tlc, HIDP_REPORT_TYPE type, const std::string& kind,
                                     std::istringstream& in)
{
    PHIDP_PREPARSED_DATA data = preparsed(tlc);
    std::ostringstream out;
    if (kind == "maxusages")
    {
        unsigned page = 0;
        in >> page;
        out << "maxusages " << page << ' ' << HidP_MaxUsageListLength(type, static_cast<USAGE>(page), data);
        return out.str();
    }
    if (kind == "maxdata")
        return "maxdata " + std::to_string(HidP_MaxDataListLength(type, data));
    HIDP_CAPS caps{};
    HidP_GetCaps(data, &caps);
    const USHORT buttons[] = {caps.NumberInputButtonCaps, caps.NumberOutputButtonCaps,
                              caps.NumberFeatureButtonCaps};
    const USHORT values[] = {caps.NumberInputValueCaps, caps.NumberOutputValueCaps,
                             caps.NumberFeatureValueCaps};
    std::vector<HIDP_BUTTON_CAPS> buttonCaps(std::max<size_t>(buttons[type], 1));
    std::vector<HIDP_VALUE_CAPS> valueCaps(std::max<size_t>(values[type], 1));
    USHORT buttonLength = buttons[type], valueLength = values[type];
    const NTSTATUS buttonStatus = HidP_GetButtonCaps(type, buttonCaps.data(), &buttonLength, data);
    const NTSTATUS valueStatus = HidP_GetValueCaps(type, valueCaps.data(), &valueLength, data);
    if (kind == "getbuttoncaps")
        return kind + ' ' + statusName(buttonStatus) + ' ' + std::to_string(buttonLength);
    if (kind == "getvaluecaps")
        return kind + ' ' + statusName(valueStatus) + ' ' + std::to_string(valueLength);
    size_t i = 0;
    in >> i;
    const std::string prefix = kind + ' ' + std::to_string(i);
    if (kind == "button")
        return i < buttonLength ? commonFields(prefix, buttonCaps[i]) + unionFields(buttonCaps[i])
                                : "missing";
    if (i >= valueLength)
        return "missing";
    const HIDP_VALUE_CAPS& c = valueCaps[i];
    out << commonFields(prefix, c) << " null " << int(c.HasNull) << " size " << c.BitSize << " count "
        << c.ReportCount << " uexp " << c.UnitsExp << " unit " << c.Units << " logical " << c.LogicalMin
        << ' ' << c.LogicalMax << " physical " << c.PhysicalMin << ' ' << c.PhysicalMax << unionFields(c);
    return out.str();
}

std::string CorpusRunner::reportAnswer(int tlc, const std::string& call, std::istringstream& in)
{
    PHIDP_PREPARSED_DATA data = preparsed(tlc);
    std::string word;
    unsigned page = 0, lc = 0, usage = 0;
    in >> word >> page >> word >> lc;
    std::ostringstream out;
    out << call << " page " << page << " lc " << lc;
    if (call != "usages")
    {
        in >> word >> usage;
        out << " usage " << usage;
    }
    // The report in a buffer of exactly its length.
    std::vector<char> report(m_report.begin(), m_report.end());
    const ULONG length = static_cast<ULONG>(report.size());
    if (call == "usages")
    {
        std::vector<USAGE> list(
            std::max<ULONG>(HidP_MaxUsageListLength(HidP_Input, static_cast<USAGE>(page), data), 1));
        ULONG count = static_cast<ULONG>(list.size());
        const NTSTATUS status = HidP_GetUsages(HidP_Input, static_cast<USAGE>(page), static_cast<USHORT>(lc),
                                               list.data(), &count, data, report.data(), length);
        out << ' ' << statusName(status) << ' ' << count;
        for (ULONG i = 0; status == HIDP_STATUS_SUCCESS && i < count && i < list.size(); ++i)
            out << ' ' << list[i];
    }
    else if (call == "value" || call == "scaled")
    {
        ULONG value = 0;
        LONG scaled = 0;
        const NTSTATUS status =
            call == "value"
                ? HidP_GetUsageValue(HidP_Input, static_cast<USAGE>(page), static_cast<USHORT>(lc),
                                     static_cast<USAGE>(usage), &value, data, report.data(), length)
                : HidP_GetScaledUsageValue(HidP_Input, static_cast<USAGE>(page), static_cast<USHORT>(lc),
                                           static_cast<USAGE>(usage), &scaled, data, report.data(), length);
        out << ' ' << statusName(status);
        if (status == HIDP_STATUS_SUCCESS)
            out << ' ' << (call == "value" ? std::to_string(value) : std::to_string(scaled));
    }
    else if (call == "array")
    {
        HIDP_VALUE_CAPS caps[1];
        USHORT one = 1;
        HidP_GetSpecificValueCaps(HidP_Input, static_cast<USAGE>(page), 0, static_cast<USAGE>(usage), caps,
                                  &one, data);
        std::vector<char> bytes((static_cast<size_t>(caps[0].BitSize) * caps[0].ReportCount + 7) / 8);
        const NTSTATUS status = HidP_GetUsageValueArray(
            HidP_Input, static_cast<USAGE>(page), static_cast<USHORT>(lc), static_cast<USAGE>(usage),
            bytes.data(), static_cast<USHORT>(bytes.size()), data, report.data(), length);
        out << ' ' << statusName(status);
        char hex[4];
        for (size_t i = 0; status == HIDP_STATUS_SUCCESS && i < bytes.size(); ++i)
        {
            std::snprintf(hex, sizeof hex, " %02x", static_cast<uint8_t>(bytes[i]));
            out << hex;
        }
    }
    return out.str();
}
