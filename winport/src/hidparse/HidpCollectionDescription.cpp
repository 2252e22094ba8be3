// HidP_GetCollectionDescription and the preparsed-data copies the device side
// hands out.
#include "DescriptorParser.h"
#include "Preparsed.h"
#include "PreparsedBuilder.h"

#include <hidpddi.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

using winport::hidparse::Cap;
using winport::hidparse::ParsedCollection;

namespace
{

constexpr int kIds = 256;

// Per report ID: the bits each report type needs and the collection it is in.
struct ReportIdTable
{
    std::array<std::array<uint32_t, kIds>, winport::hidparse::kReportTypes> bits{};
    std::array<UCHAR, kIds> collection{};

    void Add(const ParsedCollection& parsed, UCHAR number)
    {
        for (HIDP_REPORT_TYPE type : winport::hidparse::kAllReportTypes)
        {
            for (const Cap& cap : parsed.caps[type])
            {
                const uint32_t end = cap.startBit + static_cast<uint32_t>(cap.bitSize) * cap.reportCount;
                bits[type][cap.reportId] = std::max(bits[type][cap.reportId], end);
                collection[cap.reportId] = number;
            }
        }
    }

    bool Used(int id) const { return bits[0][id] || bits[1][id] || bits[2][id]; }
};

void FreeDescription(HIDP_DEVICE_DESC* desc)
{
    for (ULONG i = 0; i < desc->CollectionDescLength; ++i)
        std::free(desc->CollectionDesc[i].PreparsedData);
    std::free(desc->CollectionDesc);
    std::free(desc->ReportIDs);
    desc->CollectionDesc = nullptr;
    desc->CollectionDescLength = 0;
    desc->ReportIDs = nullptr;
    desc->ReportIDsLength = 0;
}

NTSTATUS FillCollections(std::vector<ParsedCollection>& parsed, HIDP_DEVICE_DESC* desc)
{
    desc->CollectionDesc =
        static_cast<HIDP_COLLECTION_DESC*>(std::calloc(parsed.size(), sizeof(HIDP_COLLECTION_DESC)));
    if (!desc->CollectionDesc)
        return HIDP_STATUS_INTERNAL_ERROR;
    for (size_t i = 0; i < parsed.size(); ++i)
    {
        std::vector<uint8_t> block = winport::hidparse::PreparsedBuilder(parsed[i]).Build();
        if (block.empty())
            return HIDP_STATUS_INTERNAL_ERROR;
        void* copy = std::malloc(block.size());
        if (!copy)
            return HIDP_STATUS_INTERNAL_ERROR;
        std::memcpy(copy, block.data(), block.size());
        HIDP_COLLECTION_DESC& out = desc->CollectionDesc[i];
        out.UsagePage = parsed[i].usagePage;
        out.Usage = parsed[i].usage;
        out.CollectionNumber = static_cast<UCHAR>(i + 1);
        out.InputLength = parsed[i].reportLength[HidP_Input];
        out.OutputLength = parsed[i].reportLength[HidP_Output];
        out.FeatureLength = parsed[i].reportLength[HidP_Feature];
        out.PreparsedDataLength = static_cast<USHORT>(block.size());
        out.PreparsedData = static_cast<PHIDP_PREPARSED_DATA>(copy);
        desc->CollectionDescLength = static_cast<ULONG>(i + 1);
    }
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS FillReportIds(const std::vector<ParsedCollection>& parsed, HIDP_DEVICE_DESC* desc)
{
    ReportIdTable table;
    for (size_t i = 0; i < parsed.size(); ++i)
        table.Add(parsed[i], static_cast<UCHAR>(i + 1));
    int count = 0;
    for (int id = 0; id < kIds; ++id)
        count += table.Used(id);
    desc->ReportIDs = static_cast<HIDP_REPORT_IDS*>(std::calloc(std::max(count, 1), sizeof(HIDP_REPORT_IDS)));
    if (!desc->ReportIDs)
        return HIDP_STATUS_INTERNAL_ERROR;
    for (int id = 0; id < kIds; ++id)
    {
        if (!table.Used(id))
            continue;
        HIDP_REPORT_IDS& out = desc->ReportIDs[desc->ReportIDsLength++];
        out.ReportID = static_cast<UCHAR>(id);
        out.CollectionNumber = table.collection[id];
        out.InputLength = static_cast<USHORT>((table.bits[HidP_Input][id] + 7) / 8);
        out.OutputLength = static_cast<USHORT>((table.bits[HidP_Output][id] + 7) / 8);
        out.FeatureLength = static_cast<USHORT>((table.bits[HidP_Feature][id] + 7) / 8);
    }
    return HIDP_STATUS_SUCCESS;
}

} // namespace

extern "C"
{

    NTSTATUS NTAPI HidP_GetCollectionDescription(PHIDP_REPORT_DESCRIPTOR descriptor, ULONG length, POOL_TYPE,
                                                 PHIDP_DEVICE_DESC desc)
    {
        if (!desc)
            return HIDP_STATUS_INTERNAL_ERROR;
        std::memset(desc, 0, sizeof *desc);
        winport::hidparse::DescriptorParser parser(descriptor, descriptor ? length : 0);
        if (!parser.Parse())
        {
            desc->Dbg.BreakOffset = parser.ErrorOffset();
            desc->Dbg.ErrorCode = static_cast<ULONG>(parser.Error());
            return HIDP_STATUS_INTERNAL_ERROR;
        }
        NTSTATUS status = FillCollections(parser.Collections(), desc);
        if (status == HIDP_STATUS_SUCCESS)
            status = FillReportIds(parser.Collections(), desc);
        if (status != HIDP_STATUS_SUCCESS)
        {
            FreeDescription(desc);
            desc->Dbg.ErrorCode = static_cast<ULONG>(winport::hidparse::ParseError::TooLarge);
        }
        return status;
    }

    VOID NTAPI HidP_FreeCollectionDescription(PHIDP_DEVICE_DESC desc)
    {
        if (desc)
            FreeDescription(desc);
    }

    PHIDP_PREPARSED_DATA NTAPI WinportHidP_CopyPreparsedData(PHIDP_PREPARSED_DATA data)
    {
        const winport::hidparse::Preparsed* preparsed = winport::hidparse::Preparsed::From(data);
        if (!preparsed)
            return nullptr;
        const uint32_t size = preparsed->GetHeader().size;
        void* copy = std::malloc(size);
        if (copy)
            std::memcpy(copy, data, size);
        return static_cast<PHIDP_PREPARSED_DATA>(copy);
    }

    BOOLEAN NTAPI WinportHidP_FreePreparsedData(PHIDP_PREPARSED_DATA data)
    {
        if (!winport::hidparse::Preparsed::From(data))
            return FALSE;
        std::free(data);
        return TRUE;
    }

} // extern "C"
