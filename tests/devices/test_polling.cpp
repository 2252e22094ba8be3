// Polling a physical device: its reader, the deliveries after each report, switching polling on and off.
#include <gtest/gtest.h>

#include "DeviceTestSupport.h"

#include <chrono>
#include <cstdlib>

using namespace devtest;

namespace
{
// Starts the library with one device at position 0, polled into the recorder.
uint32_t StartPolled(const std::vector<uint8_t>& descriptor, ValueRecorder& values)
{
    const uint32_t id = Plug(Description(descriptor));
    EXPECT_NE(id, 0u);
    EXPECT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(KvHRSetReadDeviceValuesCallback(0, &ValueRecorder::Callback, &values), 0u);
    EXPECT_EQ(KvHRSetPolling(0, 1), 0u);
    return id;
}

// Stops polling and waits for the reader to end; returns the deliveries it made meanwhile.
size_t StopPolling(ValueRecorder& values, int readersBefore)
{
    const size_t before = values.Count();
    EXPECT_EQ(KvHRSetPolling(0, 0), 0u);
    EXPECT_TRUE(WaitUntil([&] { return RunningThreads() == readersBefore; }));
    return values.Count() - before;
}
} // namespace

TEST(PollingTest, EveryReportIsDeliveredWithEveryInputOnATimeCriticalReader)
{
    ValueRecorder values;
    const uint32_t id = StartPolled(JoystickDescriptor(), values);
    ASSERT_TRUE(Send(id, {0x00, 0x81, 0x34, 0x02, 0xFF, 0x03}));
    ASSERT_TRUE(values.WaitForCount(1));
    ASSERT_TRUE(Send(id, {0x00, 0x02, 0x00, 0x00, 0x01, 0x00}));
    ASSERT_TRUE(values.WaitForCount(2));

    const auto deliveries = values.Deliveries();
    ASSERT_EQ(deliveries.size(), 2u);
    for (const auto& d : deliveries)
    {
        ASSERT_EQ(d.values.size(), 10u);
        EXPECT_EQ(d.priority, 15); // THREAD_PRIORITY_TIME_CRITICAL
        for (uint16_t b = 0; b < 8; ++b)
        {
            EXPECT_EQ(d.values[b].usagePage, 9);
            EXPECT_EQ(d.values[b].usage, b + 1);
            EXPECT_EQ(d.values[b].index, 0u);
            EXPECT_EQ(d.values[b].scaledValue, static_cast<int32_t>(d.values[b].value));
        }
        EXPECT_EQ(d.values[8].usage, 0x30);
        EXPECT_EQ(d.values[9].usage, 0x31);
    }
    const auto& first = deliveries[0].values;
    for (uint16_t b = 0; b < 8; ++b)
        EXPECT_EQ(first[b].value, (b == 0 || b == 7) ? 1u : 0u) << "button " << b + 1;
    EXPECT_EQ(first[8].value, 0x234u);
    EXPECT_EQ(first[9].value, 0x3FFu);
    EXPECT_EQ(first[9].scaledValue, 0x3FF);
    const auto& second = deliveries[1].values;
    EXPECT_EQ(ValueOf(second, 9, 2), 1);
    EXPECT_EQ(ValueOf(second, 9, 1), 0);
    EXPECT_EQ(ValueOf(second, 9, 8), 0);
    EXPECT_EQ(ValueOf(second, 1, 0x30), 0);
    EXPECT_EQ(ValueOf(second, 1, 0x31), 1);
    StopReader(0);
    KvHRUnInitialize();
}

TEST(PollingTest, AReportOfOneIdUpdatesOnlyItsInputsAndTheOthersKeepTheirLastValues)
{
    ValueRecorder values;
    const uint32_t id = StartPolled(TwoReportsDescriptor(), values);
    ASSERT_TRUE(Send(id, {0x02, 0x10, 0x20}));
    ASSERT_TRUE(values.WaitForCount(1));
    auto last = values.Last().values;
    ASSERT_EQ(last.size(), 10u);
    EXPECT_EQ(ValueOf(last, 1, 0x30), 0x10);
    EXPECT_EQ(ValueOf(last, 1, 0x31), 0x20);
    for (uint16_t b = 1; b <= 8; ++b)
        EXPECT_EQ(ValueOf(last, 9, b), 0);

    ASSERT_TRUE(Send(id, {0x01, 0x05}));
    ASSERT_TRUE(values.WaitForCount(2));
    last = values.Last().values;
    EXPECT_EQ(ValueOf(last, 9, 1), 1);
    EXPECT_EQ(ValueOf(last, 9, 3), 1);
    EXPECT_EQ(ValueOf(last, 9, 2), 0);
    EXPECT_EQ(ValueOf(last, 1, 0x30), 0x10);
    EXPECT_EQ(ValueOf(last, 1, 0x31), 0x20);

    ASSERT_TRUE(Send(id, {0x02, 0x30, 0x40}));
    ASSERT_TRUE(values.WaitForCount(3));
    last = values.Last().values;
    EXPECT_EQ(ValueOf(last, 9, 1), 1);
    EXPECT_EQ(ValueOf(last, 9, 3), 1);
    EXPECT_EQ(ValueOf(last, 1, 0x30), 0x30);
    EXPECT_EQ(ValueOf(last, 1, 0x31), 0x40);
    StopReader(0);
    KvHRUnInitialize();
}

