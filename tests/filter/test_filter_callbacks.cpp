// Filtered values callbacks that call the library back, and notifications on several service threads.
#include <gtest/gtest.h>

#include "KvFilterTestSupport.h"
#include "KvTestSupport.h"

#include <atomic>
#include <future>

namespace
{
class FilterCallbackTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        KvHRUnInitialize();
        EXPECT_EQ(log.CountContaining(W("gave up waiting")), 0u);
        EXPECT_EQ(log.CountContaining(W("not waiting longer")), 0u);
        EXPECT_EQ(KvSimService::LiveBlocks(), 0u);
    }
    LogCapture log;
};

// A notification handler whose work a test chooses.
struct ScriptHandler
{
    std::function<void(uint32_t value)> onEvent;
    static void KVHR_CALL Handler(uint32_t event, uint32_t value, void* context)
    {
        ScriptHandler* self = static_cast<ScriptHandler*>(context);
        if (event == NOTIF_SCRIPT_STATE && self->onEvent)
            self->onEvent(value);
    }
};
} // namespace

TEST_F(FilterCallbackTest, AValuesCallbackMayStopItsOwnPollingAndReadNamesAndCapabilities)
{
    ASSERT_EQ(KvHRInitialize(), 0u);
    KvSimService::AddFilteredDevice(1, TEXT("Other"), Describe(3));
    ValueRecorder recorder;
    std::vector<uint32_t> results;
    WString otherName;
    uint32_t otherCount = 0;
    recorder.inside = [&](const _stHidValue*, uint32_t)
    {
        KvHRWChar* name = nullptr;
        results.push_back(KvHRGetDeviceName(FilteredId(1), &name));
        otherName = name ? name : WString();
        KvHRFree(name);
        _stHidCapability* caps = nullptr;
        results.push_back(KvHRGetDeviceCapabilities(FilteredId(1), &caps, &otherCount));
        KvHRFree(caps);
        results.push_back(KvHRSetPolling(FilteredId(0), 0));
    };
    Subscribe(0, Gamepad(), recorder);
    KvSimService::PushInput(0, NoInput());
    KvSimService::PushInput(0, NoInput());
    ASSERT_TRUE(KvSimService::WaitIdle(10000));
    EXPECT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(results, (std::vector<uint32_t>{0, 0, 0}));
    EXPECT_EQ(otherName, W("Other"));
    EXPECT_EQ(otherCount, 3u);
}

TEST_F(FilterCallbackTest, AValuesCallbackMayReplaceCallbacksIncludingItsOwn)
{
    ASSERT_EQ(KvHRInitialize(), 0u);
    ValueRecorder first;
    ValueRecorder second;
    std::vector<uint32_t> results;
    first.inside = [&](const _stHidValue*, uint32_t)
    {
        results.push_back(KvHRSetReadDeviceValuesCallback(FilteredId(1), &ValueRecorder::Callback, &second));
        results.push_back(KvHRSetPolling(FilteredId(1), 1));
        results.push_back(KvHRSetReadDeviceValuesCallback(FilteredId(0), nullptr, nullptr));
    };
    KvSimService::AddFilteredDevice(1, nullptr, Describe(1));
    Subscribe(0, Gamepad(), first);
    KvSimService::PushInput(0, NoInput());
    KvSimService::PushInput(0, NoInput());
    KvSimService::PushInput(1, NoInput());
    ASSERT_TRUE(KvSimService::WaitIdle(10000));
    EXPECT_EQ(results, (std::vector<uint32_t>{0, 0, 0}));
    EXPECT_EQ(first.Count(), 1u);
    EXPECT_EQ(second.Count(), 1u);
}

