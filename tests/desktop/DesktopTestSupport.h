// Helpers of the desktop tests: a window living on a pumping thread (and WaitUntil.h for waiting).
#pragma once

#include <windows.h>

#include "WaitUntil.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace desktop_test
{

struct Delivery
{
    UINT message;
    WPARAM wParam;
    DWORD threadId;
};

// A message-only window created by a thread of its own, which pumps with GetMessageW filtered on
// the window until it receives WM_APP. Every message that reaches the window procedure is recorded
// with the thread it ran on; `onMessage` may act on it (it runs on the window's thread).
class PumpingWindow
{
public:
    using Handler = std::function<void(HWND, UINT, WPARAM, LPARAM)>;

    explicit PumpingWindow(Handler onMessage = nullptr, bool pump = true);
    ~PumpingWindow();

    HWND Window() const { return m_hwnd; }
    DWORD ThreadId() const { return m_threadId; }
    std::vector<Delivery> Deliveries();
    size_t Count(UINT message);
    void Stop();                         // posts WM_APP and joins the thread
    void Release() { m_release = true; } // lets a non-pumping thread end

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Run(bool pump);

    Handler m_onMessage;
    std::mutex m_lock;
    std::condition_variable m_ready;
    std::vector<Delivery> m_deliveries;
    HWND m_hwnd = nullptr;
    DWORD m_threadId = 0;
    std::atomic<bool> m_release{false};
    std::thread m_thread;
};

} // namespace desktop_test