TEST(PollingTest, EachButtonGroupMarksOnlyTheButtonsOfItsOwnRange)
{
    ValueRecorder values;
    const uint32_t id = StartPolled(TwoButtonGroupsDescriptor(), values);
    ASSERT_TRUE(Send(id, {0x00, 0x04, 0x08, 0x7F})); // buttons 3 and 12
    ASSERT_TRUE(values.WaitForCount(1));
    const auto last = values.Last().values;
    ASSERT_EQ(last.size(), 17u);
    for (uint16_t b = 1; b <= 16; ++b)
        EXPECT_EQ(ValueOf(last, 9, b), (b == 3 || b == 12) ? 1 : 0) << "button " << b;
    EXPECT_EQ(ValueOf(last, 1, 0x30), 0x7F);

    // Every button of a group down: the usage list is full, with no terminating 0.
    ASSERT_TRUE(Send(id, {0x00, 0xFF, 0x00, 0x00}));
    ASSERT_TRUE(values.WaitForCount(2));
    const auto full = values.Last().values;
    for (uint16_t b = 1; b <= 16; ++b)
        EXPECT_EQ(ValueOf(full, 9, b), b <= 8 ? 1 : 0) << "button " << b;
    StopReader(0);
    KvHRUnInitialize();
}

// A reader always makes one delivery after it issued its first read, so polling switched off at once yields
// exactly one delivery, of the values before any report.
TEST(PollingTest, OnAgainAnswersAlreadyInitialisedOffEndsTheReaderAfterOneLastDeliveryAndOnStartsAnew)
{
    const uint32_t id = Plug(Description(JoystickDescriptor()));
    ASSERT_EQ(KvHRInitialize(), 0u);
    ValueRecorder values;
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(0, &ValueRecorder::Callback, &values), 0u);
    const int readersOff = RunningThreads();
    LogCapture log;
    EXPECT_EQ(KvHRSetPolling(0, 1), 0u);
    EXPECT_EQ(KvHRSetPolling(0, 1), KVHR_ERROR_ALREADY_INITIALIZED);
    EXPECT_EQ(log.Lines().size(), 0u);
    EXPECT_EQ(RunningThreads(), readersOff + 1);
    EXPECT_EQ(StopPolling(values, readersOff), 1u);
    const auto last = values.Last().values;
    ASSERT_EQ(last.size(), 10u);
    for (const _stHidValue& v : last)
        EXPECT_EQ(v.value, 0u);

    // On after off: a new reader, reading the reports sent from now on.
    EXPECT_EQ(KvHRSetPolling(0, 1), 0u);
    EXPECT_EQ(RunningThreads(), readersOff + 1);
    ASSERT_TRUE(Send(id, {0x00, 0x01, 0x10, 0x00, 0x20, 0x00}));
    ASSERT_TRUE(values.WaitForCount(2));
    EXPECT_EQ(ValueOf(values.Last().values, 9, 1), 1);
    ASSERT_TRUE(Send(id, {0x00, 0x02, 0x30, 0x00, 0x40, 0x00}));
    ASSERT_TRUE(values.WaitForCount(3));
    // Off again: whatever the reader was doing, its last delivery carries the last report's values.
    StopPolling(values, readersOff);
    EXPECT_EQ(ValueOf(values.Last().values, 9, 2), 1);
    EXPECT_EQ(ValueOf(values.Last().values, 9, 1), 0);
    EXPECT_EQ(ValueOf(values.Last().values, 1, 0x30), 0x30);
    EXPECT_EQ(ValueOf(values.Last().values, 1, 0x31), 0x40);
    EXPECT_EQ(Machine::Instance().GetDeviceStats(id).reportsDropped, 0u);
    EXPECT_EQ(FailedChecks(log), "");
    KvHRUnInitialize();
}

TEST(PollingTest, APolledDeviceWithoutACallbackReadsOnAndACallbackRegisteredLaterServesTheNextReports)
{
    const uint32_t id = Plug(Description(JoystickDescriptor()));
    ASSERT_EQ(KvHRInitialize(), 0u);
    const int readersOff = RunningThreads();
    ASSERT_EQ(KvHRSetPolling(0, 1), 0u);
    ASSERT_TRUE(Send(id, {0x00, 0x01, 0x11, 0x00, 0x00, 0x00}));
    ASSERT_TRUE(Send(id, {0x00, 0x01, 0x12, 0x00, 0x00, 0x00}));
    ValueRecorder values;
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(0, &ValueRecorder::Callback, &values), 0u);
    ASSERT_TRUE(Send(id, {0x00, 0x02, 0x22, 0x00, 0x00, 0x00}));
    ASSERT_TRUE(WaitUntil(
        [&]
        {
            const auto last = values.Last().values;
            return ValueOf(last, 1, 0x30) == 0x22 && ValueOf(last, 9, 2) == 1;
        }));
    EXPECT_EQ(RunningThreads(), readersOff + 1);
    // A null callback is stored like any other: deliveries stop, reading goes on.
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(0, nullptr, nullptr), 0u);
    const size_t delivered = values.Count();
    ASSERT_TRUE(Send(id, {0x00, 0x04, 0x33, 0x00, 0x00, 0x00}));
    StopReader(0);
    EXPECT_LE(values.Count(), delivered + 1); // at most the delivery that was under way
    KvHRUnInitialize();
}

