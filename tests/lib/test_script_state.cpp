// The script state of the filtering service as the application's notification handler hears it.
#include <gtest/gtest.h>

#include "KvHidRaw.h"
#include "KvNotificationRecorder.h"
#include "KvSimService.h"
#include "KvTestSupport.h"

#include <atomic>
#include <future>

TEST(ScriptStateTest, StartAnnouncesTheStateOnTheCallingThreadWhenAHandlerIsSet)
{
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    KvSimService::SetScriptRunning(true); // no connection yet: the notification is dropped
    ASSERT_EQ(KvHRInitialize(), 0u);
    const auto events = recorder.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event, NOTIF_SCRIPT_STATE);
    EXPECT_EQ(events[0].value, 1u);
    EXPECT_EQ(events[0].thread, std::this_thread::get_id());
    KvHRUnInitialize();
}

TEST(ScriptStateTest, StartWithoutAHandlerSendsNothingAndALaterHandlerHearsOnlyLaterChanges)
{
    ASSERT_EQ(KvHRInitialize(), 0u);
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    EXPECT_TRUE(recorder.Events().empty());

    KvSimService::SetScriptRunning(true);
    ASSERT_TRUE(recorder.WaitForCount(1));
    EXPECT_EQ(recorder.Events()[0].value, 1u);
    KvHRUnInitialize();
}

TEST(ScriptStateTest, EveryNotificationOfTheServiceIsOneEventOnTheServiceThreadEvenWithoutChange)
{
    LogCapture log;
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    ASSERT_EQ(KvHRInitialize(), 0u); // event 1: state 0

    // The handler hears the state as the service tells it when the notification is handled, so each
    // change is let through before the next.
    KvSimService::SetScriptRunning(true);
    ASSERT_TRUE(recorder.WaitForCount(2));
    KvSimService::NotifyScriptState();
    ASSERT_TRUE(recorder.WaitForCount(3));
    KvSimService::SetScriptRunning(false);
    ASSERT_TRUE(recorder.WaitForCount(4));
    ASSERT_TRUE(KvSimService::WaitIdle(10000));
    const auto events = recorder.Events();
    ASSERT_EQ(events.size(), 4u);
    const uint32_t expected[] = {0, 1, 1, 0};
    for (size_t i = 0; i < 4; ++i)
    {
        EXPECT_EQ(events[i].event, NOTIF_SCRIPT_STATE);
        EXPECT_EQ(events[i].value, expected[i]) << "event " << i;
    }
    for (size_t i = 1; i < 4; ++i)
        EXPECT_NE(events[i].thread, std::this_thread::get_id());
    EXPECT_EQ(log.Count(W("Script state changed\n")), 3u);

    uint8_t running = 1;
    EXPECT_EQ(KvHRFilterGetScriptRunning(&running), 0u);
    EXPECT_EQ(running, 0);
    KvHRUnInitialize();
}

TEST(ScriptStateTest, NullHandlerSilencesEventsAndUnexpectedCodesAreLoggedChecks)
{
    LogCapture log;
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    ASSERT_EQ(KvHRInitialize(), 0u);
    KvHRSetNotificationHandler(nullptr, nullptr);
    KvSimService::SetScriptRunning(true);
    KvSimService::PostNotification(99, 0, nullptr, 0);
    ASSERT_TRUE(KvSimService::WaitIdle(10000));
    EXPECT_EQ(recorder.Events().size(), 1u);
    EXPECT_EQ(log.Count(W("Script state changed\n")), 1u);
    ASSERT_EQ(log.CountContaining(W("ASSERT(false) failed in \"KvHidFilterMgmt\"")), 1u);
    EXPECT_EQ(log.CountContaining(W(" function CKvHidFilterMgmt::StatusNotificationCallback")), 1u);
    KvHRUnInitialize();
}

