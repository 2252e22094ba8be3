// Hand-made descriptors for what the library relies on and for the points
// where the reference parser is not the judge.
#include "ParsedDescriptor.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{

using Bytes = std::vector<uint8_t>;

// Joystick: buttons 1..8, then X and Y (8 bits, physical 0..1023).
const Bytes kJoystick = {0x05, 0x01, 0x09, 0x04, 0xa1, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29, 0x08,
                         0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x05, 0x01,
                         0x09, 0x30, 0x09, 0x31, 0x15, 0x00, 0x26, 0xff, 0x00, 0x35, 0x00, 0x46,
                         0xff, 0x03, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0xc0};

Bytes withValueItem(std::initializer_list<uint8_t> globals, uint8_t inputFlags = 0x02)
{
    Bytes d = {0x05, 0x01, 0x09, 0x04, 0xa1, 0x01, 0x09, 0x30};
    d.insert(d.end(), globals);
    d.insert(d.end(), {0x75, 0x08, 0x95, 0x01, 0x81, inputFlags, 0xc0});
    return d;
}

} // namespace

TEST(ParserDescriptors, JoystickCapsComeOutLastUsageFirst)
{
    ParsedDescriptor p(kJoystick);
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    const HIDP_CAPS caps = p.caps();
    EXPECT_EQ(caps.UsagePage, 1);
    EXPECT_EQ(caps.Usage, 4);
    EXPECT_EQ(caps.InputReportByteLength, 4);
    EXPECT_EQ(caps.NumberInputButtonCaps, 1);
    EXPECT_EQ(caps.NumberInputValueCaps, 2);
    EXPECT_EQ(caps.NumberInputDataIndices, 10);

    const auto buttons = p.buttonCaps();
    ASSERT_EQ(buttons.size(), 1u);
    EXPECT_TRUE(buttons[0].IsRange);
    EXPECT_EQ(buttons[0].Range.UsageMin, 1);
    EXPECT_EQ(buttons[0].Range.UsageMax, 8);
    EXPECT_EQ(buttons[0].Range.DataIndexMax, 7);

    const auto values = p.valueCaps();
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].NotRange.Usage, 0x31);
    EXPECT_EQ(values[0].NotRange.DataIndex, 8);
    EXPECT_EQ(values[1].NotRange.Usage, 0x30);
    EXPECT_EQ(values[1].NotRange.DataIndex, 9);
    EXPECT_EQ(values[1].PhysicalMax, 1023);
    EXPECT_EQ(values[1].LinkUsage, 4);
    EXPECT_EQ(values[1].LinkUsagePage, 1);
}

