// The notification window of the Windows DLL under a Windows loader: it exists while the library runs, and
// the library unloads with its message thread alive (the loader lock held) and loads and starts again.
#include <gtest/gtest.h>

#include <windows.h>

#include <dbt.h>

#include "KvHidRaw.h"

namespace
{
typedef uint32_t(KVHR_CALL* StatusFn)();

HWND FindNotifyWindow()
{
    return FindWindowExW(HWND_MESSAGE, nullptr, L"Kavrel Notify HID 1", L"Kavrel HID Control App 1");
}

StatusFn Export(HMODULE module, const char* name)
{
    return reinterpret_cast<StatusFn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
} // namespace

TEST(WindowsNotifications, TheWindowLivesOnItsOwnThreadWhileTheLibraryRuns)
{
    HMODULE library = LoadLibraryW(L"KvHidRaw.dll");
    ASSERT_NE(library, nullptr);
    ASSERT_EQ(Export(library, "KvHRInitialize")(), 0u);
    const HWND hWnd = FindNotifyWindow();
    ASSERT_NE(hWnd, nullptr);
    EXPECT_NE(GetWindowThreadProcessId(hWnd, nullptr), GetCurrentThreadId());
    SendMessageW(hWnd, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0); // the library's procedure answers
    EXPECT_EQ(Export(library, "KvHRUnInitialize")(), 0u);
    // The stop waits a bounded time for the message thread; on a loaded machine the window may go just after.
    const DWORD deadline = GetTickCount() + 10000;
    while (IsWindow(hWnd) && static_cast<LONG>(deadline - GetTickCount()) > 0)
        Sleep(10);
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_TRUE(FreeLibrary(library));
}

// The unload waits for the message thread, which cannot end while the loader lock is held: the wait runs out
// (2 s), the thread ends after the unload, and the next load starts a new window whose procedure answers.
TEST(WindowsNotifications, UnloadingWithTheMessageThreadAliveThenLoadingAgainWorks)
{
    for (int round = 0; round < 3; ++round)
    {
        HMODULE library = LoadLibraryW(L"KvHidRaw.dll");
        ASSERT_NE(library, nullptr) << "round " << round;
        ASSERT_EQ(Export(library, "KvHRInitialize")(), 0u);
        const HWND hWnd = FindNotifyWindow();
        ASSERT_NE(hWnd, nullptr) << "round " << round;
        SendMessageW(hWnd, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
        EXPECT_NE(GetWindowThreadProcessId(hWnd, nullptr), GetCurrentThreadId());

        EXPECT_TRUE(FreeLibrary(library));
        EXPECT_EQ(GetModuleHandleW(L"KvHidRaw.dll"), nullptr);
    }
}
