// kernel32: events, mutexes, waits, Sleep.
#include "Dispatcher.h"
#include "Event.h"
#include "HandleTable.h"
#include "Mutex.h"
#include "ThreadState.h"

#include <algorithm>
#include <chrono>
#include <thread>

using namespace winport::kernel32;

namespace
{

// Named objects are not modelled: every object is private to its creator's handles.
bool RejectName(LPCWSTR name)
{
    if (name == nullptr || name[0] == 0)
        return false;
    SetLastError(ERROR_NOT_SUPPORTED);
    return true;
}

std::shared_ptr<KernelObject> LookupWaitable(HANDLE handle)
{
    if (handle == GetCurrentThread())
        return nullptr; // waiting for oneself never ends; refuse instead
    auto object = HandleTable::Instance().Lookup(handle);
    return object && object->IsWaitable() ? object : nullptr;
}

} // namespace

extern "C" HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState,
                                      LPCWSTR lpName)
{
    if (RejectName(lpName))
        return nullptr;
    HANDLE handle = HandleTable::Instance().Insert(
        std::make_shared<Event>(bManualReset != FALSE, bInitialState != FALSE));
    SetLastError(ERROR_SUCCESS);
    return handle;
}

extern "C" BOOL WINAPI SetEvent(HANDLE hEvent)
{
    auto event = HandleTable::Instance().LookupAs<Event>(hEvent);
    if (!event)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->Set();
    return TRUE;
}

extern "C" BOOL WINAPI ResetEvent(HANDLE hEvent)
{
    auto event = HandleTable::Instance().LookupAs<Event>(hEvent);
    if (!event)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->Reset();
    return TRUE;
}

extern "C" HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCWSTR lpName)
{
    if (RejectName(lpName))
        return nullptr;
    DWORD owner = bInitialOwner ? ThreadState::CurrentId() : 0;
    HANDLE handle = HandleTable::Instance().Insert(std::make_shared<Mutex>(owner));
    SetLastError(ERROR_SUCCESS);
    return handle;
}

extern "C" BOOL WINAPI ReleaseMutex(HANDLE hMutex)
{
    auto mutex = HandleTable::Instance().LookupAs<Mutex>(hMutex);
    if (!mutex)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!mutex->Release(ThreadState::CurrentId()))
    {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

extern "C" DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                               DWORD dwMilliseconds)
{
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    // The references keep the objects alive during the wait, whatever happens to their handles.
    std::shared_ptr<KernelObject> keep[MAXIMUM_WAIT_OBJECTS];
    KernelObject* objects[MAXIMUM_WAIT_OBJECTS];
    for (DWORD i = 0; i < nCount; ++i)
    {
        keep[i] = LookupWaitable(lpHandles[i]);
        objects[i] = keep[i].get();
        if (!objects[i])
        {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        // Windows refuses the same object twice in a wait-all.
        if (bWaitAll && std::find(objects, objects + i, objects[i]) != objects + i)
        {
            SetLastError(ERROR_INVALID_PARAMETER);
            return WAIT_FAILED;
        }
    }
    return Dispatcher::Wait(objects, nCount, bWaitAll != FALSE, dwMilliseconds);
}

extern "C" VOID WINAPI Sleep(DWORD dwMilliseconds)
{
    if (dwMilliseconds == INFINITE)
    {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(24));
    }
    if (dwMilliseconds == 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}