// Two service threads at once: one delivers a filtered device's values, whose callback (holding the
// filter's device lock) sets the notification handler while the other thread runs the script-state handler
// (holding the filter's handler lock), which switches the device's polling off and replaces its callback
// while the delivery still runs. Neither call may wait for the other thread.
TEST_F(FilterCallbackTest, PollingSwitchedOffFromAnotherCallbackWhileADeliveryWaitsForItsLocksDoesNotBlock)
{
    KvSimService::SetNotificationThreads(2);
    ScriptHandler handler;
    KvHRSetNotificationHandler(&ScriptHandler::Handler, &handler);
    ASSERT_EQ(KvHRInitialize(), 0u);

    std::promise<void> delivering;
    std::promise<void> handlerEntered;
    std::shared_future<void> handlerEnteredFuture = handlerEntered.get_future().share();
    std::promise<void> handlerCallsMade;
    std::shared_future<void> handlerCallsMadeFuture = handlerCallsMade.get_future().share();
    std::atomic<uint32_t> setPolling{0xFFFFFFFF};
    std::atomic<uint32_t> setCallback{0xFFFFFFFF};
    std::atomic<uint32_t> setHandler{0xFFFFFFFF};
    ValueRecorder recorder;
    std::atomic<bool> first{true};
    recorder.inside = [&](const _stHidValue*, uint32_t)
    {
        if (!first.exchange(false))
            return;
        delivering.set_value();
        handlerEnteredFuture.wait();
        setHandler = KvHRSetNotificationHandler(&ScriptHandler::Handler, &handler);
        handlerCallsMadeFuture.wait();
    };
    handler.onEvent = [&](uint32_t value)
    {
        if (value != 1)
            return;
        handlerEntered.set_value();
        setPolling = KvHRSetPolling(FilteredId(0), 0);
        setCallback = KvHRSetReadDeviceValuesCallback(FilteredId(0), &ValueRecorder::Callback, &recorder);
        handlerCallsMade.set_value();
    };
    Subscribe(0, Gamepad(), recorder);
    KvSimService::PushInput(0, NoInput());
    delivering.get_future().wait();
    KvSimService::SetScriptRunning(true);
    ASSERT_TRUE(KvSimService::WaitIdle(20000));
    EXPECT_EQ(setPolling, 0u);
    // Replacing a callback cannot be done without the lock: refused at once rather than waiting.
    EXPECT_EQ(setCallback, KVHR_ERROR_POSSIBLE_DEADLOCK);
    EXPECT_EQ(setHandler, 0u);

    // The polling flag set without the lock holds for the deliveries that follow.
    KvSimService::PushInput(0, NoInput());
    ASSERT_TRUE(KvSimService::WaitIdle(10000));
    EXPECT_EQ(recorder.Count(), 1u);
}

TEST_F(FilterCallbackTest, AnotherCallbackReplacesAFilteredCallbackWhenNoDeliveryRuns)
{
    ScriptHandler handler;
    ValueRecorder recorder;
    std::promise<uint32_t> result;
    handler.onEvent = [&](uint32_t value)
    {
        if (value == 1)
            result.set_value(
                KvHRSetReadDeviceValuesCallback(FilteredId(0), &ValueRecorder::Callback, &recorder));
    };
    KvHRSetNotificationHandler(&ScriptHandler::Handler, &handler);
    ASSERT_EQ(KvHRInitialize(), 0u);
    KvSimService::AddFilteredDevice(0, nullptr, Gamepad());
    KvSimService::SetScriptRunning(true);
    auto future = result.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(future.get(), 0u);
    KvHRSetPolling(FilteredId(0), 1);
    KvSimService::PushInput(0, NoInput());
    EXPECT_TRUE(recorder.WaitForCount(1));
    EXPECT_TRUE(KvSimService::WaitIdle(10000));
}

// Several service threads deliver while the application switches polling and callbacks: deliveries of
// the filter never overlap, each carries every input, and a callback cleared is never called again.
TEST_F(FilterCallbackTest, NotificationsFromSeveralServiceThreadsAreDeliveredOneAtATime)
{
    KvSimService::SetNotificationThreads(4);
    ASSERT_EQ(KvHRInitialize(), 0u);
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> wrongCounts{0};
    ValueRecorder recorders[3];
    for (DWORD id = 0; id < 3; ++id)
    {
        recorders[id].inside = [&](const _stHidValue*, uint32_t count)
        {
            if (inside.fetch_add(1) != 0)
                ++overlaps;
            if (count != 15)
                ++wrongCounts;
            std::this_thread::yield();
            inside.fetch_sub(1);
        };
        Subscribe(id, Gamepad(), recorders[id]);
    }
    std::thread pusher(
        [&]
        {
            for (int round = 0; round < 300; ++round)
                for (DWORD id = 0; id < 3; ++id)
                    KvSimService::PushInput(id, GamepadInput());
        });
    for (int round = 0; round < 50; ++round)
    {
        KvHRSetPolling(FilteredId(1), round % 2);
        KvHRSetReadDeviceValuesCallback(FilteredId(2), &ValueRecorder::Callback, &recorders[2]);
    }
    ASSERT_TRUE(recorders[0].WaitForCount(20));
    // Once clearing returns, the device's callback is never called again.
    EXPECT_EQ(KvHRSetReadDeviceValuesCallback(FilteredId(0), nullptr, nullptr), 0u);
    const size_t afterClear = recorders[0].Count();
    pusher.join();
    ASSERT_TRUE(KvSimService::WaitIdle(20000));
    EXPECT_EQ(recorders[0].Count(), afterClear);
    EXPECT_GT(recorders[2].Count(), 0u);
    EXPECT_EQ(overlaps, 0);
    EXPECT_EQ(wrongCounts, 0);
}

