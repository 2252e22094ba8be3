// HidP_* functions that describe a collection: caps, link collections and
// list lengths.
#include "CapsFaultHook.h"
#include "Preparsed.h"

#include <hidpi.h>

#include <cstring>

using winport::hidparse::Cap;
using winport::hidparse::Preparsed;

namespace
{

// What a caps query asks for; 0 in page, collection or usage means any.
struct CapsFilter
{
    bool buttons;
    USAGE page;
    USHORT collection;
    USAGE usage;

    bool Matches(const Cap& cap) const
    {
        if (!cap.Has(winport::hidparse::kCapPublic) || cap.Has(winport::hidparse::kCapButton) != buttons)
            return false;
        if (page && page != cap.usagePage)
            return false;
        if (collection && collection != cap.linkCollection)
            return false;
        return !usage || (cap.usageMin <= usage && usage <= cap.usageMax);
    }
};

template <class Out> void FillCommon(Out& out, const Cap& cap)
{
    std::memset(&out, 0, sizeof out);
    out.UsagePage = cap.usagePage;
    out.ReportID = cap.reportId;
    out.IsAlias = cap.Has(winport::hidparse::kCapAlias);
    out.BitField = cap.bitField;
    out.LinkCollection = cap.linkCollection;
    out.LinkUsage = cap.linkUsage;
    out.LinkUsagePage = cap.linkUsagePage;
    out.IsRange = cap.Has(winport::hidparse::kCapRange);
    out.IsStringRange = cap.Has(winport::hidparse::kCapStringRange);
    out.IsDesignatorRange = cap.Has(winport::hidparse::kCapDesignatorRange);
    out.IsAbsolute = cap.Has(winport::hidparse::kCapAbsolute);
    // Outside a range the usage and the data index fill both slots, as on
    // Windows: a program that reads Range without checking IsRange sees them.
    out.Range.UsageMin = cap.usageMin;
    out.Range.UsageMax = out.IsRange ? cap.usageMax : cap.usageMin;
    out.Range.DataIndexMin = cap.dataIndexMin;
    out.Range.DataIndexMax = out.IsRange ? cap.dataIndexMax : cap.dataIndexMin;
    if (out.IsStringRange)
    {
        out.Range.StringMin = cap.stringMin;
        out.Range.StringMax = cap.stringMax;
    }
    else
    {
        out.NotRange.StringIndex = cap.stringMin;
    }
    if (out.IsDesignatorRange)
    {
        out.Range.DesignatorMin = cap.designatorMin;
        out.Range.DesignatorMax = cap.designatorMax;
    }
    else
    {
        out.NotRange.DesignatorIndex = cap.designatorMin;
    }
}

// Current SDKs name bytes 20-21 of the button caps' Reserved area ReportCount.
void Fill(HIDP_BUTTON_CAPS& out, const Cap& cap)
{
    FillCommon(out, cap);
    std::memcpy(reinterpret_cast<unsigned char*>(&out) + 20, &cap.reportCount, sizeof cap.reportCount);
}

void Fill(HIDP_VALUE_CAPS& out, const Cap& cap)
{
    FillCommon(out, cap);
    out.HasNull = cap.Has(winport::hidparse::kCapHasNull);
    out.BitSize = cap.bitSize;
    out.ReportCount = cap.Has(winport::hidparse::kCapRange) ? 1 : cap.reportCount;
    out.UnitsExp = cap.unitsExp;
    out.Units = cap.units;
    out.LogicalMin = cap.logicalMin;
    out.LogicalMax = cap.logicalMax;
    out.PhysicalMin = cap.physicalMin;
    out.PhysicalMax = cap.physicalMax;
}

// Copies the matching caps in order. *length: capacity in, matches out.
template <class Out>
NTSTATUS GetCaps(HIDP_REPORT_TYPE type, const CapsFilter& filter, Out* out, PUSHORT length,
                 PHIDP_PREPARSED_DATA data)
{
    const Preparsed* preparsed = Preparsed::From(data);
    if (!preparsed)
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    if (!Preparsed::ValidType(type))
        return HIDP_STATUS_INVALID_REPORT_TYPE;
    const ULONG capacity = *length;
    ULONG found = 0;
    for (const Cap* cap = preparsed->CapsBegin(type); cap != preparsed->CapsEnd(type); ++cap)
    {
        if (!filter.Matches(*cap))
            continue;
        if (found < capacity)
            Fill(out[found], *cap);
        ++found;
    }
    *length = static_cast<USHORT>(found);
    if (found == 0)
        return HIDP_STATUS_USAGE_NOT_FOUND;
    return found > capacity ? HIDP_STATUS_BUFFER_TOO_SMALL : HIDP_STATUS_SUCCESS;
}

} // namespace

