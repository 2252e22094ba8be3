// How a device leaves while the library runs: orderly (query-remove first) or by surprise, polled or not,
// and the handle events that do not remove it.
#include <gtest/gtest.h>

#include "HotplugTestSupport.h"

#include <dbt.h>

using namespace hotplug;

namespace
{
const WString kEnumerating = u"Enumerating HID devices:";

// Notes how many deliveries the values recorder had when each removal was announced.
struct RemovalWitness
{
    KvNotificationRecorder events{KvNotificationRecorder::Keep::DeviceEvents};
    ValueRecorder* values = nullptr;
    std::mutex mutex;
    std::vector<size_t> deliveriesAtRemoval;

    static void KVHR_CALL Handler(uint32_t event, uint32_t value, void* context)
    {
        RemovalWitness* self = static_cast<RemovalWitness*>(context);
        if (event == NOTIF_DEVICE_REMOVED)
        {
            std::lock_guard<std::mutex> guard(self->mutex);
            self->deliveriesAtRemoval.push_back(self->values->Count());
        }
        KvNotificationRecorder::Handler(event, value, &self->events);
    }
};

// A device taken in while the library runs, polled into values, with one report delivered.
uint32_t PlugPolled(RemovalWitness& witness, ValueRecorder& values)
{
    witness.values = &values;
    KvHRSetNotificationHandler(&RemovalWitness::Handler, &witness);
    EXPECT_EQ(KvHRInitialize(), 0u);
    const uint32_t id = Plug(Description(JoystickDescriptor()));
    EXPECT_TRUE(witness.events.WaitForCount(NOTIF_DEVICE_ADDED, 1));
    EXPECT_EQ(KvHRSetReadDeviceValuesCallback(0, &ValueRecorder::Callback, &values), 0u);
    EXPECT_EQ(KvHRSetPolling(0, 1), 0u);
    EXPECT_TRUE(Send(id, {0x00, 0x81, 0x34, 0x02, 0xFF, 0x03}));
    EXPECT_TRUE(values.WaitForCount(1));
    return id;
}

void ExpectRemovedOnceAndQuiet(RemovalWitness& witness, ValueRecorder& values, LogCapture& log,
                               int threadsBefore)
{
    // Both roads (the handle's event and the interface's background update) have run.
    EXPECT_TRUE(WaitUntil([&] { return log.CountContaining(kEnumerating) >= 2; }));
    EXPECT_TRUE(WaitUntil([&] { return RunningThreads() == threadsBefore - 1; })) << "the reader ended";
    EXPECT_EQ(witness.events.Positions(NOTIF_DEVICE_REMOVED), (std::vector<uint32_t>{0}));
    ASSERT_EQ(witness.deliveriesAtRemoval.size(), 1u);
    EXPECT_EQ(values.Count(), witness.deliveriesAtRemoval[0]) << "nothing is delivered after the removal";
    EXPECT_EQ(DevicesList(), std::vector<uint32_t>{});
    EXPECT_EQ(log.CountContaining(u"gave up waiting"), 0u);
}
} // namespace

TEST(RemovalTest, AnOrderlyRemovalOfAPolledDeviceEndsItsReaderWithOneLastDeliveryBeforeTheAnnouncement)
{
    LogCapture log;
    RemovalWitness witness;
    ValueRecorder values;
    const uint32_t id = PlugPolled(witness, values);
    const int threads = RunningThreads();
    const auto first = values.Last().values;
    // The reader waits on its next read when the query-remove comes; a reader caught between its delivery and
    // that read would find the device gone and end without a last delivery, as a failed read does.
    ASSERT_TRUE(WaitUntil([&] { return Machine::Instance().GetDeviceStats(id).pendingReads == 1; }));
    ASSERT_TRUE(Machine::Instance().UnplugDevice(id, Removal::Orderly));
    EXPECT_GE(log.CountContaining(u"Query Remove (Handle Notification): \\\\?\\hid#"), 1u);

    ExpectRemovedOnceAndQuiet(witness, values, log, threads);
    // The stop flag ends the reader: one last delivery of the unchanged values.
    EXPECT_EQ(values.Count(), 2u);
    const auto last = values.Last().values;
    ASSERT_EQ(last.size(), first.size());
    for (size_t i = 0; i < last.size(); ++i)
        EXPECT_EQ(last[i].value, first[i].value) << i;
    EXPECT_EQ(Machine::Instance().GetDeviceStats(id).openHandles, 0);
    KvHRUnInitialize();
}

