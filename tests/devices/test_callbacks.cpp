// Exports called from inside the library's callbacks: the device events of the notification handler and a
// physical device's values callback.
#include <gtest/gtest.h>

#include "DeviceTestSupport.h"
#include "KvSimService.h"

#include <atomic>
#include <future>

using namespace devtest;

namespace
{
// A one-shot signal with a deadline, for handshakes between a callback and the test.
class Signal
{
public:
    void Set()
    {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_set = true;
        }
        m_changed.notify_all();
    }
    bool Wait(std::chrono::milliseconds deadline = std::chrono::seconds(10))
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        return m_changed.wait_for(guard, deadline, [&] { return m_set; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_set = false;
};

size_t TimeoutLines(LogCapture& log)
{
    return log.CountContaining(W("gave up waiting")) +
           log.CountContaining(W("ASSERT(waitRes == WAIT_OBJECT_0)"));
}

// Reads the name and capabilities of every device announced as added.
struct Inspector
{
    std::mutex mutex;
    std::vector<std::string> names;
    std::vector<size_t> capabilityCounts;
    std::vector<std::thread::id> threads;

    static void KVHR_CALL Handler(uint32_t event, uint32_t value, void* context)
    {
        if (event != NOTIF_DEVICE_ADDED)
            return;
        Inspector* self = static_cast<Inspector*>(context);
        const std::string name = Narrow(DeviceName(value));
        const size_t caps = Capabilities(value).size();
        std::lock_guard<std::mutex> guard(self->mutex);
        self->names.push_back(name);
        self->capabilityCounts.push_back(caps);
        self->threads.push_back(std::this_thread::get_id());
    }
};
} // namespace

TEST(CallbackTest, TheAddedDeviceIsNamedAndDescribedFromTheHandlerOnEveryThreadThatAnnouncesIt)
{
    Plug(Description(JoystickDescriptor(), "At start"));
    LogCapture log;
    Inspector inspector;
    KvHRSetNotificationHandler(&Inspector::Handler, &inspector);
    ASSERT_EQ(KvHRInitialize(), 0u);

    Plug(Description(ConsumerButtonsDescriptor(), "From a thread"));
    std::thread updater([] { EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u); });
    const std::thread::id updaterId = updater.get_id();
    updater.join();

    std::lock_guard<std::mutex> guard(inspector.mutex);
    EXPECT_EQ(inspector.names, (std::vector<std::string>{"At start", "From a thread"}));
    EXPECT_EQ(inspector.capabilityCounts, (std::vector<size_t>{10, 2}));
    ASSERT_EQ(inspector.threads.size(), 2u);
    EXPECT_EQ(inspector.threads[0], std::this_thread::get_id());
    EXPECT_EQ(inspector.threads[1], updaterId);
    EXPECT_EQ(TimeoutLines(log), 0u);
    KvHRUnInitialize();
}

namespace
{
struct Replacer
{
    KvNotificationRecorder* next;
    std::atomic<int> calls{0};
    static void KVHR_CALL Handler(uint32_t, uint32_t, void* context)
    {
        Replacer* self = static_cast<Replacer*>(context);
        ++self->calls;
        EXPECT_EQ(KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, self->next), 0u);
    }
};
} // namespace

TEST(CallbackTest, TheHandlerReplacesItselfFromInsideAnEventAndTheNextEventsGoToTheNewOne)
{
    Plug(Description(JoystickDescriptor()));
    Plug(Description(JoystickDescriptor()));
    KvNotificationRecorder next;
    Replacer replacer{&next};
    KvHRSetNotificationHandler(&Replacer::Handler, &replacer);
    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(replacer.calls, 1);
    // The second device and the script state went to the new handler.
    const auto events = next.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].event, NOTIF_DEVICE_ADDED);
    EXPECT_EQ(events[0].value, 1u);
    EXPECT_EQ(events[1].event, NOTIF_SCRIPT_STATE);
    KvHRUnInitialize();
}

namespace
{
// A device event and a script-state event, each inside its handler on its own thread at the same time,
// both setting the handler: each holds its manager's "&m_notifLock" while the other's call wants it.
struct Crossing
{
    Signal deviceEventIn;
    Signal scriptEventIn;
    std::atomic<int> sets{0};
    static void KVHR_CALL Handler(uint32_t event, uint32_t, void* context)
    {
        Crossing* self = static_cast<Crossing*>(context);
        if (event == NOTIF_DEVICE_ADDED)
        {
            self->deviceEventIn.Set();
            EXPECT_TRUE(self->scriptEventIn.Wait());
        }
        else
        {
            self->scriptEventIn.Set();
            EXPECT_TRUE(self->deviceEventIn.Wait());
        }
        EXPECT_EQ(KvHRSetNotificationHandler(&Crossing::Handler, self), 0u);
        ++self->sets;
    }
};
} // namespace

