// Twin: overlapped-read statuses on the first HID interface that opens for reading: a read with no
// report pending, polling and waiting for it, cancelling it, a read whose handle is closed, and the
// reads that are refused outright. (A read without an OVERLAPPED on an overlapped handle is left out:
// Windows documents it as unreliable and Wine blocks in it.)
#include <windows.h>

// mingw-w64's hid headers declare C functions without extern "C".
#ifdef _WIN32
extern "C"
{
#include <hidsdi.h>
}
#else
#include <hidsdi.h>
#endif
#include <setupapi.h>

#include "TwinReport.h"

#include <thread>
#include <vector>

namespace
{

std::vector<WCHAR> FirstReadablePath()
{
    GUID hid;
    HidD_GetHidGuid(&hid);
    HDEVINFO set = SetupDiGetClassDevsW(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    std::vector<WCHAR> found;
    for (DWORD i = 0; found.empty() && SetupDiEnumDeviceInterfaces(set, nullptr, &hid, i, &iface); ++i)
    {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, 0, &size, nullptr);
        std::vector<BYTE> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, size, nullptr, nullptr))
            continue;
        HANDLE probe =
            CreateFileW(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (probe == INVALID_HANDLE_VALUE)
            continue;
        CloseHandle(probe);
        found.assign(detail->DevicePath, detail->DevicePath + wcslen(detail->DevicePath) + 1);
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

HANDLE Open(const std::vector<WCHAR>& path, DWORD flags)
{
    return CreateFileW(path.data(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, flags, nullptr);
}

USHORT InputLength(HANDLE file)
{
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    HIDP_CAPS caps{};
    if (HidD_GetPreparsedData(file, &preparsed))
    {
        HidP_GetCaps(preparsed, &caps);
        HidD_FreePreparsedData(preparsed);
    }
    return caps.InputReportByteLength;
}

} // namespace

int main()
{
    std::vector<WCHAR> path = FirstReadablePath();
    Note("a HID interface opens for reading", !path.empty());
    if (path.empty())
        return 1;
    SetLastError(0);
    HANDLE missing =
        CreateFileW(TEXT("\\\\?\\hid#vid_0000&pid_0000#0&0&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030}"),
                    GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    Report("CreateFile(missing device)", missing == INVALID_HANDLE_VALUE);

    HANDLE file = Open(path, FILE_FLAG_OVERLAPPED);
    USHORT length = InputLength(file);
    Note("input report length known", length > 0);
    std::vector<BYTE> buffer(length + 8);
    HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);

    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    DWORD read = 12345;
    SetLastError(0);
    Report("ReadFile(no report yet)", ReadFile(file, buffer.data(), length, &read, &overlapped));
    Note("event reset by the read", WaitForSingleObject(event, 0) == WAIT_TIMEOUT);
    DWORD bytes = 0;
    SetLastError(0);
    Report("GetOverlappedResult(no wait)", GetOverlappedResult(file, &overlapped, &bytes, FALSE));
    Report("WaitForSingleObject(event, 50)", WaitForSingleObject(event, 50));
    SetLastError(0);
    Report("CancelIo", CancelIo(file));
    SetLastError(0);
    Report("GetOverlappedResult(wait, cancelled)", GetOverlappedResult(file, &overlapped, &bytes, TRUE));
    Note("event set by the cancellation", WaitForSingleObject(event, 0) == WAIT_OBJECT_0);

    // A read of another thread, which stays alive meanwhile (a thread's end takes its reads with it).
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event;
    HANDLE issued = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread other(
        [&]
        {
            ReadFile(file, buffer.data(), length, nullptr, &overlapped);
            SetEvent(issued);
            WaitForSingleObject(done, 10000);
        });
    WaitForSingleObject(issued, 10000);
    SetLastError(0);
    Report("CancelIoEx(another thread's read)", CancelIoEx(file, &overlapped));
    SetLastError(0);
    Report("GetOverlappedResult(wait, cancelled by CancelIoEx)",
           GetOverlappedResult(file, &overlapped, &bytes, TRUE));
    SetLastError(0);
    Report("CancelIoEx(no longer pending)", CancelIoEx(file, &overlapped));
    SetEvent(done);
    other.join();
    CloseHandle(issued);
    CloseHandle(done);

    SetLastError(0);
    Report("ReadFile(buffer one byte short)", ReadFile(file, buffer.data(), length - 1, &read, &overlapped));
    if (GetLastError() == ERROR_IO_PENDING)
        CancelIo(file);

    overlapped = OVERLAPPED{};
    overlapped.hEvent = event;
    SetLastError(0);
    Report("ReadFile(then the handle closes)", ReadFile(file, buffer.data(), length, &read, &overlapped));
    SetLastError(0);
    Report("CloseHandle", CloseHandle(file));
    Report("WaitForSingleObject(event after close)", WaitForSingleObject(event, 5000));
    SetLastError(0);
    Report("GetOverlappedResult(after close)", GetOverlappedResult(file, &overlapped, &bytes, FALSE));
    SetLastError(0);
    Report("ReadFile(closed handle)", ReadFile(file, buffer.data(), length, &read, &overlapped));
    CloseHandle(event);
    return 0;
}