TEST(RemovalTest, ASurpriseRemovalOfAPolledDeviceDeliversTheLastReportOnceMoreAndThenNothing)
{
    LogCapture log;
    RemovalWitness witness;
    ValueRecorder values;
    const uint32_t id = PlugPolled(witness, values);
    const int threads = RunningThreads();
    const auto first = values.Last().values;
    // The reader's next read is in flight when the device goes.
    ASSERT_TRUE(WaitUntil([&] { return Machine::Instance().GetDeviceStats(id).pendingReads == 1; }));
    ASSERT_TRUE(Machine::Instance().UnplugDevice(id, Removal::Surprise));

    ExpectRemovedOnceAndQuiet(witness, values, log, threads);
    // The failed read wakes the reader once: the report buffer's previous content, then the next read fails.
    EXPECT_EQ(values.Count(), 2u);
    const auto last = values.Last().values;
    ASSERT_EQ(last.size(), first.size());
    for (size_t i = 0; i < last.size(); ++i)
        EXPECT_EQ(last[i].value, first[i].value) << i;
    KvHRUnInitialize();
}

TEST(RemovalTest, AFailedQueryRemoveAndACustomEventLeaveTheDeviceInPlace)
{
    LogCapture log;
    KvNotificationRecorder recorder{KvNotificationRecorder::Keep::DeviceEvents};
    Library library(recorder);
    const uint32_t id = Plug(Description(JoystickDescriptor()));
    ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_ADDED, 1));
    const WString path = Machine::Instance().InterfacePaths(id)[0];

    ASSERT_EQ(Machine::Instance().SendHandleEvent(id, DBT_DEVICEQUERYREMOVEFAILED), 1);
    EXPECT_EQ(log.CountContaining(u"Remove failed (Handle Notification):" + path), 1u);
    EXPECT_EQ(log.CountContaining(u"ASSERT(false) failed in \"KvHidDeviceMgmt\""), 1u);
    ASSERT_EQ(Machine::Instance().SendHandleEvent(id, DBT_CUSTOMEVENT), 1);
    EXPECT_EQ(log.CountContaining(u"Unknown (Handle Notification): " + path), 1u);

    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{0}));
    EXPECT_EQ(recorder.Count(NOTIF_DEVICE_REMOVED), 0u);
    EXPECT_EQ(Machine::Instance().GetDeviceStats(id).openHandles, 1);
}

TEST(RemovalTest, ADeviceThatLeavesAndComesBackTakesTheNextPositionFromWhereTheSearchBegins)
{
    KvNotificationRecorder recorder{KvNotificationRecorder::Keep::DeviceEvents};
    Library library(recorder);
    const uint32_t a = Plug(Description(JoystickDescriptor()));
    ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_ADDED, 1));
    Plug(Description(JoystickDescriptor(), nullptr, 0x1111, 0x2222));
    ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_ADDED, 2));
    ASSERT_TRUE(Machine::Instance().UnplugDevice(a, Removal::Surprise));
    ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_REMOVED, 1));
    Plug(Description(JoystickDescriptor()));
    ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_ADDED, 3));
    EXPECT_EQ(recorder.Positions(NOTIF_DEVICE_ADDED), (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(recorder.Positions(NOTIF_DEVICE_REMOVED), (std::vector<uint32_t>{0}));
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{1, 2}));
}

TEST(RemovalTest, AfterARestartADeviceIsRemovedThroughItsInterfaceAlone)
{
    LogCapture log;
    KvNotificationRecorder recorder{KvNotificationRecorder::Keep::DeviceEvents};
    Library library(recorder);
    const uint32_t id = Plug(Description(JoystickDescriptor()));
    ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_ADDED, 1));
    KvHRUnInitialize();
    ASSERT_EQ(KvHRInitialize(), 0u);
    ASSERT_TRUE(Machine::Instance().UnplugDevice(id, Removal::Orderly));
    ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_REMOVED, 1));
    EXPECT_EQ(log.CountContaining(u"Query Remove (Handle Notification)"), 0u);
    EXPECT_EQ(recorder.Positions(NOTIF_DEVICE_ADDED), (std::vector<uint32_t>{0}));
}
