// The base of every object a HANDLE can name, and the internal API for other winport areas that
// create handle kinds of their own (files, tokens, ...).
//
// A kind derives from KernelObject and is put into the process's HandleTable, which gives it a HANDLE
// that CloseHandle, DuplicateHandle and (for waitable kinds) WaitForSingleObject and
// WaitForMultipleObjects understand. A waitable kind overrides IsWaitable, IsSignaledLocked and
// AcquireLocked, and calls Dispatcher::SignalLocked after every change that may signal it, with the
// dispatcher lock held (see Dispatcher.h).
#pragma once

#include <windows.h>

#include <vector>

namespace winport::kernel32
{

struct WaitBlock;

class KernelObject
{
public:
    KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;
    virtual ~KernelObject() = default;

    // A short name of the kind ("event", "thread", ...) for the machine's report of open objects.
    virtual const char* KindName() const = 0;

    // False for handles that only their own API may delete (timer queues): CloseHandle then fails
    // with ERROR_INVALID_HANDLE.
    virtual bool ClosableByCloseHandle() const { return true; }

    // Called, without any winport lock held, when the last handle naming the object is closed.
    virtual void OnLastHandleClosed() {}

    virtual bool IsWaitable() const { return false; }
    // Whether a wait by thread threadId would be satisfied now. Dispatcher lock held.
    virtual bool IsSignaledLocked(DWORD threadId) const
    {
        (void)threadId;
        return false;
    }
    // Consumes the signal for a satisfied wait (an auto-reset event resets, a mutex is taken).
    // Returns true if the wait is an abandoned-mutex one. Dispatcher lock held.
    virtual bool AcquireLocked(DWORD threadId)
    {
        (void)threadId;
        return false;
    }

private:
    friend class Dispatcher;
    friend class HandleTable;
    std::vector<WaitBlock*> m_waiters; // guarded by the dispatcher lock
    int m_handleCount = 0;             // guarded by the handle table's lock
};

} // namespace winport::kernel32