TEST(CallbackTest, DeviceAndScriptHandlersSettingTheHandlerAtTheSameTimeDoNotCross)
{
    ASSERT_EQ(KvHRInitialize(), 0u);
    LogCapture log;
    Crossing crossing;
    KvHRSetNotificationHandler(&Crossing::Handler, &crossing);
    Plug(Description(JoystickDescriptor()));
    auto update = std::async(std::launch::async, [] { return KvHRUpdateHidDevicesList(); });
    KvSimService::SetScriptRunning(true);
    ASSERT_EQ(update.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(update.get(), 0u);
    ASSERT_TRUE(KvSimService::WaitIdle(20000));
    EXPECT_EQ(crossing.sets, 2);
    EXPECT_EQ(TimeoutLines(log), 0u);
    KvHRUnInitialize();
}

namespace
{
struct Stopper
{
    std::atomic<int> stops{0};
    static void KVHR_CALL Handler(uint32_t event, uint32_t, void* context)
    {
        if (event != NOTIF_DEVICE_ADDED)
            return;
        Stopper* self = static_cast<Stopper*>(context);
        EXPECT_EQ(KvHRUnInitialize(), 0u);
        ++self->stops;
    }
};
} // namespace

TEST(CallbackTest, StoppingFromADeviceEventTakesEffectWhenTheStartOrUpdateThatSentItEnds)
{
    const int threadsBefore = RunningThreads();
    Plug(Description(JoystickDescriptor()));
    LogCapture log;
    Stopper stopper;
    KvHRSetNotificationHandler(&Stopper::Handler, &stopper);
    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(stopper.stops, 1);
    // Stopped: the message thread and the service are gone, the device stays open, a new start works.
    EXPECT_TRUE(WaitUntil([&] { return RunningThreads() == threadsBefore; }));
    EXPECT_FALSE(KvSimService::IsConnected());
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{0}));
    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_TRUE(KvSimService::IsConnected());

    // The same from an update.
    Plug(Description(JoystickDescriptor()));
    EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u);
    EXPECT_EQ(stopper.stops, 2);
    EXPECT_TRUE(WaitUntil([&] { return RunningThreads() == threadsBefore; }));
    EXPECT_FALSE(KvSimService::IsConnected());
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{0, 1}));
    ASSERT_EQ(KvHRInitialize(), 0u);
    // The only check logged: the second start registers the interface class again, as documented.
    const std::string again = "ASSERT(m_notificationsGuid == GUID_NULL)";
    std::string checks = FailedChecks(log);
    for (size_t at = checks.find(again); at != std::string::npos; at = checks.find(again))
        checks.erase(at, checks.find('\n', at) + 1 - at);
    EXPECT_EQ(checks, "");
    KvHRUnInitialize();
}

namespace
{
// Switches its own device's polling off from inside its second delivery.
struct SelfStopper
{
    std::atomic<int> deliveries{0};
    std::atomic<uint32_t> offResult{99};
    std::atomic<uint32_t> onResult{99};
    static void KVHR_CALL Callback(void* context, const _stHidValue*, uint32_t)
    {
        SelfStopper* self = static_cast<SelfStopper*>(context);
        if (++self->deliveries == 2)
        {
            self->onResult = KvHRSetPolling(0, 1);
            self->offResult = KvHRSetPolling(0, 0);
        }
    }
};
} // namespace

TEST(CallbackTest, AValuesCallbackSwitchesItsOwnPollingOffAndItsReaderEnds)
{
    const uint32_t id = Plug(Description(JoystickDescriptor()));
    ASSERT_EQ(KvHRInitialize(), 0u);
    const int threadsBefore = RunningThreads();
    LogCapture log;
    SelfStopper stopper;
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(0, &SelfStopper::Callback, &stopper), 0u);
    ASSERT_EQ(KvHRSetPolling(0, 1), 0u);
    ASSERT_TRUE(Send(id, {0x00, 0x01, 0, 0, 0, 0}));
    ASSERT_TRUE(WaitUntil([&] { return stopper.deliveries == 1; }));
    ASSERT_TRUE(Send(id, {0x00, 0x02, 0, 0, 0, 0}));
    ASSERT_TRUE(WaitUntil([&] { return RunningThreads() == threadsBefore; }));
    EXPECT_EQ(stopper.onResult, KVHR_ERROR_ALREADY_INITIALIZED);
    EXPECT_EQ(stopper.offResult, 0u);
    EXPECT_EQ(stopper.deliveries, 2);
    EXPECT_EQ(TimeoutLines(log), 0u);
    // Polling on again from outside starts a new reader.
    EXPECT_EQ(KvHRSetPolling(0, 1), 0u);
    ASSERT_TRUE(Send(id, {0x00, 0x03, 0, 0, 0, 0}));
    ASSERT_TRUE(WaitUntil([&] { return stopper.deliveries == 3; }));
    StopReader(0);
    KvHRUnInitialize();
}

