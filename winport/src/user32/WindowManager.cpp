#include "src/user32/WindowManager.h"

#include "src/user32/ThreadExitWatch.h"

#include <algorithm>

namespace winport::user32
{

namespace
{

bool IsAtom(LPCWSTR name)
{
    return reinterpret_cast<ULONG_PTR>(name) < 0x10000;
}

std::u16string Copy(LPCWSTR text)
{
    return text ? std::u16string(text) : std::u16string();
}

// The calling thread's queue. The pointer is trivially destructible; the queue's end at the
// thread's end comes from ThreadExitWatch, whose key is deleted when winport unloads.
thread_local ThreadQueue* t_queue = nullptr;

bool MatchesFilter(HWND hwnd, UINT message, HWND filter, UINT first, UINT last)
{
    if (filter == reinterpret_cast<HWND>(-1))
    {
        if (hwnd != nullptr)
            return false;
    }
    else if (filter != nullptr && hwnd != filter)
        return false;
    return (first == 0 && last == 0) || (message >= first && message <= last);
}

} // namespace

WindowManager& WindowManager::Instance()
{
    // Never destroyed: threads may still end (and tell us) during static teardown.
    static WindowManager* instance = new WindowManager;
    return *instance;
}

std::shared_ptr<ThreadQueue> WindowManager::CurrentQueue()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (t_queue != nullptr)
        return t_queue->shared_from_this();
    auto queue = std::make_shared<ThreadQueue>(GetCurrentThreadId());
    m_queues[queue->ThreadId()] = queue;
    m_liveQueues.insert(queue);
    t_queue = queue.get();
    ThreadExitWatch::Instance().Watch(queue.get());
    return queue;
}

void WindowManager::EndCurrentThread()
{
    ThreadQueue* queue = t_queue;
    if (queue == nullptr)
        return;
    t_queue = nullptr;
    ThreadExitWatch::Instance().Watch(nullptr);
    ThreadEnded(queue);
}

std::shared_ptr<Window> WindowManager::FindLocked(HWND hwnd)
{
    auto it = m_windows.find(hwnd);
    return it == m_windows.end() ? nullptr : it->second;
}

std::shared_ptr<WindowClass> WindowManager::FindClassLocked(LPCWSTR name, HINSTANCE instance)
{
    for (auto& cls : m_classes)
    {
        bool sameName = IsAtom(name) ? cls->atom == static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(name))
                                     : _wcsicmp(cls->name.c_str(), name) == 0;
        if (sameName && cls->instance == instance)
            return cls;
    }
    return nullptr;
}

