// Device events' handlers calling exports: switching polling on for the device just announced, and
// stopping the library while a removal is being handled, on the message thread and on a background update.
#include <gtest/gtest.h>

#include "HotplugTestSupport.h"

#include <dbt.h>

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

// Stops the library from the first NOTIF_DEVICE_REMOVED, once a thread is seen waiting for the device table
// that the thread sending the event holds.
struct StopWhileTheTableIsAwaited
{
    KvNotificationRecorder events{KvNotificationRecorder::Keep::DeviceEvents};
    std::atomic<bool> removing{false};
    std::atomic<bool> sawWaiter{false};
    std::atomic<uint32_t> stopStatus{0xFFFFFFFF};
    std::atomic<bool> returned{false};

    static void KVHR_CALL Handler(uint32_t event, uint32_t value, void* context)
    {
        StopWhileTheTableIsAwaited* self = static_cast<StopWhileTheTableIsAwaited*>(context);
        KvNotificationRecorder::Handler(event, value, &self->events);
        if (event != NOTIF_DEVICE_REMOVED || self->removing.exchange(true))
            return;
        self->sawWaiter = WaitUntil([] { return CLock::WaitingFor("&m_devLock") != 0; });
        self->stopStatus = KvHRUnInitialize();
        self->returned = true;
    }
};

// Starts the library, takes a device in and restarts. The device's handle is no longer registered after the
// restart: only its interface's removal, through a background update, takes it out.
uint32_t StartWithADeviceThatOnlyItsInterfaceRemoves(KvNotificationRecorder& events)
{
    EXPECT_EQ(KvHRInitialize(), 0u);
    const uint32_t id = Plug(Description(JoystickDescriptor()));
    EXPECT_TRUE(events.WaitForCount(NOTIF_DEVICE_ADDED, 1));
    KvHRUnInitialize();
    EXPECT_EQ(KvHRInitialize(), 0u);
    return id;
}
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

// The message thread waits for the table while a background update holds it and a removal handler of that
// update stops the library. The stop waits for the message thread, so it must wait until the update has let
// the table go; run at once, it would give up on the message thread after its bounded wait.
TEST(EventCallbackTest, AStopFromABackgroundUpdateWhileTheMessageThreadWaitsForTheTableRunsOnceItIsLetGo)
{
    LogCapture log;
    StopWhileTheTableIsAwaited handler;
    KvHRSetNotificationHandler(&StopWhileTheTableIsAwaited::Handler, &handler);
    const int threadsStopped = RunningThreads();
    const uint32_t leaving = StartWithADeviceThatOnlyItsInterfaceRemoves(handler.events);
    // Plugged after the restart, this device has its handle registered.
    const uint32_t staying = Plug(Description(JoystickDescriptor(), nullptr, 0x1111, 0x2222));
    ASSERT_TRUE(handler.events.WaitForCount(NOTIF_DEVICE_ADDED, 2));

    ASSERT_TRUE(Machine::Instance().UnplugDevice(leaving, Removal::Surprise));
    ASSERT_TRUE(WaitUntil([&] { return handler.removing.load(); }));
    // Handled on the message thread, which takes the table first: it waits there until the update ends.
    EXPECT_EQ(Machine::Instance().SendHandleEvent(staying, DBT_CUSTOMEVENT), 1);
    ASSERT_TRUE(WaitUntil([&] { return handler.returned.load(); }));
    EXPECT_TRUE(handler.sawWaiter);
    EXPECT_EQ(handler.stopStatus, 0u);
    EXPECT_EQ(log.CountContaining(u"Unknown (Handle Notification): "), 1u);
    // The queued stop ends the library's threads (the message thread, the virtual devices' timer thread);
    // the update's own thread ends too.
    EXPECT_TRUE(WaitUntil([&] { return RunningThreads() == threadsStopped; }));
    EXPECT_EQ(FailedChecksBesidesRestart(log), "");
}
