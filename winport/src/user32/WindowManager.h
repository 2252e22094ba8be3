// The desktop of the machine: window classes, windows, the message queue of every thread that
// used user32, and the window timers. One lock guards it all; window procedures, timer
// procedures and the waits of senders always run without it.
#pragma once

#include "src/user32/ThreadQueue.h"
#include "src/user32/Window.h"

#include <windows.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace winport::user32
{

class WindowManager
{
public:
    static WindowManager& Instance();

    ATOM RegisterClass(const WNDCLASSW& wc);
    BOOL UnregisterClass(LPCWSTR name, HINSTANCE instance);
    HWND CreateWindow(LPCWSTR className, LPCWSTR title, HWND parent, HINSTANCE instance, CREATESTRUCTW& cs);
    BOOL DestroyWindow(HWND hwnd);
    bool IsWindow(HWND hwnd);
    DWORD WindowThread(HWND hwnd);
    HWND FindWindow(HWND parent, HWND after, LPCWSTR className, LPCWSTR title);
    WNDPROC WindowProc(HWND hwnd);

    BOOL GetMessage(MSG& msg, HWND filter, UINT first, UINT last);
    BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    BOOL PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
    void PostQuit(int code);
    LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    // Sends and waits for the window procedure, at most until the deadline. Returns false (and
    // leaves result 0) when the window or its thread is gone or the deadline passed first.
    bool SendWithDeadline(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                          std::chrono::steady_clock::time_point deadline, LRESULT& result);

    UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc);
    BOOL KillTimer(HWND hwnd, UINT_PTR id);
    // Whether proc is the procedure of a live timer (hwnd, id) of the calling thread.
    bool IsTimerProc(HWND hwnd, UINT_PTR id, TIMERPROC proc);

    // A thread that used user32 ends: its windows and timers go, pending sends to it fail.
    void ThreadEnded(ThreadQueue* queue);
    // The same for the calling thread, before it ends; see ThreadExitWatch.h.
    void EndCurrentThread();

    size_t WindowCount();
    size_t ClassCount();
    size_t TimerCount();
    size_t PendingSendCount();

private:
    using Clock = std::chrono::steady_clock;

    std::shared_ptr<ThreadQueue> CurrentQueue();
    std::shared_ptr<Window> FindLocked(HWND hwnd);
    std::shared_ptr<WindowClass> FindClassLocked(LPCWSTR name, HINSTANCE instance);
    void EraseWindowLocked(const std::shared_ptr<Window>& window);
    void DeliverSent(std::unique_lock<std::mutex>& lock, const std::shared_ptr<SentMessage>& sent);
    bool TakePosted(ThreadQueue& queue, MSG& msg, HWND filter, UINT first, UINT last);
    bool TakeTimer(ThreadQueue& queue, MSG& msg, HWND filter, UINT first, UINT last,
                   Clock::time_point& nextDue);
    void CompleteLocked(SentMessage& sent, LRESULT result);

    std::mutex m_lock;
    std::map<HWND, std::shared_ptr<Window>> m_windows;
    std::vector<std::shared_ptr<WindowClass>> m_classes;
    std::map<DWORD, std::weak_ptr<ThreadQueue>> m_queues;
    std::set<std::shared_ptr<ThreadQueue>> m_liveQueues; // owns each queue until its thread ends
    ULONG_PTR m_nextWindow = 0x10010;
    ATOM m_nextAtom = 0xC000;
    UINT_PTR m_nextThreadTimer = 0x7FFF;
};

} // namespace winport::user32
