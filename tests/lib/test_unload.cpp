// Loading and unloading the library with dlopen/dlclose, as an application does at run time.
#include <gtest/gtest.h>

#include "KvHidRaw.h"
#include "KvSimService.h"
#include "KvTestSupport.h"

#include <dlfcn.h>
#include <fstream>
#include <future>

namespace
{
class LoadedLibrary
{
public:
    LoadedLibrary() : m_handle(dlopen(KVHIDRAW_SO_PATH, RTLD_NOW | RTLD_LOCAL)) {}
    ~LoadedLibrary() { Unload(); }

    bool Loaded() const { return m_handle != nullptr; }
    template <typename F> F Get(const char* name) { return reinterpret_cast<F>(dlsym(m_handle, name)); }
    int Unload()
    {
        int rc = 0;
        if (m_handle)
            rc = dlclose(m_handle);
        m_handle = nullptr;
        return rc;
    }

private:
    void* m_handle;
};

bool MappedInProcess()
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find("libKvHidRaw.so") != std::string::npos)
            return true;
    return false;
}

typedef uint32_t(KVHR_CALL* StatusFn)();
typedef uint32_t(KVHR_CALL* SetHandlerFn)(NotificationHandler, void*);

std::atomic<int> eventsHeard{0};
void KVHR_CALL CountingHandler(uint32_t, uint32_t, void*)
{
    ++eventsHeard;
}
} // namespace

