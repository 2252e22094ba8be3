// Loading, starting and unloading the library again and again in one process: the notification window, its
// thread and its class go with each load, and a class left behind by an earlier load does not serve the next.
#include "KvHidRaw.h"
#include "KvTestSupport.h"

#include <dbt.h>
#include <machine/DesktopControl.h>
#include <machine/Machine.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace machine = winport::machine;

namespace
{
typedef uint32_t(KVHR_CALL* StatusFn)();

HWND FindNotifyWindow()
{
    return FindWindowExW(HWND_MESSAGE, nullptr, u"Kavrel Notify HID 1", u"Kavrel HID Control App 1");
}

struct Snapshot
{
    machine::OpenResources kernel = machine::Machine::Instance().QueryOpenResources();
    machine::DesktopResources desktop = machine::OpenDesktopResources();
};

void ExpectNothingLeft(const Snapshot& before, int round)
{
    const Snapshot now;
    EXPECT_EQ(now.kernel.handlesByKind, before.kernel.handlesByKind) << "round " << round;
    EXPECT_EQ(now.kernel.runningThreads, before.kernel.runningThreads) << "round " << round;
    EXPECT_EQ(now.desktop.windows, before.desktop.windows) << "round " << round;
    EXPECT_EQ(now.desktop.windowClasses, before.desktop.windowClasses) << "round " << round;
    EXPECT_EQ(now.desktop.deviceNotifications, before.desktop.deviceNotifications) << "round " << round;
    EXPECT_EQ(now.desktop.windowTimers, before.desktop.windowTimers) << "round " << round;
}

// Loads the library, starts it, checks its window, optionally stops it, and unloads it.
void LoadStartUnload(bool stopFirst)
{
    void* library = dlopen(KVHIDRAW_SO_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    reinterpret_cast<StatusFn>(dlsym(library, "KvHRInitialize"))();
    const HWND hWnd = FindNotifyWindow();
    EXPECT_NE(hWnd, nullptr);
    EXPECT_NE(GetWindowThreadProcessId(hWnd, nullptr), GetCurrentThreadId());
    if (stopFirst)
        reinterpret_cast<StatusFn>(dlsym(library, "KvHRUnInitialize"))();
    ASSERT_EQ(dlclose(library), 0);
    EXPECT_EQ(dlopen(KVHIDRAW_SO_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);
    EXPECT_EQ(FindNotifyWindow(), nullptr);
}

std::atomic<int> staleProcedureCalls{0};
LRESULT CALLBACK StaleProcedure(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    ++staleProcedureCalls;
    return DefWindowProcW(hWnd, message, wParam, lParam);
}
} // namespace

TEST(NotificationReload, EachLoadTakesItsWindowThreadAndClassAway)
{
    LogCapture log;
    const Snapshot before;
    for (int round = 0; round < 4; ++round)
    {
        LoadStartUnload(round % 2 == 1);
        ExpectNothingLeft(before, round);
    }
    EXPECT_EQ(log.CountContaining(u"ASSERT("), 0u);
}

// On Windows an unload runs under the loader lock, so the message thread cannot end in time and the class,
// registered under the host's module handle, stays behind with the procedure of the unloaded library. The
// next load must not make its window of that class.
TEST(NotificationReload, AClassLeftBehindByAnEarlierLoadIsReplaced)
{
    const Snapshot before;
    WNDCLASSW stale = {};
    stale.lpfnWndProc = &StaleProcedure;
    stale.hInstance = GetModuleHandleW(nullptr);
    stale.lpszClassName = u"Kavrel Notify HID 1";
    ASSERT_NE(RegisterClassW(&stale), 0);

    void* library = dlopen(KVHIDRAW_SO_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    reinterpret_cast<StatusFn>(dlsym(library, "KvHRInitialize"))();
    const HWND hWnd = FindNotifyWindow();
    ASSERT_NE(hWnd, nullptr);
    SendMessageW(hWnd, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    EXPECT_EQ(staleProcedureCalls, 0);
    ASSERT_EQ(dlclose(library), 0);

    const Snapshot after;
    EXPECT_EQ(after.desktop.windowClasses, before.desktop.windowClasses); // replaced, then gone with the load
    EXPECT_EQ(after.kernel.runningThreads, before.kernel.runningThreads);
}