TEST(ScriptStateTest, StopEndsTheNotifications)
{
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    ASSERT_EQ(KvHRInitialize(), 0u);
    KvHRUnInitialize();
    KvSimService::SetScriptRunning(true);
    EXPECT_EQ(KvSimService::DroppedNotifications(), 1u);
    EXPECT_EQ(recorder.Events().size(), 1u);
}

// ---- A handler that calls the library back ----

namespace
{
struct CallingHandler
{
    std::function<void(uint32_t value)> onEvent;
    static void KVHR_CALL Handler(uint32_t event, uint32_t value, void* context)
    {
        if (event == NOTIF_SCRIPT_STATE)
            static_cast<CallingHandler*>(context)->onEvent(value);
    }
};
} // namespace

TEST(ScriptStateCallbackTest, HandlerMayCallExportsFromTheServiceThread)
{
    CallingHandler handler;
    std::promise<std::vector<uint32_t>> results;
    handler.onEvent = [&](uint32_t value)
    {
        if (value == 0)
            return; // the announcement at start
        std::vector<uint32_t> r;
        uint8_t running = 0;
        r.push_back(KvHRFilterGetScriptRunning(&running));
        r.push_back(running);
        uint32_t* list = nullptr;
        uint32_t count = 0;
        r.push_back(KvHRDirectInputGetVirtualDevicesList(&list, &count));
        r.push_back(count);
        KvHRFree(list);
        r.push_back(KvHRSetNotificationHandler(&CallingHandler::Handler, &handler));
        results.set_value(r);
    };
    KvHRSetNotificationHandler(&CallingHandler::Handler, &handler);
    ASSERT_EQ(KvHRInitialize(), 0u);
    KvSimService::SetScriptRunning(true);
    auto future = results.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(future.get(), (std::vector<uint32_t>{0, 1, 0, 2, 0}));
    KvHRUnInitialize();
}

// The handler runs with the filter's handler lock held while another thread stops the library under the
// call lock and waits for the running notification: the handler's export must not wait for that thread.
TEST(ScriptStateCallbackTest, HandlerCallingAnExportWhileAnotherThreadStopsNeitherBlocksNorTimesOut)
{
    LogCapture log;
    CallingHandler handler;
    std::promise<void> entered;
    std::atomic<uint32_t> exportResult{0xFFFFFFFF};
    handler.onEvent = [&](uint32_t value)
    {
        if (value == 0)
            return;
        entered.set_value();
        // Called once the stopping thread holds the call lock and waits for this notification.
        EXPECT_TRUE(KvSimService::WaitStopWaiting(10000));
        uint8_t running = 0;
        exportResult = KvHRFilterGetScriptRunning(&running);
    };
    KvHRSetNotificationHandler(&CallingHandler::Handler, &handler);
    ASSERT_EQ(KvHRInitialize(), 0u);
    KvSimService::SetScriptRunning(true);
    entered.get_future().wait();
    EXPECT_EQ(KvHRUnInitialize(), 0u);
    EXPECT_EQ(exportResult, 0u); // finished before the stop returned
    EXPECT_EQ(log.CountContaining(W("not waiting longer")), 0u);
    EXPECT_EQ(log.CountContaining(W("gave up waiting")), 0u);
}

TEST(ScriptStateCallbackTest, HandlerMayStopTheLibraryFromTheServiceThread)
{
    LogCapture log;
    CallingHandler handler;
    std::promise<uint32_t> stopped;
    bool stopOnce = true; // the start below announces a running script again
    handler.onEvent = [&](uint32_t value)
    {
        if (value == 1 && stopOnce)
        {
            stopOnce = false;
            stopped.set_value(KvHRUnInitialize());
        }
    };
    KvHRSetNotificationHandler(&CallingHandler::Handler, &handler);
    ASSERT_EQ(KvHRInitialize(), 0u);
    KvSimService::SetScriptRunning(true);
    auto future = stopped.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(future.get(), 0u);
    EXPECT_FALSE(KvSimService::IsConnected());
    // Started again, the library hears the service as before.
    EXPECT_EQ(KvHRInitialize(), 0u);
    EXPECT_TRUE(KvSimService::HasHandler());
    EXPECT_EQ(log.CountContaining(W("not waiting longer")), 0u);
    KvHRUnInitialize();
}