TEST(UnloadTest, UnloadingWithoutStopPerformsTheStopStepsAndRemovesTheLibrary)
{
    LogCapture log;
    {
        LoadedLibrary library;
        ASSERT_TRUE(library.Loaded()) << dlerror();
        EXPECT_TRUE(MappedInProcess());
        auto setHandler = library.Get<SetHandlerFn>("KvHRSetNotificationHandler");
        ASSERT_EQ(setHandler(&CountingHandler, nullptr), 0u);
        ASSERT_EQ(library.Get<StatusFn>("KvHRInitialize")(), 0u);
        EXPECT_TRUE(KvSimService::IsConnected());
        EXPECT_EQ(library.Unload(), 0);
    }
    EXPECT_FALSE(KvSimService::IsConnected());
    EXPECT_FALSE(KvSimService::HasHandler());
    // Teardown deleted every lock but the window-association lock, which lives for good by design.
    EXPECT_EQ(CLock::LivePrimitives(), 1u);
    EXPECT_EQ(dlopen(KVHIDRAW_SO_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);
    EXPECT_FALSE(MappedInProcess());

    // The service has nobody to call any more: its notifications are dropped, not sent into unmapped code.
    KvSimService::SetScriptRunning(true);
    EXPECT_EQ(KvSimService::DroppedNotifications(), 1u);
    EXPECT_EQ(eventsHeard, 1); // the announcement at start only
    EXPECT_EQ(log.CountContaining(W("ASSERT(")), 0u);
}

TEST(UnloadTest, UnloadWhileTheServiceIsDeliveringWaitsForTheRunningNotification)
{
    LoadedLibrary library;
    ASSERT_TRUE(library.Loaded()) << dlerror();
    ASSERT_EQ(library.Get<SetHandlerFn>("KvHRSetNotificationHandler")(&CountingHandler, nullptr), 0u);
    ASSERT_EQ(library.Get<StatusFn>("KvHRInitialize")(), 0u);
    for (int i = 0; i < 200; ++i)
        KvSimService::SetScriptRunning(i % 2 == 0);
    EXPECT_EQ(library.Unload(), 0);
    EXPECT_FALSE(MappedInProcess());
    EXPECT_FALSE(KvSimService::IsConnected());
    // Every notification was either delivered before the unload or dropped by it.
    EXPECT_EQ(KvSimService::DeliveredNotifications() + KvSimService::DroppedNotifications(), 200u);
}

TEST(UnloadTest, ReloadedLibraryStartsFresh)
{
    for (int round = 0; round < 3; ++round)
    {
        LoadedLibrary library;
        ASSERT_TRUE(library.Loaded()) << dlerror();
        EXPECT_EQ(library.Get<StatusFn>("KvHRInitialize")(), 0u) << "round " << round;
        EXPECT_EQ(library.Unload(), 0);
        EXPECT_FALSE(MappedInProcess());
        EXPECT_EQ(CLock::LivePrimitives(), round + 1u);
    }
}

namespace
{
std::promise<void> handlerEntered;
std::promise<void> handlerRelease;
void KVHR_CALL BlockingHandler(uint32_t, uint32_t value, void*)
{
    if (value != 1)
        return;
    handlerEntered.set_value();
    handlerRelease.get_future().wait_for(std::chrono::seconds(10));
}

// Starts the library with the blocking handler and has the service announce a running script: returns once
// that notification is blocked inside the handler.
void StartWithABlockedNotification(LoadedLibrary& library)
{
    ASSERT_EQ(library.Get<SetHandlerFn>("KvHRSetNotificationHandler")(&BlockingHandler, nullptr), 0u);
    ASSERT_EQ(library.Get<StatusFn>("KvHRInitialize")(), 0u);
    KvSimService::SetScriptRunning(true);
    handlerEntered.get_future().wait();
}

// Unloads the library on a thread of its own, which sets `unloaded` once the unload has returned.
std::thread UnloadOnAThread(LoadedLibrary& library, std::atomic<bool>& unloaded)
{
    return std::thread(
        [&library, &unloaded]
        {
            library.Unload();
            unloaded = true;
        });
}
} // namespace

// A notification running in the application's handler returns into the library: the unload must wait for
// it before the library's code goes away.
TEST(UnloadTest, UnloadWaitsForAHandlerThatIsStillRunning)
{
    LoadedLibrary library;
    ASSERT_TRUE(library.Loaded()) << dlerror();
    ASSERT_NO_FATAL_FAILURE(StartWithABlockedNotification(library));

    std::atomic<bool> unloaded{false};
    std::thread unloader = UnloadOnAThread(library, unloaded);
    ASSERT_TRUE(KvSimService::WaitStopWaiting(10000)); // the unload's stop waits for the notification
    EXPECT_FALSE(unloaded);
    EXPECT_TRUE(MappedInProcess());
    handlerRelease.set_value();
    unloader.join();
    EXPECT_TRUE(unloaded);
    EXPECT_FALSE(MappedInProcess());
    EXPECT_EQ(KvSimService::DeliveredNotifications(), 1u);
}

// The handler outlasts the service's bounded wait: the service gives up, but the notification still runs
// the library's code and holds its handler lock, so the unload waits for it on this build (the library
// cannot be kept loaded once the loader unloads it) and frees no lock under it.
TEST(UnloadTest, UnloadKeepsTheCodeForAHandlerThatOutlastsTheServiceWait)
{
    LogCapture log;
    LoadedLibrary library;
    ASSERT_TRUE(library.Loaded()) << dlerror();
    KvSimService::SetStopWait(50);
    ASSERT_NO_FATAL_FAILURE(StartWithABlockedNotification(library));

    std::atomic<bool> unloaded{false};
    std::thread unloader = UnloadOnAThread(library, unloaded);
    ASSERT_TRUE(WaitUntil([&] { return log.CountContaining(W("the unload waits for it")) == 1; }));
    EXPECT_EQ(log.CountContaining(W("not waiting longer")), 1u);
    EXPECT_FALSE(unloaded);
    EXPECT_TRUE(MappedInProcess());
    handlerRelease.set_value();
    unloader.join();
    EXPECT_FALSE(MappedInProcess());
    EXPECT_TRUE(WaitUntil([] { return KvSimService::DeliveredNotifications() == 1; }));
    EXPECT_EQ(log.CountContaining(W("left allocated")), 0u);
    EXPECT_EQ(log.CountContaining(W("could not release")), 0u);
}
