// Windows, classes, message queues and window timers.
#include "DesktopTestSupport.h"

#include <machine/DesktopControl.h>
#include <src/user32/ThreadExitWatch.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using desktop_test::PumpingWindow;

namespace
{

std::atomic<int> g_calls{0};
LRESULT CALLBACK CountingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    ++g_calls;
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

HINSTANCE Instance()
{
    return reinterpret_cast<HINSTANCE>(0x400000);
}

ATOM Register(const char16_t* name, WNDPROC proc = CountingProc)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = Instance();
    wc.lpszClassName = name;
    return RegisterClassW(&wc);
}

HWND MessageWindow(const char16_t* className, const char16_t* title = u"")
{
    return CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, HWND_MESSAGE, nullptr, Instance(), nullptr);
}

// How many WM_TIMER of that timer the window has had.
size_t TimerCount(PumpingWindow& window, UINT_PTR id)
{
    size_t count = 0;
    for (const auto& d : window.Deliveries())
        count += d.message == WM_TIMER && d.wParam == id;
    return count;
}

} // namespace

TEST(User32Classes, RegisteringTwiceAndUnregisteringAnswerAsWindows)
{
    EXPECT_NE(Register(u"Kavrel Notify HID 1"), 0);
    SetLastError(0);
    EXPECT_EQ(Register(u"kavrel notify hid 1"), 0) << "class names ignore case";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));

    HWND hwnd = MessageWindow(u"Kavrel Notify HID 1", u"Kavrel HID Control App 1");
    ASSERT_NE(hwnd, nullptr);
    EXPECT_FALSE(UnregisterClassW(u"Kavrel Notify HID 1", Instance()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
    EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, u"Kavrel Notify HID 1", u"Kavrel HID Control App 1"),
              hwnd);
    EXPECT_EQ(FindWindowExW(nullptr, nullptr, u"Kavrel Notify HID 1", nullptr), nullptr)
        << "message-only windows are found only under HWND_MESSAGE";

    EXPECT_TRUE(DestroyWindow(hwnd));
    EXPECT_TRUE(UnregisterClassW(u"Kavrel Notify HID 1", Instance()));
    EXPECT_FALSE(UnregisterClassW(u"Kavrel Notify HID 1", Instance()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST));
}

TEST(User32Windows, CreationAndDestructionCallTheProcedureAndInvalidateTheHandle)
{
    ASSERT_NE(Register(u"Cls"), 0);
    SetLastError(0);
    EXPECT_EQ(MessageWindow(u"Missing"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));

    g_calls = 0;
    HWND hwnd = MessageWindow(u"Cls");
    ASSERT_NE(hwnd, nullptr);
    EXPECT_GE(g_calls.load(), 2) << "WM_NCCREATE and WM_CREATE";
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(GetWindowThreadProcessId(hwnd, nullptr), GetCurrentThreadId());

    int before = g_calls;
    EXPECT_TRUE(DestroyWindow(hwnd));
    EXPECT_EQ(g_calls - before, 2) << "WM_DESTROY and WM_NCDESTROY";
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(DestroyWindow(hwnd));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(PostMessageW(hwnd, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    MSG msg;
    EXPECT_EQ(GetMessageW(&msg, hwnd, 0, 0), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST(User32Windows, AnotherThreadCannotDestroyAWindowAndAThreadsEndDestroysIt)
{
    PumpingWindow window;
    HWND hwnd = window.Window();
    EXPECT_EQ(GetWindowThreadProcessId(hwnd, nullptr), window.ThreadId());
    EXPECT_FALSE(DestroyWindow(hwnd));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(IsWindow(hwnd));
    size_t destroys = window.Count(WM_DESTROY);
    window.Stop();
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(window.Count(WM_DESTROY), destroys) << "a thread's end destroys its windows without messages";
    EXPECT_EQ(winport::machine::OpenDesktopResources().windows, 0u);
}

TEST(User32Messages, GetMessageFiltersByWindowAndKeepsOrder)
{
    ASSERT_NE(Register(u"Cls"), 0);
    HWND a = MessageWindow(u"Cls");
    HWND b = MessageWindow(u"Cls");
    ASSERT_TRUE(PostMessageW(a, WM_USER + 1, 1, 0));
    ASSERT_TRUE(PostMessageW(b, WM_USER + 2, 2, 0));
    ASSERT_TRUE(PostMessageW(a, WM_USER + 3, 3, 0));
    ASSERT_TRUE(PostMessageW(nullptr, WM_USER + 4, 4, 0)); // a thread message

    MSG msg;
    ASSERT_EQ(GetMessageW(&msg, a, 0, 0), TRUE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 1));
    EXPECT_EQ(msg.hwnd, a);
    ASSERT_EQ(GetMessageW(&msg, a, 0, 0), TRUE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 3)) << "b's message is skipped, not lost";
    ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 2));
    ASSERT_EQ(GetMessageW(&msg, nullptr, WM_USER + 4, WM_USER + 4), TRUE);
    EXPECT_EQ(msg.hwnd, nullptr);
    g_calls = 0;
    msg.hwnd = b;
    DispatchMessageW(&msg);
    EXPECT_EQ(g_calls, 1);

    PostQuitMessage(7);
    ASSERT_EQ(GetMessageW(&msg, a, 0, 0), FALSE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 7u);
    DestroyWindow(a);
    DestroyWindow(b);
}