// ---- Starts and stops run one at a time, whatever thread calls them ----

TEST(StartStopTest, StartCalledInsideTheStartAnnouncementRunsAfterItAndIsRefusedAsASecondStart)
{
    LogCapture log;
    CallingHandler handler;
    uint32_t nested = 0;
    handler.onEvent = [&](uint32_t) { nested = KvHRInitialize(); };
    KvHRSetNotificationHandler(&CallingHandler::Handler, &handler);
    EXPECT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(nested, KVHR_ERROR_IO_PENDING);
    EXPECT_EQ(log.CountContaining(W("ASSERT(m_bInitialized == false) failed in \"KvHidFilterMgmt\"")), 1u);
    EXPECT_EQ(log.Count(W("KvHidRaw: \"KvHRInitialize\" queued by a callback ended with 1247\n")), 1u);
    KvHRUnInitialize();
}

TEST(StartStopTest, StopCalledInsideTheStartAnnouncementTakesEffectBeforeTheStartReturns)
{
    KvNotificationRecorder recorder;
    CallingHandler handler;
    uint32_t nested = 0xFFFFFFFF;
    handler.onEvent = [&](uint32_t value)
    {
        KvNotificationRecorder::Handler(NOTIF_SCRIPT_STATE, value, &recorder);
        nested = KvHRUnInitialize();
    };
    KvHRSetNotificationHandler(&CallingHandler::Handler, &handler);
    EXPECT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(nested, 0u);
    EXPECT_EQ(recorder.Events().size(), 1u);
    EXPECT_FALSE(KvSimService::IsConnected());
    handler.onEvent = [](uint32_t) {};
    EXPECT_EQ(KvHRInitialize(), 0u); // stopped, so not a second start
    KvHRUnInitialize();
}

