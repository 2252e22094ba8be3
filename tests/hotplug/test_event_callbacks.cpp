// Device events' handlers calling exports: switching polling on for the device just announced, and
// stopping the library while a removal is being handled, on the message thread and on a background update.
#include <gtest/gtest.h>

#include "HotplugTestSupport.h"

using namespace hotplug;

namespace
{
struct PollOnArrival
{
    ValueRecorder values;
    std::atomic<uint32_t> pollStatus{0xFFFFFFFF};
    std::atomic<uint32_t> callbackStatus{0xFFFFFFFF};
    KvNotificationRecorder events{KvNotificationRecorder::Keep::DeviceEvents};

    static void KVHR_CALL Handler(uint32_t event, uint32_t value, void* context)
    {
        PollOnArrival* self = static_cast<PollOnArrival*>(context);
        if (event == NOTIF_DEVICE_ADDED)
        {
            self->callbackStatus =
                KvHRSetReadDeviceValuesCallback(value, &ValueRecorder::Callback, &self->values);
            self->pollStatus = KvHRSetPolling(value, 1);
        }
        KvNotificationRecorder::Handler(event, value, &self->events);
    }
};

struct StopOnRemoval
{
    KvNotificationRecorder events{KvNotificationRecorder::Keep::DeviceEvents};
    std::atomic<uint32_t> stopStatus{0xFFFFFFFF};
    std::atomic<bool> returned{false};

    static void KVHR_CALL Handler(uint32_t event, uint32_t value, void* context)
    {
        StopOnRemoval* self = static_cast<StopOnRemoval*>(context);
        KvNotificationRecorder::Handler(event, value, &self->events);
        if (event == NOTIF_DEVICE_REMOVED)
        {
            self->stopStatus = KvHRUnInitialize();
            self->returned = true;
        }
    }
};
} // namespace

TEST(EventCallbackTest, AnArrivalHandlerSwitchesPollingOnForTheDeviceJustAnnounced)
{
    LogCapture log;
    PollOnArrival handler;
    KvHRSetNotificationHandler(&PollOnArrival::Handler, &handler);
    ASSERT_EQ(KvHRInitialize(), 0u);
    const uint32_t id = Plug(Description(JoystickDescriptor()));
    ASSERT_TRUE(handler.events.WaitForCount(NOTIF_DEVICE_ADDED, 1));
    EXPECT_EQ(handler.callbackStatus, 0u);
    EXPECT_EQ(handler.pollStatus, 0u);
    ASSERT_TRUE(Send(id, {0x00, 0x01, 0x00, 0x00, 0x00, 0x00}));
    ASSERT_TRUE(handler.values.WaitForCount(1));
    EXPECT_EQ(ValueOf(handler.values.Last().values, 9, 1), 1);
    StopReader(0);
    KvHRUnInitialize();
    EXPECT_EQ(FailedChecks(log), "");
}

TEST(EventCallbackTest, ARemovalHandlerOnTheMessageThreadStopsTheLibrary)
{
    LogCapture log;
    StopOnRemoval handler;
    KvHRSetNotificationHandler(&StopOnRemoval::Handler, &handler);
    ASSERT_EQ(KvHRInitialize(), 0u);
    const uint32_t id = Plug(Description(JoystickDescriptor()));
    ASSERT_TRUE(handler.events.WaitForCount(NOTIF_DEVICE_ADDED, 1));
    // The query-remove reaches the handle's registration: removed and announced on the message thread.
    ASSERT_TRUE(Machine::Instance().UnplugDevice(id, Removal::Orderly));
    ASSERT_TRUE(WaitUntil([&] { return handler.returned.load(); }));
    EXPECT_EQ(handler.stopStatus, 0u);

    // Stopped: a new device is no longer heard of, until the next start lists it.
    const size_t heard = log.CountContaining(u"DeviceInterface Notification!");
    Plug(Description(JoystickDescriptor()));
    EXPECT_EQ(log.CountContaining(u"DeviceInterface Notification!"), heard);
    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(handler.events.Positions(NOTIF_DEVICE_ADDED), (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(handler.events.Count(NOTIF_DEVICE_REMOVED), 1u);
    KvHRUnInitialize();
    EXPECT_EQ(FailedChecksBesidesRestart(log), "");
}

TEST(EventCallbackTest, ARemovalHandlerOnABackgroundUpdateStopsTheLibraryOnceTheTableIsLetGo)
{
    LogCapture log;
    StopOnRemoval handler;
    KvHRSetNotificationHandler(&StopOnRemoval::Handler, &handler);
    const int threadsStopped = RunningThreads();
    ASSERT_EQ(KvHRInitialize(), 0u);
    const uint32_t id = Plug(Description(JoystickDescriptor()));
    ASSERT_TRUE(handler.events.WaitForCount(NOTIF_DEVICE_ADDED, 1));
    // After a restart the device's handle is no longer registered: only the interface's removal and its
    // background update take it out.
    KvHRUnInitialize();
    ASSERT_EQ(KvHRInitialize(), 0u);
    ASSERT_TRUE(Machine::Instance().UnplugDevice(id, Removal::Surprise));
    ASSERT_TRUE(WaitUntil([&] { return handler.returned.load(); }));
    EXPECT_EQ(handler.stopStatus, 0u);
    // The queued stop ends the library's threads (the message thread, the virtual devices' timer thread);
    // the update's own thread ends too.
    EXPECT_TRUE(WaitUntil([&] { return RunningThreads() == threadsStopped; }));
    EXPECT_EQ(FailedChecksBesidesRestart(log), "");
}
