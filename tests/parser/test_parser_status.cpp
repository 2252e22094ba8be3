// Malformed descriptors, bad arguments and the statuses they get; the
// preparsed-data copies the device side hands out.
#include "ParsedDescriptor.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

namespace
{

using Bytes = std::vector<uint8_t>;

const Bytes kMouse = {0x05, 0x01, 0x09, 0x02, 0xa1, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29, 0x03, 0x25, 0x01,
                      0x75, 0x01, 0x95, 0x03, 0x81, 0x02, 0x95, 0x05, 0x81, 0x03, 0x05, 0x01, 0x09, 0x30,
                      0x09, 0x31, 0x15, 0x81, 0x25, 0x7f, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xc0};

Bytes nested(int depth)
{
    Bytes d = {0x05, 0x01, 0x09, 0x04};
    for (int i = 0; i < depth; ++i)
        d.insert(d.end(), {0xa1, 0x00});
    for (int i = 0; i < depth; ++i)
        d.push_back(0xc0);
    return d;
}

Bytes manyUsages(int count)
{
    Bytes d = {0x05, 0x01, 0x09, 0x04, 0xa1, 0x01};
    for (int i = 0; i < count; ++i)
        d.insert(d.end(), {0x09, 0x30});
    d.insert(d.end(), {0x75, 0x01, 0x95, 0x01, 0x81, 0x02, 0xc0});
    return d;
}

struct Malformed
{
    const char* name;
    Bytes bytes;
};

class ParserMalformed : public ::testing::TestWithParam<Malformed>
{
};

} // namespace