// The service thread's handler stops the library (its own notification goes on), then stops it again
// while the test thread's start is inside its script-state read: the second stop must come after that
// start, not in the middle of it (which left the filter marked started with the service released).
TEST(StartStopTest, StopFromAHandlerWhileAnotherThreadStartsRunsAfterThatStart)
{
    LogCapture log;
    CallingHandler handler;
    std::promise<void> firstStopDone, go, secondStopDone;
    std::atomic<uint32_t> secondStop{0xFFFFFFFF};
    std::atomic<bool> acted{false};
    const std::thread::id testThread = std::this_thread::get_id();
    handler.onEvent = [&](uint32_t value)
    {
        if (value != 1 || std::this_thread::get_id() == testThread || acted.exchange(true))
            return;
        KvHRUnInitialize();
        firstStopDone.set_value();
        go.get_future().wait();
        secondStop = KvHRUnInitialize();
        secondStopDone.set_value();
    };
    KvHRSetNotificationHandler(&CallingHandler::Handler, &handler);
    ASSERT_EQ(KvHRInitialize(), 0u);
    KvSimService::SetScriptRunning(true);
    firstStopDone.get_future().wait();

    KvSimService::HoldCall(KvSimCall::IsScriptRunning, true);
    auto start = std::async(std::launch::async, [] { return KvHRInitialize(); });
    ASSERT_TRUE(KvSimService::WaitCallHeld(KvSimCall::IsScriptRunning, 10000));
    go.set_value();
    ASSERT_EQ(secondStopDone.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(secondStop, 0u);
    KvSimService::HoldCall(KvSimCall::IsScriptRunning, false);
    EXPECT_EQ(start.get(), 0u);

    // Both stops are over: the library is stopped through and through and starts again.
    EXPECT_FALSE(KvSimService::IsConnected());
    EXPECT_EQ(KvHRInitialize(), 0u);
    EXPECT_TRUE(KvSimService::IsConnected());
    KvHRUnInitialize();
    // Each start after the first registers the device interface class again, a documented failed check.
    EXPECT_EQ(log.CountContaining(W("ASSERT(")),
              log.CountContaining(W("ASSERT(m_notificationsGuid == GUID_NULL)")));
    EXPECT_EQ(log.CountContaining(W("gave up waiting")), 0u);
}

// The test thread stops the library and waits for the running notification, whose handler starts it: the
// start must neither wait for the stop (which waits for it) nor run inside it, but after it.
TEST(StartStopTest, StartFromAHandlerWhileAnotherThreadStopsRunsAfterThatStop)
{
    LogCapture log;
    KvNotificationRecorder recorder;
    CallingHandler handler;
    std::promise<void> entered;
    std::atomic<uint32_t> startResult{0xFFFFFFFF};
    std::atomic<bool> acted{false};
    const std::thread::id testThread = std::this_thread::get_id();
    handler.onEvent = [&](uint32_t value)
    {
        KvNotificationRecorder::Handler(NOTIF_SCRIPT_STATE, value, &recorder);
        if (value != 1 || std::this_thread::get_id() == testThread || acted.exchange(true))
            return;
        entered.set_value();
        EXPECT_TRUE(KvSimService::WaitStopWaiting(10000));
        startResult = KvHRInitialize();
    };
    KvHRSetNotificationHandler(&CallingHandler::Handler, &handler);
    ASSERT_EQ(KvHRInitialize(), 0u);
    KvSimService::SetScriptRunning(true);
    entered.get_future().wait();
    EXPECT_EQ(KvHRUnInitialize(), 0u);
    EXPECT_EQ(startResult, KVHR_ERROR_IO_PENDING);

    // The queued start ran when the stop had ended, on the stopping thread, and announced the state there.
    EXPECT_TRUE(KvSimService::IsConnected());
    const auto events = recorder.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].value, 1u);
    EXPECT_EQ(events[2].thread, testThread);
    EXPECT_EQ(KvHRInitialize(), KVHR_ERROR_ALREADY_INITIALIZED);
    KvHRUnInitialize();
    EXPECT_EQ(log.CountContaining(W("not waiting longer")), 0u);
    EXPECT_EQ(log.CountContaining(W("gave up waiting")), 0u);
}

// The handler, on the service thread and holding the filter's "&m_notifLock", starts the library while
// the test thread's start waits for that lock to announce: the handler's start must not wait for the
// test thread's (a start/stop mutex would deadlock the two until the lock timeout).
TEST(StartStopTest, StartFromAHandlerWhileAnotherStartWaitsToAnnounceIsQueuedBehindIt)
{
    LogCapture log;
    CallingHandler handler;
    std::promise<void> stopped;
    std::promise<uint32_t> nestedStart;
    std::atomic<bool> acted{false};
    const std::thread::id testThread = std::this_thread::get_id();
    handler.onEvent = [&](uint32_t value)
    {
        if (value != 1 || std::this_thread::get_id() == testThread || acted.exchange(true))
            return;
        KvHRUnInitialize();
        stopped.set_value();
        EXPECT_TRUE(WaitUntil([] { return CLock::WaitingFor("&m_notifLock") == 1; }));
        nestedStart.set_value(KvHRInitialize());
    };
    KvHRSetNotificationHandler(&CallingHandler::Handler, &handler);
    ASSERT_EQ(KvHRInitialize(), 0u);
    KvSimService::SetScriptRunning(true);
    stopped.get_future().wait();

    auto start = std::async(std::launch::async, [] { return KvHRInitialize(); });
    auto nested = nestedStart.get_future();
    ASSERT_EQ(nested.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(nested.get(), KVHR_ERROR_IO_PENDING);
    ASSERT_EQ(start.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(start.get(), 0u);
    EXPECT_EQ(log.Count(W("KvHidRaw: \"KvHRInitialize\" queued by a callback ended with 1247\n")), 1u);
    EXPECT_EQ(log.CountContaining(W("gave up waiting")), 0u);
    KvHRUnInitialize();
}
