// One opened HID device: its identity and display name, its capabilities, the unpacking of its input reports
// into values, and the thread that reads it.
#pragma once

#include <windows.h>

// mingw-w64's HID headers do not give their functions C linkage themselves.
extern "C"
{
#include <hidsdi.h>
}

#include "KvCommon.h"
#include "KvHidRaw.h"

#include <atomic>
#include <chrono>
#include <mutex>

#define DEVICE_NAME_CHARS 256

// The state of one input element between two reports. Button elements stand for one button capability,
// value elements for one usage of a value capability.
struct _stHidElementData
{
    BYTE isButton;
    USHORT usagePage;
    ULONG status; // HID parser status of the last read
    ULONG reportId;
    BYTE updated; // 1 once the element has been read from a report
    ULONG index;  // instance number among the elements with the same usage page and usage
    union
    {
        struct
        {
            ULONG usageMin;
            ULONG usageMax;
            ULONG maxUsages;
            USAGE* Usages; // the usages of the range that the last report showed down, 0-terminated if short
        } ButtonData;
        struct
        {
            USAGE usage;
            ULONG value;
            LONG scaledValue;
        } ValueData;
    };
};

// One report type's buffers, element array and parser capabilities.
struct _stHidReportGroup
{
    BYTE* reportBuffer;
    _stHidElementData* elements;
    ULONG elementCount;
    PHIDP_BUTTON_CAPS buttonCaps;
    PHIDP_VALUE_CAPS valueCaps;
};

struct _stHidDevice
{
    LPWSTR devicePath;
    HANDLE HidDevice;      // INVALID_HANDLE_VALUE when the opening failed
    HDEVNOTIFY hDevNotify; // the device table's handle-notification registration
    ULONG readAccess;
    ULONG writeAccess;
    ULONG overlapped;
    ULONG exclusive;
    PHIDP_PREPARSED_DATA preparsedData;
    HIDP_CAPS caps;
    HIDD_ATTRIBUTES attributes;
    _stHidReportGroup input;
    _stHidReportGroup output;
    _stHidReportGroup feature;
};

// The device table owns one reference; a running read thread owns another, so a device whose reader is still
// inside the application's callback outlives its removal from the table and is freed by that reader.
class CKvHidDeviceRaw
{
public:
    CKvHidDeviceRaw(LPCWSTR path, LPCWSTR name);
    ~CKvHidDeviceRaw();
    CKvHidDeviceRaw(const CKvHidDeviceRaw&) = delete;
    CKvHidDeviceRaw& operator=(const CKvHidDeviceRaw&) = delete;

    // Ends the table's ownership: stops polling, waits for the reader (5000 ms at most) where that cannot
    // block (see WaitForReader) and drops the table's reference.
    static void Destroy(CKvHidDeviceRaw* device);
    // The same when the library closes every device: the readers were all stopped beforehand and share one
    // deadline, and a reader inside its callback is waited for too, since the library's code may go next.
    // A reader still running past the deadline delivers nothing more.
    static void DestroyAtClose(CKvHidDeviceRaw* device, std::chrono::steady_clock::time_point deadline);
    // Raises the stop flag and cancels the read in flight, whichever thread issued it, so a waiting reader
    // goes on at once rather than after its wait slice.
    void RequestStop();
    // Waits until no reader of any device runs the library's code (its last act is to leave a count). On
    // Windows this is what an unload can wait for: under the loader lock no thread can end, but a reader
    // can leave. False when one still runs at the deadline (or has not started: starting needs the lock).
    static bool WaitReadersLeft(std::chrono::steady_clock::time_point deadline);

    _stHidDevice* GetDevice() { return &m_hidDevice; }
    DWORD GetDeviceName(LPWSTR destination);
    DWORD GetCapabilities(_stHidCapability* buffer, ULONG* numCap);

    // Polling: SetPolling(1) clears the stop flag and starts the reader (ERROR_ALREADY_INITIALIZED while one
    // runs); SetPolling(0) raises the flag and returns at once.
    DWORD SetPolling(bool poll);
    DWORD StartReadThread();
    void SetReadValuesCallback(ReadDeviceValuesCallback callback, void* context);
    // Whether the calling thread is this device's reader.
    bool IsReaderThread() const { return m_readThreadId.load() == GetCurrentThreadId(); }

    static DWORD OpenHidDevice(LPCWSTR path, _stHidDevice* device);
    static void CloseHidDevice(_stHidDevice* device);
    static DWORD BuildElementData(_stHidDevice* device);
    static DWORD UnpackReport(PCHAR report, USHORT reportLength, _stHidElementData* elements, ULONG count,
                              PHIDP_PREPARSED_DATA preparsedData);
    static DWORD SendInput(CKvHidDeviceRaw* device, _stHidDevice* hidDevice, _stHidValue* pData,
                           ULONG pDataLen);
    static DWORD WINAPI AsynchReadThreadProc(LPVOID param);

    DWORD KvImpersonateLoggedUser();
    HRESULT RefreshDirectInputDevices();

private:
    void CreateDevice(LPCWSTR path, LPCWSTR name);
    void LookupOemName(HKEY oemKey, LPCWSTR vidPid, LPWSTR result);
    bool OpenOemKey(HKEY root, HKEY* key);
    void ReadLoop();
    void WaitReaderStarted();
    void WaitForReader(std::chrono::steady_clock::time_point deadline, bool evenWhileDelivering);
    void AddRef() { ++m_refs; }
    void Release();

    KVLOCK m_devLock;
    _stHidDevice m_hidDevice;
    std::atomic<ULONG> m_bStopPolling;
    WCHAR m_defaultName[DEVICE_NAME_CHARS];
    ReadDeviceValuesCallback m_readValuesCallback;
    void* m_readValuesContext;
    HANDLE m_hReadThread;
    HANDLE m_hUserToken;

    std::mutex m_callbackGuard;         // the callback pair, never held while the callback runs
    std::atomic<LONG> m_refs;           // the table's and a running reader's
    std::atomic<DWORD> m_readThreadId;  // the reader's id while it runs, else 0
    std::atomic<bool> m_bReaderRunning; // set before the reader starts, cleared as it ends
    std::atomic<bool> m_bDelivering;    // the reader is inside the application's callback

    // Readers started and not yet out of the library's code, over every device.
    static std::atomic<LONG> m_readersInLibrary;
};