namespace
{
// Holds its first delivery until the test lets it go, then queries its own device.
struct Holder
{
    Signal entered;
    Signal release;
    std::atomic<uint32_t> nameResult{99};
    std::atomic<uint32_t> pollResult{99};
    std::atomic<bool> done{false};
    static void KVHR_CALL Callback(void* context, const _stHidValue*, uint32_t)
    {
        Holder* self = static_cast<Holder*>(context);
        if (self->done)
            return;
        self->entered.Set();
        EXPECT_TRUE(self->release.Wait());
        KvHRWChar* name = nullptr;
        self->nameResult = KvHRGetDeviceName(0, &name);
        KvHRFree(name);
        self->pollResult = KvHRSetPolling(0, 0);
        self->done = true;
    }
};
} // namespace

TEST(CallbackTest, RemovingADeviceWhoseCallbackIsRunningDoesNotWaitForIt)
{
    const uint32_t id = Plug(Description(JoystickDescriptor()));
    ASSERT_EQ(KvHRInitialize(), 0u);
    const int threadsBefore = RunningThreads();
    LogCapture log;
    Holder holder;
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(0, &Holder::Callback, &holder), 0u);
    ASSERT_EQ(KvHRSetPolling(0, 1), 0u);
    ASSERT_TRUE(Send(id, {0x00, 0x01, 0, 0, 0, 0}));
    ASSERT_TRUE(holder.entered.Wait());

    // The update removes the device while its reader is inside the callback: it does not wait for it.
    ASSERT_TRUE(Machine::Instance().UnplugDevice(id, winport::machine::Removal::Surprise));
    EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u);
    EXPECT_TRUE(DevicesList().empty());
    holder.release.Set();
    ASSERT_TRUE(WaitUntil([&] { return RunningThreads() == threadsBefore; }));
    EXPECT_EQ(holder.nameResult, KVHR_ERROR_NOT_FOUND);
    EXPECT_EQ(holder.pollResult, KVHR_ERROR_NOT_FOUND);
    EXPECT_EQ(TimeoutLines(log), 0u);
    EXPECT_EQ(Machine::Instance().GetDeviceStats(id).openHandles, 0);
    KvHRUnInitialize();
}

namespace
{
// Brings the table up to date from inside its own delivery, after its device has been unplugged.
struct SelfRemover
{
    std::atomic<uint32_t> updateResult{99};
    std::atomic<int> calls{0};
    uint32_t machineId = 0;
    static void KVHR_CALL Callback(void* context, const _stHidValue*, uint32_t)
    {
        SelfRemover* self = static_cast<SelfRemover*>(context);
        if (++self->calls != 1)
            return;
        Machine::Instance().UnplugDevice(self->machineId, winport::machine::Removal::Surprise);
        self->updateResult = KvHRUpdateHidDevicesList();
    }
};
} // namespace

TEST(CallbackTest, AValuesCallbackRemovesItsOwnDeviceThroughAnUpdate)
{
    SelfRemover remover;
    remover.machineId = Plug(Description(JoystickDescriptor()));
    ASSERT_EQ(KvHRInitialize(), 0u);
    const int threadsBefore = RunningThreads();
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    LogCapture log;
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(0, &SelfRemover::Callback, &remover), 0u);
    ASSERT_EQ(KvHRSetPolling(0, 1), 0u);
    ASSERT_TRUE(Send(remover.machineId, {0x00, 0x01, 0, 0, 0, 0}));
    ASSERT_TRUE(WaitUntil([&] { return RunningThreads() == threadsBefore; }));
    EXPECT_EQ(remover.updateResult, 0u);
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_REMOVED), (std::vector<uint32_t>{0}));
    EXPECT_TRUE(DevicesList().empty());
    EXPECT_EQ(TimeoutLines(log), 0u);
    KvHRUnInitialize();
}