TEST(PollingTest, APolledDeviceRemovedByAnUpdateEndsItsReaderAndIsAnnouncedGone)
{
    ValueRecorder values;
    const uint32_t id = StartPolled(JoystickDescriptor(), values);
    const int threadsBefore = RunningThreads() - 1; // all but the reader
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    ASSERT_TRUE(Send(id, {0x00, 0x01, 0x10, 0x00, 0x20, 0x00}));
    ASSERT_TRUE(values.WaitForCount(1));

    ASSERT_TRUE(Machine::Instance().UnplugDevice(id, winport::machine::Removal::Surprise));
    EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u);
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_REMOVED), (std::vector<uint32_t>{0}));
    EXPECT_TRUE(DevicesList().empty());
    EXPECT_TRUE(WaitUntil([&] { return RunningThreads() == threadsBefore; }));
    EXPECT_EQ(Machine::Instance().GetDeviceStats(id).openHandles, 0);
    EXPECT_EQ(KvHRSetPolling(0, 1), KVHR_ERROR_NOT_FOUND);
    KvHRUnInitialize();
}

TEST(PollingTest, StoppingTheLibraryLeavesAPolledDeviceOpenAndPolled)
{
    ValueRecorder values;
    const uint32_t id = StartPolled(JoystickDescriptor(), values);
    ASSERT_TRUE(Send(id, {0x00, 0x01, 0x10, 0x00, 0x20, 0x00}));
    ASSERT_TRUE(values.WaitForCount(1));
    EXPECT_EQ(Machine::Instance().GetDeviceStats(id).openHandles, 1);
    // Stopping the library leaves the device open and polled.
    KvHRUnInitialize();
    ASSERT_TRUE(Send(id, {0x00, 0x02, 0x10, 0x00, 0x20, 0x00}));
    ASSERT_TRUE(values.WaitForCount(2));
    StopReader(0);
}

// A reader that cannot be created: polling on answers ERROR_INVALID_THREAD_ID with the failed check of the
// export, nothing reads the device, and polling on again starts the reader, which gets the report the
// device queued meanwhile.
TEST(PollingTest, AReaderThatCannotBeCreatedFailsPollingUntilTheNextTry)
{
    const uint32_t id = Plug(Description(JoystickDescriptor()));
    ASSERT_EQ(KvHRInitialize(), 0u);
    ValueRecorder values;
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(0, &ValueRecorder::Callback, &values), 0u);
    const int threadsBefore = RunningThreads();
    LogCapture log;
    Machine::Instance().FailCalls(winport::machine::WinportCall::CreateThread, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(KvHRSetPolling(0, 1), 1444u); // ERROR_INVALID_THREAD_ID
    EXPECT_EQ(log.CountContaining(W("ASSERT(hRes == ERROR_SUCCESS || hRes == ERROR_ALREADY_INITIALIZED) failed in "
                                    "\"KvHidRaw\"")),
              1u);
    EXPECT_EQ(RunningThreads(), threadsBefore);
    EXPECT_EQ(Machine::Instance().GetDeviceStats(id).pendingReads, 0);
    ASSERT_TRUE(Send(id, {0x00, 0x01, 0x00, 0x00, 0x00, 0x00}));

    EXPECT_EQ(KvHRSetPolling(0, 1), 0u);
    ASSERT_TRUE(values.WaitForCount(1));
    EXPECT_EQ(ValueOf(values.Last().values, 9, 1), 1);
    StopReader(0);
    EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u);
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{0}));
    KvHRUnInitialize();
}

// A process that returns from main with the library started, a device polled and the virtual keyboard's
// timer running ends: the library's last detach (from static teardown here) stops everything within its
// bounded waits. The child is a fresh run of this test binary, so its threads are real ones.
TEST(PollingTest, AProcessLeavingWithTheLibraryStartedAndADevicePolledEnds)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EXIT(
        {
            ValueRecorder values;
            const uint32_t id = StartPolled(JoystickDescriptor(), values);
            KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1);
            // One delivery: the reader runs and waits for the next report when the process leaves.
            std::exit(Send(id, {0x00, 0x01, 0x10, 0x00, 0x20, 0x00}) && values.WaitForCount(1) ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}
