// kernel32: last error, CloseHandle, DuplicateHandle, process pseudo handle.
#include "HandleTable.h"
#include "ThreadReaper.h"
#include "ThreadState.h"

#include <unistd.h>

using winport::kernel32::HandleTable;
using winport::kernel32::ThreadState;

namespace
{
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));
} // namespace

extern "C" DWORD WINAPI GetLastError(void)
{
    return ThreadState::LastError();
}

extern "C" VOID WINAPI SetLastError(DWORD dwErrCode)
{
    ThreadState::SetLastError(dwErrCode);
}

extern "C" HANDLE WINAPI GetCurrentProcess(void)
{
    return kCurrentProcess;
}

extern "C" DWORD WINAPI GetCurrentProcessId(void)
{
    return static_cast<DWORD>(getpid());
}

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject)
{
    // Closing a pseudo handle does nothing and succeeds.
    if (hObject == kCurrentProcess || hObject == kCurrentThread)
        return TRUE;
    auto& table = HandleTable::Instance();
    auto object = table.Lookup(hObject);
    if (!object || !object->ClosableByCloseHandle() || !table.Close(hObject))
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object.reset();
    winport::kernel32::ThreadReaper::Instance().ReapFinished();
    return TRUE;
}

extern "C" BOOL WINAPI DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle,
                                       HANDLE hTargetProcessHandle, LPHANDLE lpTargetHandle, DWORD, BOOL,
                                       DWORD dwOptions)
{
    if (hSourceProcessHandle != kCurrentProcess || hTargetProcessHandle != kCurrentProcess)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto& table = HandleTable::Instance();
    auto object = table.Lookup(hSourceHandle);
    if (!object || !object->ClosableByCloseHandle())
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpTargetHandle != nullptr)
        *lpTargetHandle = table.Insert(object);
    if (dwOptions & DUPLICATE_CLOSE_SOURCE)
        table.Close(hSourceHandle);
    return TRUE;
}