// The application waits in an export, holding the call lock, for a delivery whose callback calls an
// export: the callback's call must not wait for the call lock.
TEST_F(FilterCallbackTest, ACallbackCallingAnExportWhileTheApplicationWaitsForItsDeliveryDoesNotBlock)
{
    ASSERT_EQ(KvHRInitialize(), 0u);
    std::promise<void> delivering;
    std::promise<void> appCalling;
    std::shared_future<void> appCallingFuture = appCalling.get_future().share();
    std::atomic<uint32_t> nameResult{0xFFFFFFFF};
    std::atomic<bool> first{true};
    ValueRecorder recorder;
    recorder.inside = [&](const _stHidValue*, uint32_t)
    {
        if (!first.exchange(false))
            return;
        delivering.set_value();
        appCallingFuture.wait();
        // The application's thread holds the call lock and waits for the device lock this delivery holds.
        EXPECT_TRUE(WaitUntil([] { return CLock::WaitingFor("&m_devLock") != 0; }));
        KvHRWChar* name = nullptr;
        nameResult = KvHRGetDeviceName(FilteredId(0), &name);
        KvHRFree(name);
    };
    Subscribe(0, Gamepad(), recorder);
    KvSimService::PushInput(0, NoInput());
    delivering.get_future().wait();
    appCalling.set_value();
    EXPECT_EQ(KvHRSetPolling(FilteredId(0), 0), 0u);
    EXPECT_EQ(nameResult, 0u); // the delivery had ended when polling was switched off
    KvSimService::PushInput(0, NoInput());
    ASSERT_TRUE(KvSimService::WaitIdle(10000));
    EXPECT_EQ(recorder.Count(), 1u);
}

// A values callback stops the library while another service thread waits to deliver: the stop must not
// wait for that thread, which waits for the lock the callback holds.
TEST_F(FilterCallbackTest, AValuesCallbackMayStopTheLibraryWhileAnotherServiceThreadWaitsToDeliver)
{
    KvSimService::SetNotificationThreads(2);
    ASSERT_EQ(KvHRInitialize(), 0u);
    std::promise<uint32_t> stopped;
    std::atomic<bool> first{true};
    std::promise<void> pushed;
    std::shared_future<void> pushedFuture = pushed.get_future().share();
    ValueRecorder recorder;
    recorder.inside = [&](const _stHidValue*, uint32_t)
    {
        if (!first.exchange(false))
            return;
        // Both inputs have been taken by the service's two threads once the queue is empty.
        pushedFuture.wait();
        ASSERT_TRUE(WaitUntil([] { return KvSimService::QueuedNotifications() == 0; }));
        stopped.set_value(KvHRUnInitialize());
    };
    Subscribe(0, Gamepad(), recorder);
    KvSimService::PushInput(0, NoInput());
    KvSimService::PushInput(0, NoInput());
    pushed.set_value();
    auto future = stopped.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(future.get(), 0u);
    EXPECT_FALSE(KvSimService::IsConnected());
    ASSERT_TRUE(KvSimService::WaitIdle(10000));
    EXPECT_EQ(recorder.Count(), 1u) << "input delivered after the stop";

    // Started again, filter mode starts afresh.
    EXPECT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(KvHRSetReadDeviceValuesCallback(FilteredId(0), nullptr, nullptr), KVHR_ERROR_NOT_FOUND);
}
