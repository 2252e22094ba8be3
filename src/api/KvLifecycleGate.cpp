#include "KvLifecycleGate.h"

#include "KvCallbackScope.h"
#include "KvCommon.h"

#include <chrono>

DWORD CKvLifecycleGate::Run(Operation operation, const char* name)
{
    std::unique_lock<std::mutex> guard(m_mutex);
    if (!Enter(guard))
    {
        m_queued.push_back({operation, name});
        return ERROR_IO_PENDING;
    }
    guard.unlock();
    const DWORD status = operation();
    guard.lock();
    RunQueued(guard);
    Leave();
    return status;
}

void CKvLifecycleGate::RunLast(Operation operation)
{
    std::unique_lock<std::mutex> guard(m_mutex);
    const bool entered = Enter(guard);
    guard.unlock();
    operation(); // the unload goes on even when the gate stayed busy
    guard.lock();
    for (const Request& request : m_queued)
        KvDebugLog(TEXT("KvHidRaw: \"%hs\" queued by a callback is dropped: the library unloads\n"),
                   request.name);
    m_queued.clear();
    if (entered)
        Leave();
}

// Takes the gate: at once when it is free, after a wait on a thread outside callbacks. A callback's thread
// never waits, and a wait that runs out queues rather than run beside the running operation.
bool CKvLifecycleGate::Enter(std::unique_lock<std::mutex>& guard)
{
    if (m_busy && CKvCallbackScope::InsideCallback())
        return false;
    if (!m_free.wait_for(guard, std::chrono::milliseconds(KV_LOCK_TIMEOUT_MS), [this] { return !m_busy; }))
    {
        KvDebugLog(TEXT("KvHidRaw: a start or stop still runs after %u ms; queued behind it\n"),
                   static_cast<unsigned>(KV_LOCK_TIMEOUT_MS));
        return false;
    }
    m_busy = true;
    return true;
}

void CKvLifecycleGate::RunQueued(std::unique_lock<std::mutex>& guard)
{
    while (!m_queued.empty())
    {
        const Request request = m_queued.front();
        m_queued.pop_front();
        guard.unlock();
        const DWORD status = request.operation();
        guard.lock();
        if (status != ERROR_SUCCESS)
            KvDebugLog(TEXT("KvHidRaw: \"%hs\" queued by a callback ended with %u\n"), request.name, status);
    }
}

void CKvLifecycleGate::Leave()
{
    m_busy = false;
    m_free.notify_all();
}