TEST(ParserDescriptors, JoystickReportReadsButtonsAndScaledAxes)
{
    ParsedDescriptor p(kJoystick);
    const Bytes report = {0x00, 0x05, 0x80, 0xff};
    EXPECT_EQ(p.usages(9, report), (std::vector<USAGE>{1, 3}));
    ULONG x = 0;
    ASSERT_EQ(p.value(1, 0x30, report, x), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(x, 0x80u);
    LONG scaled = 0;
    ASSERT_EQ(p.scaled(1, 0x30, report, scaled), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(scaled, 514); // 128 * 1023 / 255, rounded half away from zero
    ASSERT_EQ(p.scaled(1, 0x31, report, scaled), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(scaled, 1023);
    EXPECT_EQ(HidP_MaxUsageListLength(HidP_Input, 9, p.preparsed()), 8u);
    EXPECT_EQ(HidP_MaxDataListLength(HidP_Input, p.preparsed()), 10u);
}

TEST(ParserDescriptors, SeveralButtonCapsOnOnePageShareOneUsageList)
{
    ParsedDescriptor p({0x05, 0x01, 0x09, 0x05, 0xa1, 0x01, 0x05, 0x09, 0x15, 0x00,
                        0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x19, 0x01, 0x29, 0x08,
                        0x81, 0x02, 0x19, 0x09, 0x29, 0x10, 0x81, 0x02, 0xc0});
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    ASSERT_EQ(p.buttonCaps().size(), 2u);
    const Bytes report = {0x00, 0x04, 0x08};
    EXPECT_EQ(p.usages(9, report), (std::vector<USAGE>{3, 12}));
    EXPECT_EQ(HidP_MaxUsageListLength(HidP_Input, 9, p.preparsed()), 16u);

    USAGE one[1] = {};
    ULONG count = 1;
    Bytes copy = report;
    EXPECT_EQ(
        HidP_GetUsages(HidP_Input, 9, 0, one, &count, p.preparsed(), reinterpret_cast<PCHAR>(copy.data()), 3),
        HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(one[0], 3);
}

TEST(ParserDescriptors, ReportIdsSelectTheCapsOfTheirReport)
{
    // Report 1: 8 buttons; report 2: X and Y.
    ParsedDescriptor p({0x05, 0x01, 0x09, 0x04, 0xa1, 0x01, 0x85, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29, 0x08,
                        0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x85, 0x02, 0x05, 0x01,
                        0x09, 0x30, 0x09, 0x31, 0x26, 0xff, 0x00, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0xc0});
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    ASSERT_EQ(p.desc().ReportIDsLength, 2u);
    EXPECT_EQ(p.desc().ReportIDs[0].ReportID, 1);
    EXPECT_EQ(p.desc().ReportIDs[0].InputLength, 2);
    EXPECT_EQ(p.desc().ReportIDs[1].ReportID, 2);
    EXPECT_EQ(p.desc().ReportIDs[1].InputLength, 3);
    EXPECT_EQ(p.caps().InputReportByteLength, 3);

    ULONG value = 0;
    EXPECT_EQ(p.value(1, 0x30, {0x02, 0x11, 0x22}, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, 0x11u);
    EXPECT_EQ(p.value(1, 0x30, {0x01, 0x11, 0x22}, value), HIDP_STATUS_INCOMPATIBLE_REPORT_ID);
    NTSTATUS status = 0;
    EXPECT_EQ(p.usages(9, {0x01, 0x81, 0x00}, &status), (std::vector<USAGE>{1, 8}));
    p.usages(9, {0x02, 0x81, 0x00}, &status);
    EXPECT_EQ(status, HIDP_STATUS_INCOMPATIBLE_REPORT_ID);
    p.usages(7, {0x01, 0x81, 0x00}, &status);
    EXPECT_EQ(status, HIDP_STATUS_USAGE_NOT_FOUND);
    EXPECT_EQ(p.value(1, 0x32, {0x02, 0x11, 0x22}, value), HIDP_STATUS_USAGE_NOT_FOUND);
}

TEST(ParserDescriptors, SignedAxisIsSignExtendedWhenScaled)
{
    ParsedDescriptor p(withValueItem({0x15, 0x81, 0x25, 0x7f}));
    ULONG raw = 0;
    LONG scaled = 0;
    ASSERT_EQ(p.value(1, 0x30, {0x00, 0x81}, raw), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(raw, 0x81u);
    ASSERT_EQ(p.scaled(1, 0x30, {0x00, 0x81}, scaled), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(scaled, -127);
    scaled = 7;
    EXPECT_EQ(p.scaled(1, 0x30, {0x00, 0x80}, scaled), HIDP_STATUS_VALUE_OUT_OF_RANGE);
    EXPECT_EQ(scaled, 0);

    ParsedDescriptor physical(withValueItem({0x15, 0x81, 0x25, 0x7f, 0x36, 0x18, 0xfc, 0x46, 0xe8, 0x03}));
    ASSERT_EQ(physical.scaled(1, 0x30, {0x00, 0x81}, scaled), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(scaled, -1000);
    ASSERT_EQ(physical.scaled(1, 0x30, {0x00, 0x00}, scaled), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(scaled, 0);
}

TEST(ParserDescriptors, ReversedLogicalRangeGivesRawValuesButNoScaledOnes)
{
    ParsedDescriptor p(withValueItem({0x26, 0xff, 0x00, 0x25, 0x00, 0x16, 0xff, 0x00}));
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(p.valueCaps()[0].LogicalMin, 255);
    EXPECT_EQ(p.valueCaps()[0].LogicalMax, 0);
    ULONG raw = 0;
    LONG scaled = 0;
    EXPECT_EQ(p.value(1, 0x30, {0x00, 0x10}, raw), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(raw, 0x10u);
    EXPECT_EQ(p.scaled(1, 0x30, {0x00, 0x10}, scaled), HIDP_STATUS_BAD_LOG_PHY_VALUES);
}

TEST(ParserDescriptors, HatOutsideItsLogicalRangeIsTheNullState)
{
    // Hat switch: 4 bits, logical 0..7, physical 0..315, Null State.
    ParsedDescriptor p({0x05, 0x01, 0x09, 0x05, 0xa1, 0x01, 0x09, 0x39, 0x15, 0x00, 0x25, 0x07, 0x35, 0x00,
                        0x46, 0x3b, 0x01, 0x75, 0x04, 0x95, 0x01, 0x81, 0x42, 0x75, 0x04, 0x81, 0x01, 0xc0});
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    const auto values = p.valueCaps();
    ASSERT_EQ(values.size(), 1u);
    EXPECT_TRUE(values[0].HasNull);
    LONG scaled = 0;
    ASSERT_EQ(p.scaled(1, 0x39, {0x00, 0x03}, scaled), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(scaled, 135);
    EXPECT_EQ(p.scaled(1, 0x39, {0x00, 0x08}, scaled), HIDP_STATUS_NULL);
    ULONG raw = 0;
    EXPECT_EQ(p.value(1, 0x39, {0x00, 0xf8}, raw), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(raw, 8u);
}

TEST(ParserDescriptors, ValueArrayReadsAsOneValueAndAsBytes)
{
    // X (8 bits), then vendor usage 0x20 with three 8-bit fields.
    ParsedDescriptor p({0x05, 0x01, 0x09, 0x04, 0xa1, 0x01, 0x09, 0x30, 0x26, 0xff, 0x00, 0x75, 0x08, 0x95,
                        0x01, 0x81, 0x02, 0x06, 0x00, 0xff, 0x09, 0x20, 0x95, 0x03, 0x81, 0x02, 0xc0});
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    const auto values = p.valueCaps();
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[1].ReportCount, 3);
    Bytes report = {0x00, 0x7f, 0x11, 0x22, 0x33};
    ULONG value = 0;
    ASSERT_EQ(p.value(0xff00, 0x20, report, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, 0x332211u);
    char bytes[3] = {};
    ASSERT_EQ(HidP_GetUsageValueArray(HidP_Input, 0xff00, 0, 0x20, bytes, 3, p.preparsed(),
                                      reinterpret_cast<PCHAR>(report.data()), 5),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(std::memcmp(bytes, "\x11\x22\x33", 3), 0);
    EXPECT_EQ(HidP_GetUsageValueArray(HidP_Input, 0xff00, 0, 0x20, bytes, 2, p.preparsed(),
                                      reinterpret_cast<PCHAR>(report.data()), 5),
              HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(HidP_GetUsageValueArray(HidP_Input, 1, 0, 0x30, bytes, 3, p.preparsed(),
                                      reinterpret_cast<PCHAR>(report.data()), 5),
              HIDP_STATUS_NOT_VALUE_ARRAY);
}

TEST(ParserDescriptors, KeyboardArrayIndicesCountFromLogicalMinimum)
{
    // Boot keyboard input: modifiers E0..E7, a constant byte, six keys 0..101.
    ParsedDescriptor p({0x05, 0x01, 0x09, 0x06, 0xa1, 0x01, 0x05, 0x07, 0x19, 0xe0, 0x29,
                        0xe7, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02,
                        0x95, 0x01, 0x75, 0x08, 0x81, 0x01, 0x95, 0x06, 0x75, 0x08, 0x15,
                        0x00, 0x25, 0x65, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xc0});
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(p.caps().InputReportByteLength, 9);
    EXPECT_EQ(HidP_MaxUsageListLength(HidP_Input, 7, p.preparsed()), 14u);
    EXPECT_EQ(p.usages(7, {0x00, 0x02, 0x00, 0x04, 0x00, 0x1d, 0x00, 0x66, 0x00}),
              (std::vector<USAGE>{0xe1, 0x04, 0x1d}));
}

TEST(ParserDescriptors, ArrayWithLogicalMinimumOneTreatsZeroAsEmpty)
{
    // Four usages 0x20..0x23 as a list, logical 1..4, two 8-bit fields.
    ParsedDescriptor p({0x05, 0x0c, 0x09, 0x01, 0xa1, 0x01, 0x09, 0x20, 0x09, 0x21, 0x09, 0x22, 0x09,
                        0x23, 0x15, 0x01, 0x25, 0x04, 0x75, 0x08, 0x95, 0x02, 0x81, 0x00, 0xc0});
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(p.buttonCaps().size(), 4u);
    EXPECT_EQ(p.usages(0x0c, {0x00, 0x01, 0x00}), (std::vector<USAGE>{0x20}));
    EXPECT_EQ(p.usages(0x0c, {0x00, 0x04, 0x03}), (std::vector<USAGE>{0x23, 0x22}));
    EXPECT_TRUE(p.usages(0x0c, {0x00, 0x05, 0xff}).empty());
}

TEST(ParserDescriptors, SixteenBitArrayFieldsAreReadWhole)
{
    // Consumer control: two 16-bit fields, usages and logical 0..0x3ff.
    ParsedDescriptor p({0x05, 0x0c, 0x09, 0x01, 0xa1, 0x01, 0x15, 0x00, 0x26, 0xff, 0x03, 0x19,
                        0x00, 0x2a, 0xff, 0x03, 0x75, 0x10, 0x95, 0x02, 0x81, 0x00, 0xc0});
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(p.usages(0x0c, {0x00, 0xe9, 0x00, 0x23, 0x02}), (std::vector<USAGE>{0xe9, 0x223}));
    EXPECT_TRUE(p.usages(0x0c, {0x00, 0x00, 0x00, 0xff, 0xff}).empty());
}

TEST(ParserDescriptors, PaddingTakesBitsButGivesNoCaps)
{
    // Five buttons and three constant bits.
    ParsedDescriptor p({0x05, 0x01, 0x09, 0x02, 0xa1, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29, 0x05, 0x25,
                        0x01, 0x75, 0x01, 0x95, 0x05, 0x81, 0x02, 0x95, 0x03, 0x81, 0x03, 0xc0});
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(p.caps().InputReportByteLength, 2);
    EXPECT_EQ(p.caps().NumberInputButtonCaps, 1);
    EXPECT_EQ(p.caps().NumberInputDataIndices, 5);
    EXPECT_EQ(p.usages(9, {0x00, 0xff}), (std::vector<USAGE>{1, 2, 3, 4, 5}));
}

// As Windows builds it for a headset's consumer collection: an explicit
// Usage (0) on a data item names a control like any other usage.
TEST(ParserDescriptors, UsageZeroOnADataItemIsAUsage)
{
    // Sixteen 1-bit fields and one byte, both Usage (0); then a constant byte with Usage (0).
    ParsedDescriptor p({0x05, 0x0c, 0x09, 0x01, 0xa1, 0x01, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01,
                        0x95, 0x10, 0x09, 0x00, 0x81, 0x02, 0x26, 0xff, 0x00, 0x75, 0x08, 0x95,
                        0x01, 0x09, 0x00, 0x81, 0x02, 0x09, 0x00, 0x81, 0x03, 0xc0});
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    const HIDP_CAPS caps = p.caps();
    EXPECT_EQ(caps.InputReportByteLength, 5);
    EXPECT_EQ(caps.NumberInputDataIndices, 2);
    const auto buttons = p.buttonCaps();
    ASSERT_EQ(buttons.size(), 1u);
    EXPECT_EQ(buttons[0].UsagePage, 0x0c);
    EXPECT_EQ(buttons[0].NotRange.Usage, 0);
    EXPECT_EQ(buttons[0].NotRange.DataIndex, 0);
    const auto values = p.valueCaps();
    ASSERT_EQ(values.size(), 1u); // the constant byte stays padding
    EXPECT_EQ(values[0].NotRange.Usage, 0);
    EXPECT_EQ(values[0].NotRange.DataIndex, 1);
    ULONG value = 0;
    ASSERT_EQ(p.value(0x0c, 0, {0x00, 0x00, 0x00, 0x7f, 0x55}, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, 0x7fu);
}

// A constant variable with a usage is a control the device reports; a
// constant array is padding whatever usage it carries, and takes no data index.
TEST(ParserDescriptors, ConstantItemsArePublicOnlyAsVariablesWithAUsage)
{
    // Buttons 1..3, constant button 4, then four constant array bytes with vendor usage 2.
    ParsedDescriptor p({0x05, 0x01, 0x09, 0x02, 0xa1, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29, 0x03, 0x15, 0x00,
                        0x25, 0x01, 0x75, 0x01, 0x95, 0x03, 0x81, 0x02, 0x09, 0x04, 0x95, 0x01, 0x81, 0x03,
                        0x06, 0x00, 0xff, 0x09, 0x02, 0x75, 0x08, 0x95, 0x04, 0x81, 0x01, 0xc0});
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(p.caps().InputReportByteLength, 6);
    EXPECT_EQ(p.caps().NumberInputDataIndices, 4);
    const auto buttons = p.buttonCaps();
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_EQ(buttons[1].UsagePage, 9);
    EXPECT_EQ(buttons[1].NotRange.Usage, 4);
    EXPECT_EQ(buttons[1].NotRange.DataIndex, 3);
    EXPECT_EQ(HidP_MaxUsageListLength(HidP_Input, 0xff00, p.preparsed()), 0u);
}

// Windows repeats a single usage and data index in the slots under
// Range.UsageMax and Range.DataIndexMax; programs that read Range without
// checking IsRange rely on it.
TEST(ParserDescriptors, SingleUsageCapsFillTheRangeSlotsToo)
{
    ParsedDescriptor p(kJoystick);
    const auto values = p.valueCaps();
    ASSERT_EQ(values.size(), 2u);
    ASSERT_FALSE(values[0].IsRange);
    EXPECT_EQ(values[0].NotRange.Reserved1, 0x31);
    EXPECT_EQ(values[0].NotRange.Reserved4, 8);
    EXPECT_EQ(values[1].Range.UsageMax, 0x30);
    EXPECT_EQ(values[1].Range.DataIndexMax, 9);
}

TEST(ParserDescriptors, EachTopLevelCollectionGetsItsOwnPreparsedData)
{
    // Mouse (report 1: 3 buttons + padding) and consumer control (report 2: one 16-bit array field).
    ParsedDescriptor p({0x05, 0x01, 0x09, 0x02, 0xa1, 0x01, 0x85, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29,
                        0x03, 0x25, 0x01, 0x75, 0x01, 0x95, 0x03, 0x81, 0x02, 0x95, 0x05, 0x81, 0x03,
                        0xc0, 0x05, 0x0c, 0x09, 0x01, 0xa1, 0x01, 0x85, 0x02, 0x19, 0x00, 0x2a, 0xff,
                        0x03, 0x26, 0xff, 0x03, 0x75, 0x10, 0x95, 0x01, 0x81, 0x00, 0xc0});
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    ASSERT_EQ(p.desc().CollectionDescLength, 2u);
    EXPECT_EQ(p.desc().CollectionDesc[0].Usage, 2);
    EXPECT_EQ(p.desc().CollectionDesc[0].CollectionNumber, 1);
    EXPECT_EQ(p.desc().CollectionDesc[1].UsagePage, 0x0c);
    EXPECT_EQ(p.desc().CollectionDesc[1].CollectionNumber, 2);
    EXPECT_EQ(p.desc().CollectionDesc[1].InputLength, 3);
    ASSERT_EQ(p.desc().ReportIDsLength, 2u);
    EXPECT_EQ(p.desc().ReportIDs[1].ReportID, 2);
    EXPECT_EQ(p.desc().ReportIDs[1].CollectionNumber, 2);
    EXPECT_EQ(p.caps(1).NumberLinkCollectionNodes, 1);
    EXPECT_EQ(p.usages(0x0c, {0x02, 0xcd, 0x00}, nullptr, 1), (std::vector<USAGE>{0xcd}));
    NTSTATUS status = 0;
    p.usages(0x0c, {0x02, 0xcd}, &status, 0);
    EXPECT_EQ(status, HIDP_STATUS_USAGE_NOT_FOUND);
}

TEST(ParserDescriptors, DelimitedUsagesAreAliasesOfOneField)
{
    // Delimiter set {X, Rx} then Y, two 8-bit fields.
    ParsedDescriptor p({0x05, 0x01, 0x09, 0x04, 0xa1, 0x01, 0xa9, 0x01, 0x09, 0x30, 0x09, 0x33, 0xa9,
                        0x00, 0x09, 0x31, 0x26, 0xff, 0x00, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0xc0});
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    const auto values = p.valueCaps();
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].NotRange.Usage, 0x31);
    EXPECT_EQ(values[1].NotRange.Usage, 0x30);
    EXPECT_TRUE(values[1].IsAlias);
    EXPECT_EQ(values[2].NotRange.Usage, 0x33);
    EXPECT_FALSE(values[2].IsAlias);
    EXPECT_EQ(values[1].NotRange.DataIndex, values[2].NotRange.DataIndex);
    EXPECT_EQ(p.caps().NumberInputDataIndices, 3); // one per cap, as the caps count them
    ULONG x = 0, rx = 0, y = 0;
    const Bytes report = {0x00, 0x12, 0x34};
    ASSERT_EQ(p.value(1, 0x30, report, x), HIDP_STATUS_SUCCESS);
    ASSERT_EQ(p.value(1, 0x33, report, rx), HIDP_STATUS_SUCCESS);
    ASSERT_EQ(p.value(1, 0x31, report, y), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(x, 0x12u);
    EXPECT_EQ(rx, 0x12u);
    EXPECT_EQ(y, 0x34u);
}

TEST(ParserDescriptors, InvertedUsageRangeIsKeptButNamesNothing)
{
    // Usage Minimum 8 above Usage Maximum 1, eight buttons.
    ParsedDescriptor p({0x05, 0x01, 0x09, 0x04, 0xa1, 0x01, 0x05, 0x09, 0x19, 0x08, 0x29,
                        0x01, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0xc0});
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    const auto buttons = p.buttonCaps();
    ASSERT_EQ(buttons.size(), 1u);
    EXPECT_EQ(buttons[0].Range.UsageMin, 8);
    EXPECT_EQ(buttons[0].Range.UsageMax, 1);
    EXPECT_EQ(buttons[0].Range.DataIndexMax, 65529);
    NTSTATUS status = 0;
    EXPECT_TRUE(p.usages(9, {0x00, 0xff}, &status).empty());
    EXPECT_EQ(status, HIDP_STATUS_SUCCESS);
}

TEST(ParserDescriptors, ReportCountLimitsWhatARangeReads)
{
    // Buttons 1..16 over 8 bits; values X..Rz (6 usages) over 2 fields.
    ParsedDescriptor p({0x05, 0x01, 0x09, 0x04, 0xa1, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29, 0x10,
                        0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x05, 0x01, 0x19, 0x30,
                        0x29, 0x35, 0x26, 0xff, 0x00, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0xc0});
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(p.caps().InputReportByteLength, 4);
    EXPECT_EQ(p.usages(9, {0x00, 0xff, 0x11, 0x22}).size(), 8u);
    ULONG value = 0;
    ASSERT_EQ(p.value(1, 0x31, {0x00, 0xff, 0x11, 0x22}, value), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, 0x22u);
    EXPECT_EQ(p.value(1, 0x32, {0x00, 0xff, 0x11, 0x22}, value), HIDP_STATUS_USAGE_NOT_FOUND);
}

TEST(ParserDescriptors, UsagesBeyondTheReportCountAreDiscarded)
{
    ParsedDescriptor p({0x05, 0x01, 0x09, 0x04, 0xa1, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09,
                        0x32, 0x26, 0xff, 0x00, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0xc0});
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(p.valueCaps().size(), 2u);
    ULONG value = 0;
    EXPECT_EQ(p.value(1, 0x32, {0x00, 0x01, 0x02}, value), HIDP_STATUS_USAGE_NOT_FOUND);
}

TEST(ParserDescriptors, LinkCollectionsFormATreeAndFilterLookups)
{
    // Application { Physical(Pointer) { X } , Y }.
    ParsedDescriptor p({0x05, 0x01, 0x09, 0x04, 0xa1, 0x01, 0x09, 0x01, 0xa1, 0x00, 0x09, 0x30, 0x26, 0xff,
                        0x00, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xc0, 0x09, 0x31, 0x81, 0x02, 0xc0});
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    HIDP_LINK_COLLECTION_NODE nodes[2] = {};
    ULONG count = 1;
    EXPECT_EQ(HidP_GetLinkCollectionNodes(nodes, &count, p.preparsed()), HIDP_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(HidP_GetLinkCollectionNodes(nodes, &count, p.preparsed()), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(nodes[0].NumberOfChildren, 1);
    EXPECT_EQ(nodes[0].FirstChild, 1);
    EXPECT_EQ(nodes[1].Parent, 0);
    EXPECT_EQ(nodes[1].LinkUsage, 1);
    EXPECT_EQ(nodes[1].CollectionType, 0u);

    Bytes report = {0x00, 0x05, 0x06};
    ULONG value = 0;
    EXPECT_EQ(HidP_GetUsageValue(HidP_Input, 1, 1, 0x30, &value, p.preparsed(),
                                 reinterpret_cast<PCHAR>(report.data()), 3),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, 5u);
    EXPECT_EQ(HidP_GetUsageValue(HidP_Input, 1, 1, 0x31, &value, p.preparsed(),
                                 reinterpret_cast<PCHAR>(report.data()), 3),
              HIDP_STATUS_USAGE_NOT_FOUND);
    HIDP_VALUE_CAPS caps[2];
    USHORT length = 2;
    ASSERT_EQ(HidP_GetSpecificValueCaps(HidP_Input, 1, 1, 0, caps, &length, p.preparsed()),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(length, 1);
    EXPECT_EQ(caps[0].NotRange.Usage, 0x30);
}

TEST(ParserDescriptors, HidGuidIsTheHidInterfaceClass)
{
    GUID guid{};
    HidD_GetHidGuid(&guid);
    const GUID expected = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    EXPECT_TRUE(guid == expected);
}

namespace
{

// Windows' MulDiv rounding, written out independently of the parser.
LONG expectedScaled(int64_t value, int64_t logicalMin, int64_t logicalMax, int64_t physicalMin,
                    int64_t physicalMax)
{
    const int64_t n = (value - logicalMin) * (physicalMax - physicalMin);
    const int64_t d = logicalMax - logicalMin;
    return static_cast<LONG>(physicalMin + (n + d / 2) / d);
}

} // namespace

TEST(ParserDescriptors, ScaledValuesRoundHalfAwayFromZeroAcrossTheWholeRange)
{
    // 10-bit axis, logical 0..1023, physical 0..359 (products fit in 32 bits).
    ParsedDescriptor small({0x05, 0x01, 0x09, 0x04, 0xa1, 0x01, 0x09, 0x30, 0x15, 0x00, 0x26, 0xff, 0x03,
                            0x35, 0x00, 0x46, 0x67, 0x01, 0x75, 0x10, 0x95, 0x01, 0x81, 0x02, 0xc0});
    // 16-bit axis, logical 0..65535, physical 0..100000 (products beyond 32 bits).
    ParsedDescriptor large({0x05, 0x01, 0x09, 0x04, 0xa1, 0x01, 0x09, 0x30, 0x15, 0x00,
                            0x27, 0xff, 0xff, 0x00, 0x00, 0x35, 0x00, 0x47, 0xa0, 0x86,
                            0x01, 0x00, 0x75, 0x10, 0x95, 0x01, 0x81, 0x02, 0xc0});
    ASSERT_EQ(small.status(), HIDP_STATUS_SUCCESS);
    ASSERT_EQ(large.status(), HIDP_STATUS_SUCCESS);
    int mismatches = 0;
    for (uint32_t v = 0; v <= 0xffff; ++v)
    {
        const std::vector<uint8_t> report = {0x00, static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
        LONG scaled = 0;
        if (v <= 1023)
            mismatches += small.scaled(1, 0x30, report, scaled) != HIDP_STATUS_SUCCESS ||
                          scaled != expectedScaled(v, 0, 1023, 0, 359);
        mismatches += large.scaled(1, 0x30, report, scaled) != HIDP_STATUS_SUCCESS ||
                      scaled != expectedScaled(v, 0, 65535, 0, 100000);
    }
    EXPECT_EQ(mismatches, 0);
}