extern "C"
{

    NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps)
    {
        const Preparsed* preparsed = Preparsed::From(data);
        if (!preparsed)
            return HIDP_STATUS_INVALID_PREPARSED_DATA;
        const NTSTATUS fault = winport::hidparse::CapsFaultFor(data);
        if (fault != HIDP_STATUS_SUCCESS)
            return fault;
        const winport::hidparse::Header& h = preparsed->GetHeader();
        std::memset(caps, 0, sizeof *caps);
        caps->Usage = h.usage;
        caps->UsagePage = h.usagePage;
        caps->InputReportByteLength = h.reportLength[HidP_Input];
        caps->OutputReportByteLength = h.reportLength[HidP_Output];
        caps->FeatureReportByteLength = h.reportLength[HidP_Feature];
        caps->NumberLinkCollectionNodes = h.nodeCount;
        caps->NumberInputButtonCaps = h.buttonCaps[HidP_Input];
        caps->NumberInputValueCaps = h.valueCaps[HidP_Input];
        caps->NumberInputDataIndices = h.dataIndices[HidP_Input];
        caps->NumberOutputButtonCaps = h.buttonCaps[HidP_Output];
        caps->NumberOutputValueCaps = h.valueCaps[HidP_Output];
        caps->NumberOutputDataIndices = h.dataIndices[HidP_Output];
        caps->NumberFeatureButtonCaps = h.buttonCaps[HidP_Feature];
        caps->NumberFeatureValueCaps = h.valueCaps[HidP_Feature];
        caps->NumberFeatureDataIndices = h.dataIndices[HidP_Feature];
        return HIDP_STATUS_SUCCESS;
    }

    NTSTATUS NTAPI HidP_GetLinkCollectionNodes(PHIDP_LINK_COLLECTION_NODE nodes, PULONG length,
                                               PHIDP_PREPARSED_DATA data)
    {
        const Preparsed* preparsed = Preparsed::From(data);
        if (!preparsed)
            return HIDP_STATUS_INVALID_PREPARSED_DATA;
        const ULONG capacity = *length;
        const ULONG count = preparsed->GetHeader().nodeCount;
        *length = count;
        if (capacity < count)
            return HIDP_STATUS_BUFFER_TOO_SMALL;
        const winport::hidparse::Node* source = preparsed->Nodes();
        for (ULONG i = 0; i < count; ++i)
        {
            HIDP_LINK_COLLECTION_NODE& node = nodes[i];
            node.LinkUsage = source[i].usage;
            node.LinkUsagePage = source[i].usagePage;
            node.Parent = source[i].parent;
            node.NumberOfChildren = source[i].childCount;
            node.NextSibling = source[i].nextSibling;
            node.FirstChild = source[i].firstChild;
            node.CollectionType = source[i].collectionType;
            node.IsAlias = source[i].isAlias;
            node.Reserved = 0;
            // UserContext belongs to the caller.
        }
        return HIDP_STATUS_SUCCESS;
    }

    NTSTATUS NTAPI HidP_GetSpecificButtonCaps(HIDP_REPORT_TYPE type, USAGE page, USHORT collection,
                                              USAGE usage, PHIDP_BUTTON_CAPS caps, PUSHORT length,
                                              PHIDP_PREPARSED_DATA data)
    {
        return GetCaps(type, CapsFilter{true, page, collection, usage}, caps, length, data);
    }

    NTSTATUS NTAPI HidP_GetButtonCaps(HIDP_REPORT_TYPE type, PHIDP_BUTTON_CAPS caps, PUSHORT length,
                                      PHIDP_PREPARSED_DATA data)
    {
        return GetCaps(type, CapsFilter{true, 0, 0, 0}, caps, length, data);
    }

    NTSTATUS NTAPI HidP_GetSpecificValueCaps(HIDP_REPORT_TYPE type, USAGE page, USHORT collection,
                                             USAGE usage, PHIDP_VALUE_CAPS caps, PUSHORT length,
                                             PHIDP_PREPARSED_DATA data)
    {
        return GetCaps(type, CapsFilter{false, page, collection, usage}, caps, length, data);
    }

    NTSTATUS NTAPI HidP_GetValueCaps(HIDP_REPORT_TYPE type, PHIDP_VALUE_CAPS caps, PUSHORT length,
                                     PHIDP_PREPARSED_DATA data)
    {
        return GetCaps(type, CapsFilter{false, 0, 0, 0}, caps, length, data);
    }

    // The longest list HidP_GetUsages can return for the page (0: any page).
    ULONG NTAPI HidP_MaxUsageListLength(HIDP_REPORT_TYPE type, USAGE page, PHIDP_PREPARSED_DATA data)
    {
        const Preparsed* preparsed = Preparsed::From(data);
        if (!preparsed || !Preparsed::ValidType(type))
            return 0;
        const CapsFilter filter{true, page, 0, 0};
        ULONG length = 0;
        for (const Cap* cap = preparsed->CapsBegin(type); cap != preparsed->CapsEnd(type); ++cap)
            if (filter.Matches(*cap))
                length += cap->reportCount;
        return length;
    }

    ULONG NTAPI HidP_MaxDataListLength(HIDP_REPORT_TYPE type, PHIDP_PREPARSED_DATA data)
    {
        const Preparsed* preparsed = Preparsed::From(data);
        if (!preparsed || !Preparsed::ValidType(type))
            return 0;
        ULONG length = 0;
        for (const Cap* cap = preparsed->CapsBegin(type); cap != preparsed->CapsEnd(type); ++cap)
        {
            if (!cap->Has(winport::hidparse::kCapPublic))
                continue;
            const bool list =
                cap->Has(winport::hidparse::kCapRange) || cap->Has(winport::hidparse::kCapButton);
            length += list ? cap->reportCount : 1;
        }
        return length;
    }

} // extern "C"