TEST(User32Messages, PostedMessagesReachTheWindowsOwnThread)
{
    PumpingWindow window;
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(PostMessageW(window.Window(), WM_USER, i, 0));
    ASSERT_TRUE(WaitUntil([&] { return window.Count(WM_USER) == 100; }));
    WPARAM expected = 0;
    for (auto& d : window.Deliveries())
    {
        if (d.message != WM_USER)
            continue;
        EXPECT_EQ(d.wParam, expected++) << "posted messages keep their order";
        EXPECT_EQ(d.threadId, window.ThreadId());
    }
}

TEST(User32Messages, SendMessageWaitsForTheProcedureOnTheOwnersThread)
{
    std::atomic<bool> inside{false};
    PumpingWindow window(
        [&](HWND, UINT message, WPARAM, LPARAM)
        {
            if (message != WM_USER + 9)
                return;
            inside = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            inside = false;
        });
    SendMessageW(window.Window(), WM_USER + 9, 0, 0);
    EXPECT_FALSE(inside) << "SendMessageW returned while the procedure still ran";
    ASSERT_EQ(window.Count(WM_USER + 9), 1u);
    EXPECT_EQ(window.Deliveries().back().threadId, window.ThreadId());
}

TEST(User32Timers, ATimerFiresRepeatedlyUntilKilledAndNeverAfter)
{
    PumpingWindow window;
    HWND hwnd = window.Window();
    // Set from this thread: the timer belongs to the window's thread all the same.
    EXPECT_EQ(SetTimer(hwnd, 5, 10, nullptr), 5u);
    ASSERT_TRUE(WaitUntil([&] { return window.Count(WM_TIMER) >= 3; }));
    for (auto& d : window.Deliveries())
        if (d.message == WM_TIMER)
        {
            EXPECT_EQ(d.wParam, 5u);
            EXPECT_EQ(d.threadId, window.ThreadId());
        }
    EXPECT_TRUE(KillTimer(hwnd, 5));
    // Once KillTimer has returned no WM_TIMER of it comes any more. A round trip through the window's
    // queue proves the window has caught up; a second timer of the same period, started after the
    // kill, firing three times is the later event that the killed one would have come before.
    SendMessageW(hwnd, WM_NULL, 0, 0);
    size_t count = TimerCount(window, 5);
    EXPECT_EQ(SetTimer(hwnd, 6, 10, nullptr), 6u);
    ASSERT_TRUE(WaitUntil([&] { return TimerCount(window, 6) >= 3; }));
    EXPECT_EQ(TimerCount(window, 5), count);
    EXPECT_TRUE(KillTimer(hwnd, 6));
    EXPECT_FALSE(KillTimer(hwnd, 5));
    EXPECT_EQ(winport::machine::OpenDesktopResources().windowTimers, 0u);
}

TEST(User32Timers, AOneShotTimerKilledInItsHandlerFiresOnce)
{
    std::atomic<int> fired{0};
    PumpingWindow window(
        [&](HWND hwnd, UINT message, WPARAM id, LPARAM)
        {
            if (message == WM_TIMER && id == 0)
            {
                ++fired;
                KillTimer(hwnd, id);
            }
        });
    // Id 0 is a valid timer id; the answer is still non-zero.
    EXPECT_NE(SetTimer(window.Window(), 0, 10, nullptr), 0u);
    ASSERT_TRUE(WaitUntil([&] { return fired == 1; }));
    // A timer of the same period set afterwards firing three times: a second WM_TIMER of id 0 would
    // have come before.
    EXPECT_EQ(SetTimer(window.Window(), 1, 10, nullptr), 1u);
    ASSERT_TRUE(WaitUntil([&] { return TimerCount(window, 1) >= 3; }));
    EXPECT_EQ(fired, 1);
}

