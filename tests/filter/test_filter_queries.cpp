// Filtered devices as the application finds them: the script state, the list, names and capabilities.
#include <gtest/gtest.h>

#include "KvFilterTestSupport.h"
#include "KvNotificationRecorder.h"
#include "KvTestSupport.h"

#include <string>

namespace
{
class FilterQueryTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(KvHRInitialize(), 0u); }
    void TearDown() override
    {
        KvHRUnInitialize();
        EXPECT_EQ(KvSimService::LiveBlocks(), 0u) << "a block of the service was not returned";
    }

    std::vector<_stHidCapability> Capabilities(uint32_t serviceId)
    {
        _stHidCapability* caps = nullptr;
        uint32_t count = 7;
        EXPECT_EQ(KvHRGetDeviceCapabilities(FilteredId(serviceId), &caps, &count), 0u);
        EXPECT_EQ(caps == nullptr, count == 0) << "a count of 0 goes with a null array";
        std::vector<_stHidCapability> out(caps, caps + count);
        EXPECT_EQ(KvHRFree(caps), 0);
        return out;
    }

    WString Name(uint32_t id)
    {
        KvHRWChar* name = nullptr;
        EXPECT_EQ(KvHRGetDeviceName(id, &name), 0u);
        EXPECT_NE(name, nullptr);
        if (name == nullptr)
            return WString();
        EXPECT_EQ(DllAlloc::LiveBlocks(TEXT("KvHRGetDeviceName")), 1u);
        WString copy(name);
        EXPECT_EQ(KvHRFree(name), 0);
        return copy;
    }
};

struct ExpectedCap
{
    uint16_t usage;
    uint16_t usagePage;
    int32_t minValue;
    int32_t maxValue;
    uint32_t index;
};

void ExpectCapabilities(const std::vector<_stHidCapability>& caps, const std::vector<ExpectedCap>& expected)
{
    ASSERT_EQ(caps.size(), expected.size());
    for (size_t i = 0; i < caps.size(); ++i)
    {
        SCOPED_TRACE("record " + std::to_string(i));
        EXPECT_EQ(caps[i].usage, expected[i].usage);
        EXPECT_EQ(caps[i].usagePage, expected[i].usagePage);
        EXPECT_EQ(caps[i].isAbsolute, 1);
        EXPECT_EQ(caps[i].minValue, expected[i].minValue);
        EXPECT_EQ(caps[i].maxValue, expected[i].maxValue);
        EXPECT_EQ(caps[i].index, expected[i].index);
    }
}
} // namespace

// ---- Script state ----

TEST_F(FilterQueryTest, ScriptRunningFollowsTheServiceEvenWithoutANotificationAndAFailedQueryReadsFalse)
{
    uint8_t running = 7;
    EXPECT_EQ(KvHRFilterGetScriptRunning(&running), 0u);
    EXPECT_EQ(running, 0);

    // Changed while no handler listens: the flag is read from the service, not from the last event.
    KvHRSetNotificationHandler(nullptr, nullptr);
    KvSimService::SetScriptRunning(true);
    ASSERT_TRUE(KvSimService::WaitIdle(10000));
    EXPECT_EQ(KvHRFilterGetScriptRunning(&running), 0u);
    EXPECT_EQ(running, 1);

    KvSimService::SetCallStatus(KvSimCall::IsScriptRunning, 1460);
    EXPECT_EQ(KvHRFilterGetScriptRunning(&running), 0u);
    EXPECT_EQ(running, 0);
}

// The registration's status is not read: the start succeeds and announces the state, but the service has
// no one to tell of later changes or input.
TEST(FilterRegistrationTest, AFailedHandlerRegistrationStartsAFilterModeThatHearsNothing)
{
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    KvSimService::SetCallStatus(KvSimCall::RegisterNotificationHandler, 1460);
    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(recorder.Events().size(), 1u);
    EXPECT_FALSE(KvSimService::HasHandler());
    KvSimService::SetScriptRunning(true);
    EXPECT_EQ(KvSimService::DroppedNotifications(), 1u);
    EXPECT_EQ(KvHRUnInitialize(), 0u);
}

// ---- The list of filtered devices ----

TEST_F(FilterQueryTest, DevicesAppearingAndGoingWhileAScriptRunsShowInTheNextList)
{
    KvSimService::SetScriptRunning(true);
    uint32_t* list = nullptr;
    uint32_t count = 5;
    EXPECT_EQ(KvHRFilterGetDevicesList(&list, &count), 0u);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(count, 0u);

    KvSimService::AddFilteredDevice(5, TEXT("Wheel"), Gamepad());
    KvSimService::AddFilteredDevice(0x1234, TEXT("Stick"), Gamepad());
    ASSERT_EQ(KvHRFilterGetDevicesList(&list, &count), 0u);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(list[0], 0x00FF0005u);
    EXPECT_EQ(list[1], 0x00FF1234u);
    KvHRFree(list);

    KvSimService::RemoveFilteredDevice(5);
    ASSERT_EQ(KvHRFilterGetDevicesList(&list, &count), 0u);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(list[0], 0x00FF1234u);
    KvHRFree(list);

    // A device that went away is still named, with the library's own name, and describes no input.
    EXPECT_EQ(Name(FilteredId(5)), W("FILTER-Implement"));
    EXPECT_TRUE(Capabilities(5).empty());
}

