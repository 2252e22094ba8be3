// kernel32: files. The only files are the machine's device interfaces, opened by path.
#include "HandleTable.h"
#include "ThreadState.h"

#include "src/devices/DeviceInterface.h"
#include "src/devices/HidDevice.h"
#include "src/devices/SimulatedDevices.h"
#include "src/faults/FaultPlan.h"

#include <chrono>
#include <thread>

using winport::devices::HidFile;
using winport::faults::FaultPlan;
using winport::faults::WinportCall;
using winport::kernel32::HandleTable;

namespace
{

winport::devices::DeviceReads& Devices()
{
    return winport::devices::SimulatedDevices::Instance().Reads();
}

ULONG_PTR LoadStatus(const OVERLAPPED* overlapped)
{
    return __atomic_load_n(&overlapped->Internal, __ATOMIC_ACQUIRE);
}

} // namespace

extern "C" HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                                     DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE)
{
    if (dwCreationDisposition != OPEN_EXISTING)
    {
        // Devices exist or not; nothing here creates files.
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = ERROR_SUCCESS;
    HANDLE handle = Devices().Open(lpFileName, dwDesiredAccess, dwFlagsAndAttributes, error);
    if (handle == nullptr)
    {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    const uint32_t deviceId = HandleTable::Instance().LookupAs<HidFile>(handle)->iface->device->id;
    if (const DWORD fault = FaultPlan::Instance().Take(WinportCall::CreateFileW, deviceId))
    {
        CloseHandle(handle);
        SetLastError(fault);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return handle;
}

extern "C" BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped)
{
    auto file = HandleTable::Instance().LookupAs<HidFile>(hFile);
    if (!file)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return Devices().Read(*file, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
}

extern "C" BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped,
                                           LPDWORD lpNumberOfBytesTransferred, BOOL bWait)
{
    if (lpOverlapped == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (LoadStatus(lpOverlapped) == winport::devices::kStatusPending)
    {
        if (!bWait)
        {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        if (lpOverlapped->hEvent != nullptr)
        {
            if (WaitForSingleObject(lpOverlapped->hEvent, INFINITE) == WAIT_FAILED)
                return FALSE;
        }
        else
        {
            // Without an event Windows waits on the file handle; we watch the status instead.
            if (!HandleTable::Instance().LookupAs<HidFile>(hFile))
            {
                SetLastError(ERROR_INVALID_HANDLE);
                return FALSE;
            }
            while (LoadStatus(lpOverlapped) == winport::devices::kStatusPending)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ULONG_PTR status = LoadStatus(lpOverlapped);
    if (lpNumberOfBytesTransferred != nullptr)
        *lpNumberOfBytesTransferred = static_cast<DWORD>(lpOverlapped->InternalHigh);
    if (status != winport::devices::kStatusSuccess)
    {
        SetLastError(winport::devices::ErrorOfReadStatus(status));
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI CancelIo(HANDLE hFile)
{
    auto file = HandleTable::Instance().LookupAs<HidFile>(hFile);
    if (!file)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Devices().CancelReads(*file, false, winport::devices::kStatusCancelled);
    return TRUE;
}

// Null cancels every read of the handle, whichever thread issued it; else only that read. Nothing to
// cancel fails with ERROR_NOT_FOUND, as Windows documents (Wine 8 answers TRUE for null).
extern "C" BOOL WINAPI CancelIoEx(HANDLE hFile, LPOVERLAPPED lpOverlapped)
{
    auto file = HandleTable::Instance().LookupAs<HidFile>(hFile);
    if (!file)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const bool cancelled =
        lpOverlapped == nullptr
            ? Devices().CancelReads(*file, true, winport::devices::kStatusCancelled)
            : Devices().CancelRead(*file, lpOverlapped, winport::devices::kStatusCancelled);
    if (cancelled)
        return TRUE;
    SetLastError(ERROR_NOT_FOUND);
    return FALSE;
}
