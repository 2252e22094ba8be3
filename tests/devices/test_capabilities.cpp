// What a device's capability list says, and the two-call size protocol behind KvHRGetDeviceCapabilities.
#include <gtest/gtest.h>

#include "DeviceTestSupport.h"

using namespace devtest;

namespace
{
void StartWith(const std::vector<uint8_t>& descriptor)
{
    ASSERT_NE(Plug(Description(descriptor)), 0u);
    ASSERT_EQ(KvHRInitialize(), 0u);
    ASSERT_EQ(DevicesList(), (std::vector<uint32_t>{0}));
}

void ExpectRecord(const _stHidCapability& cap, uint16_t usagePage, uint16_t usage, int32_t minValue,
                  int32_t maxValue, uint32_t index)
{
    EXPECT_EQ(cap.usagePage, usagePage);
    EXPECT_EQ(cap.usage, usage);
    EXPECT_EQ(cap.minValue, minValue) << "usage " << usage;
    EXPECT_EQ(cap.maxValue, maxValue) << "usage " << usage;
    EXPECT_EQ(cap.index, index) << "usage " << usage;
    EXPECT_NE(cap.isAbsolute, 0);
}
} // namespace

TEST(CapabilitiesTest, AJoystickListsItsEightButtonsThenXAndY)
{
    StartWith(JoystickDescriptor());
    const auto caps = Capabilities(0);
    ASSERT_EQ(caps.size(), 10u);
    for (uint16_t b = 0; b < 8; ++b)
        ExpectRecord(caps[b], 9, static_cast<uint16_t>(b + 1), 0, 128, 0);
    ExpectRecord(caps[8], 1, 0x30, 0, 1023, 0);
    ExpectRecord(caps[9], 1, 0x31, 0, 1023, 0);
    EXPECT_EQ(DllAlloc::LiveBlocks(u"KvHRGetDeviceCapabilities"), 0u);
    KvHRUnInitialize();
}

TEST(CapabilitiesTest, ButtonsOfOtherPagesCountInTheSizeButAreNotListed)
{
    StartWith(ConsumerButtonsDescriptor());
    const auto caps = Capabilities(0);
    ASSERT_EQ(caps.size(), 2u);
    ExpectRecord(caps[0], 9, 1, 0, 128, 0);
    ExpectRecord(caps[1], 9, 2, 0, 128, 0);

    // The deliveries carry all five buttons, and their count is the size the first call reports.
    ValueRecorder values;
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(0, &ValueRecorder::Callback, &values), 0u);
    ASSERT_EQ(KvHRSetPolling(0, 1), 0u);
    ASSERT_TRUE(Send(1, {0, 0x02 | 0x08}));
    ASSERT_TRUE(values.WaitForCount(1));
    const auto delivered = values.Last().values;
    ASSERT_EQ(delivered.size(), 5u);
    EXPECT_EQ(ValueOf(delivered, 9, 2), 1);
    EXPECT_EQ(ValueOf(delivered, 9, 1), 0);
    EXPECT_EQ(ValueOf(delivered, 0x0C, 0xEA), 1);
    EXPECT_EQ(ValueOf(delivered, 0x0C, 0xE9), 0);
    EXPECT_EQ(ValueOf(delivered, 0x0C, 0xEB), 0);
    StopReader(0);
    KvHRUnInitialize();
}

TEST(CapabilitiesTest, TwoAxesOfOneUsageAreNumberedAndOtherValuePagesAreLeftOut)
{
    StartWith(TwoZAxesDescriptor());
    const auto caps = Capabilities(0);
    ASSERT_EQ(caps.size(), 2u);
    ExpectRecord(caps[0], 1, 0x32, 0, 255, 0);
    ExpectRecord(caps[1], 1, 0x32, 0, 255, 1);
    KvHRUnInitialize();
}

TEST(CapabilitiesTest, AReversedLogicalRangeIsListedInOrder)
{
    StartWith(ReversedRangeDescriptor());
    const auto caps = Capabilities(0);
    ASSERT_EQ(caps.size(), 1u);
    ExpectRecord(caps[0], 1, 0x30, 0, 255, 0);
    KvHRUnInitialize();
}

TEST(CapabilitiesTest, ReportIdsAndSeveralButtonGroupsKeepTheOrderOfTheParsersCapabilities)
{
    StartWith(TwoButtonGroupsDescriptor());
    const auto caps = Capabilities(0);
    ASSERT_EQ(caps.size(), 17u);
    for (uint16_t b = 0; b < 16; ++b)
        ExpectRecord(caps[b], 9, static_cast<uint16_t>(b + 1), 0, 128, 0);
    ExpectRecord(caps[16], 1, 0x30, 0, 255, 0);
    KvHRUnInitialize();
}

TEST(CapabilitiesTest, EveryFailedQueryLeavesTheOutputsClearedAndTheBlocksAreTheApplications)
{
    StartWith(JoystickDescriptor());
    _stHidCapability* caps = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(KvHRGetDeviceCapabilities(0, &caps, &count), 0u);
    ASSERT_EQ(count, 10u);
    EXPECT_EQ(DllAlloc::LiveBlocks(u"KvHRGetDeviceCapabilities"), 1u);
    EXPECT_EQ(KvHRFreeWithTag(caps, u"KvHRGetDeviceCapabilities"), 0);

    caps = reinterpret_cast<_stHidCapability*>(16);
    count = 99;
    EXPECT_EQ(KvHRGetDeviceCapabilities(1, &caps, &count), KVHR_ERROR_NOT_FOUND);
    EXPECT_EQ(caps, nullptr);
    EXPECT_EQ(count, 0u);
    KvHRUnInitialize();
}

// A device with no input at all: the size query says 0, so the export hands out nothing and checks nothing.
TEST(CapabilitiesTest, ADeviceWithoutInputsHasAnEmptyList)
{
    const std::vector<uint8_t> outputOnly = {0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0x09, 0x30, 0x15, 0x00,
                                             0x25, 0x7F, 0x75, 0x08, 0x95, 0x01, 0x91, 0x02, 0xC0};
    ASSERT_NE(Plug(Description(outputOnly)), 0u);
    LogCapture log;
    ASSERT_EQ(KvHRInitialize(), 0u);
    ASSERT_EQ(DevicesList(), (std::vector<uint32_t>{0}));
    _stHidCapability* caps = reinterpret_cast<_stHidCapability*>(16);
    uint32_t count = 3;
    EXPECT_EQ(KvHRGetDeviceCapabilities(0, &caps, &count), 0u);
    EXPECT_EQ(caps, nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(log.CountContaining(W("ASSERT(hRes == ERROR_INSUFFICIENT_BUFFER)")), 0u);
    KvHRUnInitialize();
}