ATOM WindowManager::RegisterClass(const WNDCLASSW& wc)
{
    if (wc.lpszClassName == nullptr || IsAtom(wc.lpszClassName) || wc.lpfnWndProc == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    if (FindClassLocked(wc.lpszClassName, wc.hInstance))
    {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    auto cls = std::make_shared<WindowClass>();
    cls->name = wc.lpszClassName;
    cls->instance = wc.hInstance;
    cls->proc = wc.lpfnWndProc;
    cls->atom = m_nextAtom++;
    m_classes.push_back(cls);
    return cls->atom;
}

BOOL WindowManager::UnregisterClass(LPCWSTR name, HINSTANCE instance)
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto cls = name ? FindClassLocked(name, instance) : nullptr;
    if (!cls)
    {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (cls->windowCount > 0)
    {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    m_classes.erase(std::find(m_classes.begin(), m_classes.end(), cls));
    return TRUE;
}

HWND WindowManager::CreateWindow(LPCWSTR className, LPCWSTR title, HWND parent, HINSTANCE instance,
                                 CREATESTRUCTW& cs)
{
    auto queue = CurrentQueue();
    auto window = std::make_shared<Window>();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto cls = className ? FindClassLocked(className, instance) : nullptr;
        if (!cls)
        {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        if (parent != nullptr && parent != HWND_MESSAGE && !FindLocked(parent))
        {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        window->hwnd = reinterpret_cast<HWND>(m_nextWindow);
        m_nextWindow += 2;
        window->windowClass = cls;
        window->title = Copy(title);
        window->messageOnly = parent == HWND_MESSAGE;
        window->threadId = queue->ThreadId();
        window->queue = queue;
        cls->windowCount++;
        m_windows[window->hwnd] = window;
    }
    // As on Windows, the window exists (IsWindow is true) while it handles its creation messages.
    WNDPROC proc = window->windowClass->proc;
    LPARAM lp = reinterpret_cast<LPARAM>(&cs);
    if (!proc(window->hwnd, WM_NCCREATE, 0, lp) || proc(window->hwnd, WM_CREATE, 0, lp) == -1)
    {
        DestroyWindow(window->hwnd);
        return nullptr;
    }
    return window->hwnd;
}

void WindowManager::EraseWindowLocked(const std::shared_ptr<Window>& window)
{
    m_windows.erase(window->hwnd);
    window->windowClass->windowCount--;
    ThreadQueue& queue = *window->queue;
    auto& timers = queue.timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(),
                                [&](const WindowTimer& t) { return t.hwnd == window->hwnd; }),
                 timers.end());
    auto& posted = queue.posted;
    posted.erase(
        std::remove_if(posted.begin(), posted.end(), [&](const MSG& m) { return m.hwnd == window->hwnd; }),
        posted.end());
}

BOOL WindowManager::DestroyWindow(HWND hwnd)
{
    std::shared_ptr<Window> window;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        window = FindLocked(hwnd);
        if (!window)
        {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (window->threadId != GetCurrentThreadId())
        {
            // Only the thread that created a window may destroy it.
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }
    WNDPROC proc = window->windowClass->proc;
    proc(hwnd, WM_DESTROY, 0, 0);
    proc(hwnd, WM_NCDESTROY, 0, 0);
    std::lock_guard<std::mutex> guard(m_lock);
    if (FindLocked(hwnd))
        EraseWindowLocked(window);
    return TRUE;
}

bool WindowManager::IsWindow(HWND hwnd)
{
    std::lock_guard<std::mutex> guard(m_lock);
    return FindLocked(hwnd) != nullptr;
}

DWORD WindowManager::WindowThread(HWND hwnd)
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto window = FindLocked(hwnd);
    return window ? window->threadId : 0;
}

WNDPROC WindowManager::WindowProc(HWND hwnd)
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto window = FindLocked(hwnd);
    return window ? window->windowClass->proc : nullptr;
}

HWND WindowManager::FindWindow(HWND parent, HWND after, LPCWSTR className, LPCWSTR title)
{
    std::lock_guard<std::mutex> guard(m_lock);
    bool messageOnly = parent == HWND_MESSAGE;
    bool started = after == nullptr;
    for (auto& [hwnd, window] : m_windows)
    {
        if (!started)
        {
            started = hwnd == after;
            continue;
        }
        if (window->messageOnly != messageOnly)
            continue;
        if (className &&
            (IsAtom(className) ? window->windowClass->atom != reinterpret_cast<ULONG_PTR>(className)
                               : _wcsicmp(window->windowClass->name.c_str(), className) != 0))
            continue;
        if (title && _wcsicmp(window->title.c_str(), title) != 0)
            continue;
        return hwnd;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
}

void WindowManager::CompleteLocked(SentMessage& sent, LRESULT result)
{
    sent.result = result;
    sent.done = true;
    if (sent.sender)
        sent.sender->wakeUp.notify_all();
}

void WindowManager::DeliverSent(std::unique_lock<std::mutex>& lock, const std::shared_ptr<SentMessage>& sent)
{
    auto window = FindLocked(sent->hwnd);
    LRESULT result = 0;
    if (window)
    {
        lock.unlock();
        result = window->windowClass->proc(sent->hwnd, sent->message, sent->wParam, sent->lParam);
        lock.lock();
    }
    CompleteLocked(*sent, result);
}

bool WindowManager::TakePosted(ThreadQueue& queue, MSG& msg, HWND filter, UINT first, UINT last)
{
    for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it)
    {
        if (MatchesFilter(it->hwnd, it->message, filter, first, last))
        {
            msg = *it;
            queue.posted.erase(it);
            return true;
        }
    }
    return false;
}

bool WindowManager::TakeTimer(ThreadQueue& queue, MSG& msg, HWND filter, UINT first, UINT last,
                              Clock::time_point& nextDue)
{
    auto now = Clock::now();
    WindowTimer* earliest = nullptr;
    for (auto& timer : queue.timers)
    {
        if (!MatchesFilter(timer.hwnd, WM_TIMER, filter, first, last))
            continue;
        if (!earliest || timer.due < earliest->due)
            earliest = &timer;
    }
    if (!earliest)
        return false;
    if (earliest->due > now)
    {
        nextDue = std::min(nextDue, earliest->due);
        return false;
    }
    // A due timer yields one WM_TIMER however late it is, then counts its period from now.
    msg = MSG{earliest->hwnd, WM_TIMER, earliest->id, reinterpret_cast<LPARAM>(earliest->proc),
              GetTickCount(), {}};
    earliest->due = now + std::chrono::milliseconds(earliest->elapse);
    return true;
}

BOOL WindowManager::GetMessage(MSG& msg, HWND filter, UINT first, UINT last)
{
    auto queue = CurrentQueue();
    std::unique_lock<std::mutex> lock(m_lock);
    if (filter != nullptr && filter != reinterpret_cast<HWND>(-1) && !FindLocked(filter))
    {
        lock.unlock();
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    for (;;)
    {
        // Sent messages are dispatched first, inside GetMessage, as on Windows.
        if (!queue->sent.empty())
        {
            auto sent = queue->sent.front();
            queue->sent.pop_front();
            DeliverSent(lock, sent);
            continue;
        }
        if (TakePosted(*queue, msg, filter, first, last))
            return TRUE;
        if (queue->quitPosted)
        {
            queue->quitPosted = false;
            msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue->quitCode), 0, GetTickCount(), {}};
            return FALSE;
        }
        auto nextDue = Clock::time_point::max();
        if (TakeTimer(*queue, msg, filter, first, last, nextDue))
            return TRUE;
        if (nextDue == Clock::time_point::max())
            queue->wakeUp.wait(lock);
        else
            queue->wakeUp.wait_until(lock, nextDue);
    }
}

