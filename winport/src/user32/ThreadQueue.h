// One thread's message queue: posted messages, messages sent to it by other threads, and the
// window timers of its windows. Guarded by the window manager's lock.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <vector>

namespace winport::user32
{

class ThreadQueue;

// A message sent from one thread to a window of another; the sender waits until `done`.
struct SentMessage
{
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
    bool done = false;
    std::shared_ptr<ThreadQueue> sender;
};

struct WindowTimer
{
    HWND hwnd;
    UINT_PTR id;
    UINT elapse;
    TIMERPROC proc;
    std::chrono::steady_clock::time_point due;
};

class ThreadQueue : public std::enable_shared_from_this<ThreadQueue>
{
public:
    explicit ThreadQueue(DWORD threadId) : m_threadId(threadId) {}

    DWORD ThreadId() const { return m_threadId; }

    // Everything below is accessed with the window manager's lock held.
    std::condition_variable wakeUp;
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<SentMessage>> sent;
    std::vector<WindowTimer> timers;
    bool quitPosted = false;
    int quitCode = 0;
    bool alive = true;

private:
    DWORD m_threadId;
};

} // namespace winport::user32
