// Fuzz input: [descriptor length, 2 bytes LE][descriptor][report bytes].
// Parses the descriptor, then asks every HidP_* query of every collection,
// and runs every extraction on the report bytes, both at the collection's
// input report length and at the length the input happens to have. Reports
// live in buffers of exactly their length, so a read past one is caught.
#include <windows.h>
#include <hidpddi.h>
#include <hidpi.h>
#include <hidsdi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace
{

void extract(PHIDP_PREPARSED_DATA data, const std::vector<HIDP_BUTTON_CAPS>& buttons,
             const std::vector<HIDP_VALUE_CAPS>& values, std::vector<char>& report)
{
    const ULONG length = static_cast<ULONG>(report.size());
    char* bytes = report.empty() ? nullptr : report.data();
    if (!bytes)
        return;
    for (const HIDP_BUTTON_CAPS& caps : buttons)
    {
        ULONG count = HidP_MaxUsageListLength(HidP_Input, caps.UsagePage, data);
        std::vector<USAGE> usages(std::min<ULONG>(count, 4096) + 1);
        count = static_cast<ULONG>(usages.size());
        HidP_GetUsages(HidP_Input, caps.UsagePage, caps.LinkCollection, usages.data(), &count, data, bytes,
                       length);
        ULONG none = 0;
        HidP_GetUsages(HidP_Input, caps.UsagePage, 0, usages.data(), &none, data, bytes, length);
    }
    for (const HIDP_VALUE_CAPS& caps : values)
    {
        const USAGE usages[] = {caps.Range.UsageMin, caps.Range.UsageMax,
                                static_cast<USAGE>(caps.Range.UsageMin + 1)};
        for (USAGE usage : usages)
        {
            ULONG value = 0;
            LONG scaled = 0;
            HidP_GetUsageValue(HidP_Input, caps.UsagePage, 0, usage, &value, data, bytes, length);
            HidP_GetScaledUsageValue(HidP_Input, caps.UsagePage, caps.LinkCollection, usage, &scaled, data,
                                     bytes, length);
            char array[64];
            HidP_GetUsageValueArray(HidP_Input, caps.UsagePage, 0, usage, array, sizeof array, data, bytes,
                                    length);
        }
    }
}

void exercise(PHIDP_PREPARSED_DATA data, const uint8_t* rest, size_t restLength)
{
    HIDP_CAPS caps;
    if (HidP_GetCaps(data, &caps) != HIDP_STATUS_SUCCESS)
        return;
    ULONG nodeCount = caps.NumberLinkCollectionNodes;
    std::vector<HIDP_LINK_COLLECTION_NODE> nodes(nodeCount + 1);
    HidP_GetLinkCollectionNodes(nodes.data(), &nodeCount, data);
    for (HIDP_REPORT_TYPE type : {HidP_Input, HidP_Output, HidP_Feature})
    {
        HidP_MaxDataListLength(type, data);
        HidP_MaxUsageListLength(type, 0, data);
        HIDP_BUTTON_CAPS button[4];
        HIDP_VALUE_CAPS value[4];
        USHORT length = 4;
        HidP_GetSpecificButtonCaps(type, restLength ? rest[0] : 0, 0, 0, button, &length, data);
        length = 4;
        HidP_GetSpecificValueCaps(type, 1, 0, 0x30, value, &length, data);
    }
    USHORT buttonCount = caps.NumberInputButtonCaps;
    std::vector<HIDP_BUTTON_CAPS> buttons(buttonCount + 1u);
    HidP_GetButtonCaps(HidP_Input, buttons.data(), &buttonCount, data);
    buttons.resize(std::min<size_t>(buttonCount, caps.NumberInputButtonCaps));
    USHORT valueCount = caps.NumberInputValueCaps;
    std::vector<HIDP_VALUE_CAPS> values(valueCount + 1u);
    HidP_GetValueCaps(HidP_Input, values.data(), &valueCount, data);
    values.resize(std::min<size_t>(valueCount, caps.NumberInputValueCaps));

    // At the right length, from the input's bytes (zero-padded).
    std::vector<char> report(caps.InputReportByteLength);
    std::copy_n(rest, std::min<size_t>(restLength, report.size()), report.begin());
    extract(data, buttons, values, report);
    // At whatever length the input has.
    std::vector<char> raw(rest, rest + restLength);
    extract(data, buttons, values, raw);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size < 2)
        return 0;
    const size_t descriptorLength = std::min<size_t>(input[0] | input[1] << 8, size - 2);
    // The descriptor in a buffer of its own exact size, to catch over-reads.
    std::vector<uint8_t> descriptor(input + 2, input + 2 + descriptorLength);
    HIDP_DEVICE_DESC desc;
    if (HidP_GetCollectionDescription(descriptor.data(), static_cast<ULONG>(descriptor.size()), NonPagedPool,
                                      &desc) != HIDP_STATUS_SUCCESS)
        return 0;
    const uint8_t* rest = input + 2 + descriptorLength;
    const size_t restLength = size - 2 - descriptorLength;
    for (ULONG i = 0; i < desc.CollectionDescLength; ++i)
    {
        PHIDP_PREPARSED_DATA copy = WinportHidP_CopyPreparsedData(desc.CollectionDesc[i].PreparsedData);
        exercise(copy, rest, restLength);
        WinportHidP_FreePreparsedData(copy);
    }
    HidP_FreeCollectionDescription(&desc);
    return 0;
}