TEST_P(ParserMalformed, IsRejectedWithAStatus)
{
    ParsedDescriptor p(GetParam().bytes);
    EXPECT_EQ(p.status(), HIDP_STATUS_INTERNAL_ERROR);
    EXPECT_EQ(p.desc().CollectionDescLength, 0u);
    EXPECT_EQ(p.desc().CollectionDesc, nullptr);
    EXPECT_NE(p.desc().Dbg.ErrorCode, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptors, ParserMalformed,
    ::testing::Values(Malformed{"Empty", {}}, Malformed{"NoCollection", {0x05, 0x01, 0x75, 0x08}},
                      Malformed{"TruncatedItem", {0x05, 0x01, 0x09, 0x04, 0xa1, 0x01, 0x26, 0xff}},
                      Malformed{"Unterminated", {0x05, 0x01, 0x09, 0x04, 0xa1, 0x01, 0x09, 0x30}},
                      Malformed{"EndWithoutCollection", {0x05, 0x01, 0xc0}},
                      Malformed{"PopOnEmptyStack", {0x05, 0x01, 0xb4, 0x09, 0x04, 0xa1, 0x01, 0xc0}},
                      Malformed{"LongItem",
                                {0x05, 0x01, 0x09, 0x04, 0xa1, 0x01, 0xfe, 0x01, 0x10, 0x00, 0xc0}},
                      Malformed{"NestedTooDeep", nested(65)}, Malformed{"TooManyUsages", manyUsages(256)},
                      Malformed{"ReportTooLong",
                                {0x05, 0x01, 0x09, 0x04, 0xa1, 0x01, 0x09, 0x30, 0x77, 0xff, 0xff, 0x00, 0x00,
                                 0x95, 0x10, 0x81, 0x02, 0xc0}},
                      Malformed{"DelimiterNotOpen", {0x05, 0x01, 0x09, 0x04, 0xa1, 0x01, 0xa9, 0x00, 0xc0}}),
    [](const ::testing::TestParamInfo<Malformed>& info) { return std::string(info.param.name); });

TEST(ParserStatus, LimitsAreInclusive)
{
    EXPECT_EQ(ParsedDescriptor(nested(64)).status(), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(ParsedDescriptor(manyUsages(255)).status(), HIDP_STATUS_SUCCESS);
}

TEST(ParserStatus, BreakOffsetPointsAtTheOffendingItem)
{
    ParsedDescriptor p({0x05, 0x01, 0x09, 0x04, 0xa1, 0x01, 0xb4, 0xc0});
    EXPECT_EQ(p.status(), HIDP_STATUS_INTERNAL_ERROR);
    EXPECT_EQ(p.desc().Dbg.BreakOffset, 6u);
}

TEST(ParserStatus, ReportLengthMustBeTheCollections)
{
    ParsedDescriptor p(kMouse);
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    ASSERT_EQ(p.caps().InputReportByteLength, 4);
    NTSTATUS status = 0;
    p.usages(9, {0x00, 0x01, 0x00}, &status);
    EXPECT_EQ(status, HIDP_STATUS_INVALID_REPORT_LENGTH);
    p.usages(9, {0x00, 0x01, 0x00, 0x00, 0x00}, &status);
    EXPECT_EQ(status, HIDP_STATUS_INVALID_REPORT_LENGTH);
    ULONG value = 0;
    EXPECT_EQ(p.value(1, 0x30, {0x00, 0x01, 0x00}, value), HIDP_STATUS_INVALID_REPORT_LENGTH);
    char report[4] = {};
    LONG scaled = 5;
    EXPECT_EQ(HidP_GetScaledUsageValue(HidP_Input, 1, 0, 0x30, &scaled, p.preparsed(), report, 0),
              HIDP_STATUS_INVALID_REPORT_LENGTH);
    EXPECT_EQ(scaled, 0);
}

TEST(ParserStatus, BadReportTypeAndBadPreparsedData)
{
    ParsedDescriptor p(kMouse);
    char report[4] = {};
    ULONG value = 0;
    const auto badType = static_cast<HIDP_REPORT_TYPE>(3);
    EXPECT_EQ(HidP_GetUsageValue(badType, 1, 0, 0x30, &value, p.preparsed(), report, 4),
              HIDP_STATUS_INVALID_REPORT_TYPE);
    HIDP_BUTTON_CAPS buttons[4];
    USHORT length = 4;
    EXPECT_EQ(HidP_GetButtonCaps(badType, buttons, &length, p.preparsed()), HIDP_STATUS_INVALID_REPORT_TYPE);
    EXPECT_EQ(HidP_MaxUsageListLength(badType, 0, p.preparsed()), 0u);

    alignas(8) unsigned char junk[256];
    std::memset(junk, 0x5a, sizeof junk);
    const auto bogus = reinterpret_cast<PHIDP_PREPARSED_DATA>(junk);
    HIDP_CAPS caps;
    EXPECT_EQ(HidP_GetCaps(bogus, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);
    EXPECT_EQ(HidP_GetCaps(nullptr, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);
    EXPECT_EQ(HidP_GetUsageValue(HidP_Input, 1, 0, 0x30, &value, bogus, report, 4),
              HIDP_STATUS_INVALID_PREPARSED_DATA);
    EXPECT_EQ(HidP_MaxDataListLength(HidP_Input, bogus), 0u);
}

TEST(ParserStatus, CapsQueriesReportWhatTheyCouldNotReturn)
{
    ParsedDescriptor p(kMouse);
    HIDP_VALUE_CAPS values[2];
    USHORT length = 1;
    EXPECT_EQ(HidP_GetValueCaps(HidP_Input, values, &length, p.preparsed()), HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 2);
    EXPECT_EQ(values[0].NotRange.Usage, 0x31);
    EXPECT_FALSE(values[0].IsAbsolute);
    length = 2;
    EXPECT_EQ(HidP_GetValueCaps(HidP_Output, values, &length, p.preparsed()), HIDP_STATUS_USAGE_NOT_FOUND);
    EXPECT_EQ(length, 0);
    length = 2;
    EXPECT_EQ(HidP_GetSpecificValueCaps(HidP_Input, 1, 0, 0x38, values, &length, p.preparsed()),
              HIDP_STATUS_USAGE_NOT_FOUND);
}

TEST(ParserStatus, PreparsedDataCopiesAreSelfContained)
{
    PHIDP_PREPARSED_DATA copy = nullptr;
    USHORT length = 0;
    {
        ParsedDescriptor p(kMouse);
        ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
        length = p.desc().CollectionDesc[0].PreparsedDataLength;
        copy = WinportHidP_CopyPreparsedData(p.preparsed());
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(std::memcmp(copy, p.preparsed(), length), 0);
    } // the original is gone
    // A plain memcpy of PreparsedDataLength bytes is as good as the copy.
    std::vector<unsigned char> moved(length + 8);
    std::memcpy(moved.data() + 8, copy, length);
    for (PHIDP_PREPARSED_DATA data : {copy, reinterpret_cast<PHIDP_PREPARSED_DATA>(moved.data() + 8)})
    {
        char report[4] = {0, 0x05, 0x7f, static_cast<char>(0x81)};
        LONG y = 0;
        ASSERT_EQ(HidP_GetScaledUsageValue(HidP_Input, 1, 0, 0x31, &y, data, report, 4), HIDP_STATUS_SUCCESS);
        EXPECT_EQ(y, -127);
        USAGE usages[3];
        ULONG count = 3;
        ASSERT_EQ(HidP_GetUsages(HidP_Input, 9, 0, usages, &count, data, report, 4), HIDP_STATUS_SUCCESS);
        EXPECT_EQ(count, 2u);
    }
    EXPECT_TRUE(WinportHidP_FreePreparsedData(copy));
    alignas(8) unsigned char junk[64] = {};
    EXPECT_FALSE(WinportHidP_FreePreparsedData(reinterpret_cast<PHIDP_PREPARSED_DATA>(junk)));
}

// The structures keep the SDK's layout (64-bit, 4-byte packing), so the
// library sees the same fields on both builds.
static_assert(sizeof(HIDP_BUTTON_CAPS) == 72 && offsetof(HIDP_BUTTON_CAPS, Reserved) == 16 &&
                  offsetof(HIDP_BUTTON_CAPS, Range.UsageMin) == 56,
              "HIDP_BUTTON_CAPS layout");
static_assert(sizeof(HIDP_VALUE_CAPS) == 72 && offsetof(HIDP_VALUE_CAPS, UnitsExp) == 32 &&
                  offsetof(HIDP_VALUE_CAPS, LogicalMin) == 40 &&
                  offsetof(HIDP_VALUE_CAPS, Range.UsageMin) == 56,
              "HIDP_VALUE_CAPS layout");
static_assert(sizeof(HIDP_CAPS) == 64 && offsetof(HIDP_CAPS, NumberLinkCollectionNodes) == 44,
              "HIDP_CAPS layout");
static_assert(sizeof(HIDP_LINK_COLLECTION_NODE) == 24 &&
                  offsetof(HIDP_LINK_COLLECTION_NODE, UserContext) == 16,
              "HIDP_LINK_COLLECTION_NODE layout");
static_assert(sizeof(HIDD_ATTRIBUTES) == 12 && offsetof(HIDD_ATTRIBUTES, VersionNumber) == 8,
              "HIDD_ATTRIBUTES layout");
static_assert(HIDP_STATUS_NULL == static_cast<NTSTATUS>(0x80110001) &&
                  HIDP_STATUS_INCOMPATIBLE_REPORT_ID == static_cast<NTSTATUS>(0xC011000A),
              "status values");