TEST_F(FilterQueryTest, AServiceReportingMoreThanTheCapacityIsRefusedAndSixteenAreListed)
{
    LogCapture log;
    KvSimService::SetIgnoreCapacity(true);
    for (DWORD id = 0; id < MAX_FILTERED_DEVICES; ++id)
        KvSimService::AddFilteredDevice(id, nullptr, Gamepad());
    uint32_t* list = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(KvHRFilterGetDevicesList(&list, &count), 0u);
    ASSERT_EQ(count, MAX_FILTERED_DEVICES);
    EXPECT_EQ(list[15], FilteredId(15));
    KvHRFree(list);

    KvSimService::AddFilteredDevice(16, nullptr, Gamepad());
    EXPECT_EQ(KvHRFilterGetDevicesList(&list, &count), KVHR_ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(
        log.Count(W("KvHRFilterGetDevicesList: the service reported 17 filtered devices, more than 16\n")),
        1u);
    EXPECT_EQ(DllAlloc::LiveBlocks(TEXT("KvHRFilterGetDevicesList")), 0u);
}

// ---- Names ----

TEST_F(FilterQueryTest, NamesComeFromTheServiceCutTo255CharactersOrAreTheLibrarysOwn)
{
    const WString longName(300, u'n');
    KvSimService::AddFilteredDevice(1, TEXT("Flight Stick"), Gamepad());
    KvSimService::AddFilteredDevice(2, longName.c_str(), Gamepad());
    KvSimService::AddFilteredDevice(3, WString(255, u'x').c_str(), Gamepad());
    KvSimService::AddFilteredDevice(4, nullptr, Gamepad());

    EXPECT_EQ(Name(FilteredId(1)), W("Flight Stick"));
    // Any bit of the flag names a filtered device; the rest is the service's number.
    EXPECT_EQ(Name(0x00010001u), W("Flight Stick"));
    EXPECT_EQ(Name(FilteredId(2)), WString(255, u'n'));
    EXPECT_EQ(Name(FilteredId(3)), WString(255, u'x'));
    EXPECT_EQ(Name(FilteredId(4)), W("FILTER-Implement"));

    KvSimService::SetCallStatus(KvSimCall::GetFilteredDeviceName, 1460);
    EXPECT_EQ(Name(FilteredId(1)), W("FILTER-Implement"));
}

TEST_F(FilterQueryTest, FilteredDevicesAreNotThePhysicalVirtualKind)
{
    uint8_t isVirtual = 1;
    EXPECT_EQ(KvHRIsDeviceVirtual(FilteredId(0), &isVirtual), KVHR_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(isVirtual, 0);
    isVirtual = 1;
    EXPECT_EQ(KvHRIsDeviceVirtual(0x00800007u, &isVirtual), KVHR_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(isVirtual, 0);
}

// ---- Capabilities ----

TEST_F(FilterQueryTest, TheWorkedExampleGivesTwelveButtonsXYAndAHat)
{
    KvSimService::AddFilteredDevice(0, nullptr, Gamepad());
    std::vector<ExpectedCap> expected;
    for (uint16_t b = 1; b <= 12; ++b)
        expected.push_back({b, 9, 0, 1, 0}); // filtered buttons reach 1, not 128
    expected.push_back({0x30, 1, 0, 255, 0});
    expected.push_back({0x31, 1, -128, 127, 0});
    expected.push_back({0x39, 1, 0, 7, 0});
    ExpectCapabilities(Capabilities(0), expected);
    EXPECT_EQ(DllAlloc::LiveBlocks(nullptr), 0u);
}

TEST_F(FilterQueryTest, EveryAxisEntryHasItsUsageAbsentOnesAreLeftOutAndHatsAreNumbered)
{
    // Entries 0 (absent: both 0), 1 (only a maximum), 2 (only a minimum), then throttle and sliders.
    std::vector<AxisRange> axes = {{1, 0, 5},   {2, -5, 0}, {3, 1, 2}, {4, 1, 2}, {5, 1, 2},
                                   {6, 10, 20}, {7, 0, 1},  {8, 0, 2}, {9, 0, 3}, {10, 0, 4}};
    KvSimService::AddFilteredDevice(0, nullptr, Describe(0, axes, {{0, 3}, {0, 8}}));
    ExpectCapabilities(Capabilities(0), {{0x31, 1, 0, 5, 0},
                                         {0x32, 1, -5, 0, 0},
                                         {0x33, 1, 1, 2, 0},
                                         {0x34, 1, 1, 2, 0},
                                         {0x35, 1, 1, 2, 0},
                                         {0xBB, 2, 10, 20, 0},
                                         {0x36, 1, 0, 1, 0},
                                         {0x36, 1, 0, 2, 1},
                                         {0x36, 1, 0, 3, 2},
                                         {0x36, 1, 0, 4, 3},
                                         {0x39, 1, 0, 3, 0},
                                         {0x39, 1, 0, 8, 1}});
}

TEST_F(FilterQueryTest, ADeviceWithoutInputsOrAFailingServiceGivesNoRecordsAfterTheSizeCheck)
{
    LogCapture log;
    KvSimService::AddFilteredDevice(0, nullptr, Describe(0));
    EXPECT_TRUE(Capabilities(0).empty());
    EXPECT_EQ(log.CountContaining(W("ASSERT(hRes == ERROR_INSUFFICIENT_BUFFER) failed in \"KvHidRaw\"")), 1u);
    EXPECT_EQ(log.CountContaining(W(" function KvHRGetDeviceCapabilities")), 1u);

    KvSimService::AddFilteredDevice(1, nullptr, Gamepad());
    KvSimService::SetCallStatus(KvSimCall::GetSelectedDevicePhysicalCapabilities, 1460);
    EXPECT_TRUE(Capabilities(1).empty());
    EXPECT_EQ(log.CountContaining(W("ASSERT(hRes == ERROR_INSUFFICIENT_BUFFER)")), 2u);
    EXPECT_EQ(DllAlloc::LiveBlocks(nullptr), 0u);
}

// The two calls of the size protocol ask the service twice; what it answers in between must never give
// a count that does not match the array.
TEST_F(FilterQueryTest, AServiceChangingItsAnswerBetweenTheSizeAndTheFillGivesNoRecords)
{
    KvSimService::AddFilteredDevice(0, nullptr, Describe(2));
    int answers = 0;
    KvSimService::SetAnswerHook(KvSimCall::GetSelectedDevicePhysicalCapabilities,
                                [&]
                                {
                                    if (++answers == 1)
                                        KvSimService::AddFilteredDevice(
                                            0, nullptr, Describe(40)); // grows after the size query
                                });
    EXPECT_TRUE(Capabilities(0).empty());
    EXPECT_EQ(answers, 2);

    answers = 0;
    KvSimService::SetAnswerHook(KvSimCall::GetSelectedDevicePhysicalCapabilities,
                                [&]
                                {
                                    if (++answers == 1)
                                        KvSimService::SetCallStatus(
                                            KvSimCall::GetSelectedDevicePhysicalCapabilities, 1460);
                                });
    EXPECT_TRUE(Capabilities(0).empty());
    KvSimService::SetCallStatus(KvSimCall::GetSelectedDevicePhysicalCapabilities, 0);

    // A device that shrank between the calls gets the records the fill wrote.
    answers = 0;
    KvSimService::SetAnswerHook(KvSimCall::GetSelectedDevicePhysicalCapabilities,
                                [&]
                                {
                                    if (++answers == 1)
                                        KvSimService::AddFilteredDevice(0, nullptr, Describe(1));
                                });
    EXPECT_EQ(Capabilities(0).size(), 1u);
    KvSimService::SetAnswerHook(KvSimCall::GetSelectedDevicePhysicalCapabilities, nullptr);
    EXPECT_EQ(DllAlloc::LiveBlocks(nullptr), 0u);
}

TEST_F(FilterQueryTest, DescriptionsWhoseCountsDisagreeWithTheirEntriesAreReadWithinTheirBounds)
{
    LogCapture log;
    // One button declared, but its byte is 0; two axes present while none is counted.
    _stHidPhysicalInputData caps = Describe(1, {{0, 0, 9}, {1, 0, 9}});
    caps.buttons[0] = 0;
    caps.axisCount = 0;
    KvSimService::AddFilteredDevice(0, nullptr, caps);
    ExpectCapabilities(Capabilities(0), {{1, 9, 0, 1, 0}});
    EXPECT_EQ(log.CountContaining(W("ASSERT(pData->buttons[i] != 0) failed in \"KvHidFilterMgmt\"")), 1u);
    EXPECT_EQ(log.CountContaining(W("ASSERT(pos <= *numCap) failed in \"KvHidFilterMgmt\"")), 1u);
    EXPECT_EQ(log.CountContaining(W("ASSERT(pos<=capCount) failed in \"KvHidFilterMgmt\"")), 1u);
    EXPECT_EQ(log.CountContaining(W(" function CKvHidFilterMgmt::TranslateHidInputToHidCapabilities")), 3u);

    // The records hold 8 hats, whatever count is declared; 255 buttons are all listed.
    caps = Describe(255, {}, {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}, {0, 6}, {0, 7}, {0, 8}});
    caps.hatCount = 200;
    KvSimService::AddFilteredDevice(1, nullptr, caps);
    const auto listed = Capabilities(1);
    ASSERT_EQ(listed.size(), 255u + 8u);
    EXPECT_EQ(listed[254].usage, 255);
    EXPECT_EQ(listed.back().index, 7u);
    EXPECT_EQ(listed.back().maxValue, 8);
}