TEST(User32Timers, SettingAnExistingTimerAgainRestartsItWithTheNewPeriod)
{
    PumpingWindow window;
    HWND hwnd = window.Window();
    ASSERT_NE(SetTimer(hwnd, 1, USER_TIMER_MAXIMUM, nullptr), 0u);
    ASSERT_NE(SetTimer(hwnd, 1, 10, nullptr), 0u);
    ASSERT_TRUE(WaitUntil([&] { return window.Count(WM_TIMER) >= 1; }));
    EXPECT_EQ(winport::machine::OpenDesktopResources().windowTimers, 1u) << "one timer, not two";
    EXPECT_EQ(SetTimer(reinterpret_cast<HWND>(0x1234), 1, 10, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST(User32Timers, DestroyingTheWindowKillsItsTimers)
{
    ASSERT_NE(Register(u"Cls"), 0);
    HWND hwnd = MessageWindow(u"Cls");
    ASSERT_NE(SetTimer(hwnd, 3, 10, nullptr), 0u);
    DestroyWindow(hwnd);
    EXPECT_EQ(winport::machine::OpenDesktopResources().windowTimers, 0u);
}

TEST(User32Messages, ThreadsSendingToEachOtherServeTheIncomingSendWhileTheyWait)
{
    std::atomic<HWND> second{nullptr};
    std::atomic<int> answered{0};
    PumpingWindow b(
        [&](HWND, UINT message, WPARAM, LPARAM lParam)
        {
            if (message == WM_USER + 1) // from a's procedure: call a back while a waits for us
                SendMessageW(reinterpret_cast<HWND>(lParam), WM_USER + 2, 0, 0);
        });
    PumpingWindow a(
        [&](HWND hwnd, UINT message, WPARAM, LPARAM)
        {
            if (message == WM_USER)
                SendMessageW(second.load(), WM_USER + 1, 0, reinterpret_cast<LPARAM>(hwnd));
            if (message == WM_USER + 2)
                ++answered;
        });
    second = b.Window();
    SendMessageW(a.Window(), WM_USER, 0, 0);
    EXPECT_EQ(answered, 1);
    for (auto& d : a.Deliveries())
        EXPECT_EQ(d.threadId, a.ThreadId());
}

TEST(User32Windows, EndThreadQueueDestroysTheThreadsWindowsBeforeTheThreadIsGone)
{
    ASSERT_NE(Register(u"Cls"), 0);
    std::atomic<HWND> hwnd{nullptr};
    std::atomic<bool> ended{false};
    std::atomic<bool> release{false};
    std::thread runner(
        [&]
        {
            hwnd = MessageWindow(u"Cls");
            SetTimer(hwnd, 1, 10, nullptr);
            winport::user32::EndThreadQueue(); // what a thread runner calls after the routine
            ended = true;
            while (!release)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    ASSERT_TRUE(WaitUntil([&] { return ended.load(); }));
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(winport::machine::OpenDesktopResources().windowTimers, 0u);
    release = true;
    runner.join();
}

namespace
{
std::atomic<int> g_timerProcCalls{0};
VOID CALLBACK CountingTimerProc(HWND, UINT, UINT_PTR, DWORD)
{
    ++g_timerProcCalls;
}
} // namespace

TEST(User32Timers, ATimerProcedureIsCalledByDispatchOnlyForALiveTimer)
{
    ASSERT_NE(Register(u"Cls"), 0);
    HWND hwnd = MessageWindow(u"Cls");
    ASSERT_EQ(SetTimer(hwnd, 4, 10, CountingTimerProc), 4u);
    MSG msg;
    ASSERT_EQ(GetMessageW(&msg, hwnd, WM_TIMER, WM_TIMER), TRUE);
    EXPECT_EQ(msg.lParam, reinterpret_cast<LPARAM>(CountingTimerProc));
    g_calls = 0;
    DispatchMessageW(&msg);
    EXPECT_EQ(g_timerProcCalls, 1);
    EXPECT_EQ(g_calls, 0) << "the timer procedure, not the window procedure";
    KillTimer(hwnd, 4);
    DispatchMessageW(&msg);
    EXPECT_EQ(g_timerProcCalls, 1) << "a killed timer's procedure is not called";
    DestroyWindow(hwnd);
}