BOOL WindowManager::PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (hwnd == nullptr)
        return PostThreadMessage(GetCurrentThreadId(), message, wParam, lParam);
    DWORD now = GetTickCount();
    std::lock_guard<std::mutex> guard(m_lock);
    auto window = FindLocked(hwnd);
    if (!window)
    {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    window->queue->posted.push_back(MSG{hwnd, message, wParam, lParam, now, {}});
    window->queue->wakeUp.notify_all();
    return TRUE;
}

BOOL WindowManager::PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (threadId == GetCurrentThreadId())
        CurrentQueue();
    DWORD now = GetTickCount();
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_queues.find(threadId);
    auto queue = it == m_queues.end() ? nullptr : it->second.lock();
    if (!queue || !queue->alive)
    {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    queue->posted.push_back(MSG{nullptr, message, wParam, lParam, now, {}});
    queue->wakeUp.notify_all();
    return TRUE;
}

void WindowManager::PostQuit(int code)
{
    auto queue = CurrentQueue();
    std::lock_guard<std::mutex> guard(m_lock);
    queue->quitPosted = true;
    queue->quitCode = code;
}

LRESULT WindowManager::SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    SendWithDeadline(hwnd, message, wParam, lParam, Clock::time_point::max(), result);
    return result;
}

bool WindowManager::SendWithDeadline(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                     Clock::time_point deadline, LRESULT& result)
{
    result = 0;
    auto self = CurrentQueue();
    std::unique_lock<std::mutex> lock(m_lock);
    auto window = FindLocked(hwnd);
    if (!window)
    {
        lock.unlock();
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    if (window->queue == self)
    {
        lock.unlock();
        result = window->windowClass->proc(hwnd, message, wParam, lParam);
        return true;
    }
    if (!window->queue->alive)
        return false;
    auto sent = std::make_shared<SentMessage>(SentMessage{hwnd, message, wParam, lParam, 0, false, self});
    window->queue->sent.push_back(sent);
    window->queue->wakeUp.notify_all();
    while (!sent->done)
    {
        // A waiting sender still serves messages sent to its own windows, so two threads sending
        // to each other do not deadlock.
        if (!self->sent.empty())
        {
            auto incoming = self->sent.front();
            self->sent.pop_front();
            DeliverSent(lock, incoming);
            continue;
        }
        if (deadline == Clock::time_point::max())
        {
            // No deadline: a plain wait (a wait until the clock's maximum may overflow).
            self->wakeUp.wait(lock);
            continue;
        }
        if (self->wakeUp.wait_until(lock, deadline) == std::cv_status::timeout && !sent->done)
        {
            auto& pending = window->queue->sent;
            pending.erase(std::remove(pending.begin(), pending.end(), sent), pending.end());
            return false;
        }
    }
    result = sent->result;
    return true;
}

UINT_PTR WindowManager::SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc)
{
    auto self = CurrentQueue();
    elapse = std::clamp<UINT>(elapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
    std::lock_guard<std::mutex> guard(m_lock);
    std::shared_ptr<ThreadQueue> queue = self;
    if (hwnd != nullptr)
    {
        auto window = FindLocked(hwnd);
        if (!window)
        {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        // A timer belongs to its window's thread, whichever thread set it.
        queue = window->queue;
    }
    auto due = Clock::now() + std::chrono::milliseconds(elapse);
    auto& timers = queue->timers;
    auto it = std::find_if(timers.begin(), timers.end(),
                           [&](const WindowTimer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it != timers.end() && (hwnd != nullptr || id != 0))
        *it = WindowTimer{hwnd, id, elapse, proc, due};
    else
    {
        if (hwnd == nullptr)
            id = ++m_nextThreadTimer;
        timers.push_back(WindowTimer{hwnd, id, elapse, proc, due});
    }
    queue->wakeUp.notify_all();
    return hwnd == nullptr ? id : (id != 0 ? id : 1);
}

BOOL WindowManager::KillTimer(HWND hwnd, UINT_PTR id)
{
    auto self = CurrentQueue();
    std::lock_guard<std::mutex> guard(m_lock);
    std::shared_ptr<ThreadQueue> queue = self;
    if (hwnd != nullptr)
    {
        auto window = FindLocked(hwnd);
        if (!window)
        {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        queue = window->queue;
    }
    auto& timers = queue->timers;
    auto it = std::find_if(timers.begin(), timers.end(),
                           [&](const WindowTimer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it == timers.end())
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    timers.erase(it);
    return TRUE;
}

bool WindowManager::IsTimerProc(HWND hwnd, UINT_PTR id, TIMERPROC proc)
{
    auto self = CurrentQueue();
    std::lock_guard<std::mutex> guard(m_lock);
    auto window = hwnd ? FindLocked(hwnd) : nullptr;
    auto& timers = window ? window->queue->timers : self->timers;
    return std::any_of(timers.begin(), timers.end(),
                       [&](const WindowTimer& t) { return t.hwnd == hwnd && t.id == id && t.proc == proc; });
}

void WindowManager::ThreadEnded(ThreadQueue* ending)
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto queue = ending->shared_from_this();
    queue->alive = false;
    // Windows destroys a thread's windows when it ends, without calling their procedures.
    std::vector<std::shared_ptr<Window>> owned;
    for (auto& [hwnd, window] : m_windows)
        if (window->queue == queue)
            owned.push_back(window);
    for (auto& window : owned)
        EraseWindowLocked(window);
    for (auto& sent : queue->sent)
        CompleteLocked(*sent, 0);
    queue->sent.clear();
    queue->posted.clear();
    queue->timers.clear();
    auto it = m_queues.find(queue->ThreadId());
    if (it != m_queues.end() && it->second.lock() == queue)
        m_queues.erase(it);
    m_liveQueues.erase(queue);
}

size_t WindowManager::WindowCount()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_windows.size();
}

size_t WindowManager::ClassCount()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_classes.size();
}

size_t WindowManager::PendingSendCount()
{
    std::lock_guard<std::mutex> guard(m_lock);
    size_t count = 0;
    for (auto& [id, weak] : m_queues)
        if (auto queue = weak.lock())
            count += queue->sent.size();
    return count;
}

size_t WindowManager::TimerCount()
{
    std::lock_guard<std::mutex> guard(m_lock);
    size_t count = 0;
    for (auto& [id, weak] : m_queues)
        if (auto queue = weak.lock())
            count += queue->timers.size();
    return count;
}

} // namespace winport::user32
