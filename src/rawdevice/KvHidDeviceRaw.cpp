#include "KvHidDeviceRaw.h"

#include <objbase.h>

#include <dinput.h>
#include <wtsapi32.h>

#include "KvCallbackScope.h"
#include "KvCheck.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

// Win32 codes that winport's headers do not declare yet.
#ifndef ERROR_CANNOT_IMPERSONATE
#define ERROR_CANNOT_IMPERSONATE 1368L
#endif
#ifndef ERROR_BUFFER_OVERFLOW
#define ERROR_BUFFER_OVERFLOW 111L
#endif
#ifndef ERROR_INVALID_THREAD_ID
#define ERROR_INVALID_THREAD_ID 1444L
#endif

namespace
{
const WCHAR kOemKeyPath[] =
    TEXT("System\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\") TEXT("Joystick\\OEM");
const WCHAR kGenericName[] = TEXT("HID Device");
const DWORD kOemNameBytes = 260;
const DWORD kReaderWaitMs = 5000;
const DWORD kReaderWaitSliceMs = 10;
// More elements than any report can carry: a descriptor asking for them is refused as an allocation failure.
const ULONG kMaxElements = 1u << 20;

DWORD LastErrorOrUnidentified()
{
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_UNIDENTIFIED_ERROR;
}

void CopyName(LPWSTR destination, LPCWSTR source)
{
    wcsncpy_s(destination, DEVICE_NAME_CHARS, source, _TRUNCATE);
}
} // namespace

// ---- Life ----

CKvHidDeviceRaw::CKvHidDeviceRaw(LPCWSTR path, LPCWSTR name)
    : m_devLock(nullptr), m_hidDevice(), m_bStopPolling(1), m_defaultName(), m_readValuesCallback(nullptr),
      m_readValuesContext(nullptr), m_hReadThread(nullptr), m_hUserToken(INVALID_HANDLE_VALUE), m_refs(1),
      m_readThreadId(0), m_bReaderRunning(false), m_bDelivering(false)
{
    CreateDevice(path, name);
}

void CKvHidDeviceRaw::CreateDevice(LPCWSTR path, LPCWSTR name)
{
    CLock::CreateLockPrimitiveEx(&m_devLock, "&m_devLock", enLockTypeDefault);
    std::memset(&m_hidDevice, 0, sizeof m_hidDevice);
    m_hidDevice.HidDevice = INVALID_HANDLE_VALUE;
    m_bStopPolling = 1;
    m_hReadThread = nullptr;
    m_hUserToken = INVALID_HANDLE_VALUE;
    {
        CLock hold(&m_devLock, "CKvHidDeviceRaw::CreateDevice", false, true, KV_LOCK_TIMEOUT_MS);
        const DWORD hRes = OpenHidDevice(path, &m_hidDevice);
        KvDebugLog(TEXT("Opening device: %ws hRes:0x%08x\n"), path ? path : TEXT(""), hRes);
    }
    CopyName(m_defaultName, name ? name : TEXT(""));
}

// Runs when the last reference goes: the reader has ended or is leaving its routine, so nothing here waits.
CKvHidDeviceRaw::~CKvHidDeviceRaw()
{
    CLock hold(&m_devLock, "CKvHidDeviceRaw::~CKvHidDeviceRaw", false, true, KV_LOCK_TIMEOUT_MS);
    m_bStopPolling = 1;
    if (m_hReadThread != nullptr)
        CloseHandle(m_hReadThread);
    m_hReadThread = nullptr;
    CloseHidDevice(&m_hidDevice);
    hold.UnLock();
    CLock::DeleteLockPrimitive(&m_devLock);
}

void CKvHidDeviceRaw::Destroy(CKvHidDeviceRaw* device)
{
    device->m_bStopPolling = 1;
    device->WaitForReader(std::chrono::steady_clock::now() + std::chrono::milliseconds(kReaderWaitMs), false);
    device->Release();
}

void CKvHidDeviceRaw::DestroyAtClose(CKvHidDeviceRaw* device, std::chrono::steady_clock::time_point deadline)
{
    device->m_bStopPolling = 1;
#if !defined(_WIN32)
    // Natively the reader's thread ends once it has left; on Windows the close runs under the loader lock,
    // where no thread ends, so WaitReadersLeft was all there was to wait for.
    device->WaitForReader(deadline, true);
#else
    (void)deadline;
#endif
    // A reader that outlived the close (it could not even start under the loader lock) calls nobody: the
    // application has let the library go.
    device->SetReadValuesCallback(nullptr, nullptr);
    device->Release();
}

void CKvHidDeviceRaw::RequestStop()
{
    m_bStopPolling = 1;
    if (m_hidDevice.HidDevice != INVALID_HANDLE_VALUE)
        CancelIoEx(m_hidDevice.HidDevice, nullptr);
}

bool CKvHidDeviceRaw::WaitReadersLeft(std::chrono::steady_clock::time_point deadline)
{
    while (m_readersInLibrary > 0)
    {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        Sleep(kReaderWaitSliceMs);
    }
    return true;
}

void CKvHidDeviceRaw::Release()
{
    if (--m_refs == 0)
        delete this;
}

// Waits until the deadline for the reader to make its last delivery and end, except where that wait could
// block: on the reader itself, on any thread inside an application callback (the reader's callback may be
// waiting for a lock that thread holds), and, unless told to wait on, once the reader is inside its
// callback (it may be waiting for a lock the caller holds). A reader not waited for frees the device when
// it ends.
void CKvHidDeviceRaw::WaitForReader(std::chrono::steady_clock::time_point deadline, bool evenWhileDelivering)
{
    if (m_hReadThread == nullptr || GetThreadId(m_hReadThread) == GetCurrentThreadId() ||
        CKvCallbackScope::InsideCallback())
        return;
    DWORD waitRes = WaitForSingleObject(m_hReadThread, 0);
    while (waitRes != WAIT_OBJECT_0 && std::chrono::steady_clock::now() < deadline)
    {
        if (m_bDelivering && !evenWhileDelivering)
            return;
        waitRes = WaitForSingleObject(m_hReadThread, kReaderWaitSliceMs);
    }
    KV_ASSERT(waitRes == WAIT_OBJECT_0);
}

// ---- Opening ----

DWORD CKvHidDeviceRaw::OpenHidDevice(LPCWSTR path, _stHidDevice* device)
{
    device->HidDevice = INVALID_HANDLE_VALUE;
    if (path == nullptr)
        return ERROR_INVALID_PARAMETER;
    const size_t chars = wcslen(path) + 1;
    device->devicePath = static_cast<LPWSTR>(std::calloc(chars, sizeof(WCHAR)));
    if (device->devicePath == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    std::memcpy(device->devicePath, path, chars * sizeof(WCHAR));

    const DWORD access = GENERIC_READ | GENERIC_WRITE;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    device->HidDevice = CreateFileW(path, access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    device->readAccess = 1;
    device->writeAccess = 1;
    device->overlapped = 1;
    device->exclusive = 0;
    if (device->HidDevice == INVALID_HANDLE_VALUE)
    {
        const DWORD error = LastErrorOrUnidentified();
        CloseHidDevice(device);
        return error;
    }
    if (!HidD_GetPreparsedData(device->HidDevice, &device->preparsedData))
    {
        const DWORD error = LastErrorOrUnidentified();
        device->preparsedData = nullptr;
        CloseHidDevice(device);
        return error;
    }
    device->attributes.Size = sizeof device->attributes;
    if (!HidD_GetAttributes(device->HidDevice, &device->attributes) ||
        HidP_GetCaps(device->preparsedData, &device->caps) != HIDP_STATUS_SUCCESS)
    {
        const DWORD error = LastErrorOrUnidentified();
        CloseHidDevice(device);
        return error;
    }
    if (const DWORD error = BuildElementData(device))
    {
        CloseHidDevice(device);
        return error;
    }
    // The reader needs a handle opened for overlapped reads.
    CloseHandle(device->HidDevice);
    device->HidDevice =
        CreateFileW(path, access, share, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (device->HidDevice == INVALID_HANDLE_VALUE)
    {
        const DWORD error = LastErrorOrUnidentified();
        CloseHidDevice(device);
        return error;
    }
    return ERROR_SUCCESS;
}

void CKvHidDeviceRaw::CloseHidDevice(_stHidDevice* device)
{
    std::free(device->devicePath);
    device->devicePath = nullptr;
    if (device->HidDevice != nullptr && device->HidDevice != INVALID_HANDLE_VALUE)
        CloseHandle(device->HidDevice);
    device->HidDevice = INVALID_HANDLE_VALUE;
    if (device->preparsedData != nullptr)
        HidD_FreePreparsedData(device->preparsedData);
    device->preparsedData = nullptr;
    for (_stHidReportGroup* group : {&device->input, &device->output, &device->feature})
    {
        std::free(group->reportBuffer);
        for (ULONG i = 0; group->elements != nullptr && i < group->elementCount; ++i)
            if (group->elements[i].isButton)
                std::free(group->elements[i].ButtonData.Usages);
        std::free(group->elements);
        std::free(group->buttonCaps);
        std::free(group->valueCaps);
        std::memset(group, 0, sizeof *group);
    }
}

// ---- Name ----

DWORD CKvHidDeviceRaw::GetDeviceName(LPWSTR destination)
{
    WCHAR vidPid[32];
    swprintf_s(vidPid, TEXT("VID_%04X&PID_%04X"), m_hidDevice.attributes.VendorID,
               m_hidDevice.attributes.ProductID);
    RefreshDirectInputDevices();

    WCHAR result[DEVICE_NAME_CHARS];
    HKEY oemKey = nullptr;
    if (OpenOemKey(HKEY_CURRENT_USER, &oemKey))
    {
        LookupOemName(oemKey, vidPid, result);
        CopyName(destination, result);
        return ERROR_SUCCESS;
    }
    if (KvImpersonateLoggedUser() == ERROR_SUCCESS)
    {
        const bool opened = OpenOemKey(HKEY_CURRENT_USER, &oemKey);
        if (opened)
            LookupOemName(oemKey, vidPid, result);
        RevertToSelf();
        CloseHandle(m_hUserToken);
        m_hUserToken = INVALID_HANDLE_VALUE;
        if (opened)
        {
            CopyName(destination, result);
            return ERROR_SUCCESS;
        }
    }
    if (OpenOemKey(HKEY_LOCAL_MACHINE, &oemKey))
        LookupOemName(oemKey, vidPid, result);
    else
        CopyName(result, m_defaultName);
    CopyName(destination, result);
    return ERROR_SUCCESS;
}

bool CKvHidDeviceRaw::OpenOemKey(HKEY root, HKEY* key)
{
    return RegOpenKeyExW(root, kOemKeyPath, 0, KEY_READ, key) == ERROR_SUCCESS;
}

// Reads "OEMName" of the device's subkey; closes the OEM key.
void CKvHidDeviceRaw::LookupOemName(HKEY oemKey, LPCWSTR vidPid, LPWSTR result)
{
    WCHAR name[kOemNameBytes / sizeof(WCHAR) + 1] = {};
    HKEY deviceKey = nullptr;
    DWORD bytes = kOemNameBytes;
    LSTATUS status = RegOpenKeyExW(oemKey, vidPid, 0, KEY_READ, &deviceKey);
    if (status == ERROR_SUCCESS)
        status = RegQueryValueExW(deviceKey, TEXT("OEMName"), nullptr, nullptr,
                                  reinterpret_cast<LPBYTE>(name), &bytes);
    if (status == ERROR_SUCCESS)
    {
        name[bytes / sizeof(WCHAR)] = 0;
        CopyName(result, name);
    }
    else
    {
        CopyName(result, kGenericName);
    }
    if (deviceKey != nullptr)
        RegCloseKey(deviceKey);
    RegCloseKey(oemKey);
}

DWORD CKvHidDeviceRaw::KvImpersonateLoggedUser()
{
    if (m_hUserToken != nullptr && m_hUserToken != INVALID_HANDLE_VALUE)
        return ERROR_ALREADY_INITIALIZED;
    HANDLE userToken = nullptr;
    if (!WTSQueryUserToken(WTSGetActiveConsoleSessionId(), &userToken))
    {
        const DWORD error = GetLastError();
        return error != 0 ? error : ERROR_CANNOT_IMPERSONATE;
    }
    const BOOL bResult =
        DuplicateTokenEx(userToken, 0, nullptr, SecurityImpersonation, TokenPrimary, &m_hUserToken);
    KV_ASSERT(bResult);
    CloseHandle(userToken);
    if (!ImpersonateLoggedOnUser(m_hUserToken))
    {
        // No impersonation in force: the token goes, or every later lookup would find it and fail.
        const DWORD error = LastErrorOrUnidentified();
        if (m_hUserToken != nullptr && m_hUserToken != INVALID_HANDLE_VALUE)
            CloseHandle(m_hUserToken);
        m_hUserToken = INVALID_HANDLE_VALUE;
        return error;
    }
    return ERROR_SUCCESS;
}

namespace
{
BOOL CALLBACK KeepNoGameController(LPCDIDEVICEINSTANCEW, LPVOID)
{
    return DIENUM_CONTINUE;
}
} // namespace

HRESULT CKvHidDeviceRaw::RefreshDirectInputDevices()
{
    const HRESULT comRes = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IDirectInput8W* directInput = nullptr;
    HRESULT hr = DirectInput8Create(GetModuleHandleW(TEXT("DaDazUrivire")), 0x0800, IID_IDirectInput8W,
                                    reinterpret_cast<void**>(&directInput), nullptr);
    if (SUCCEEDED(hr))
    {
        hr = directInput->EnumDevices(DI8DEVCLASS_GAMECTRL, KeepNoGameController, this, DIEDFL_ALLDEVICES);
        directInput->Release();
    }
    if (comRes == S_OK || comRes == S_FALSE)
        CoUninitialize();
    return hr;
}

// ---- Capabilities ----

namespace
{
// The usages a capability stands for: its range, or its single usage. A range whose minimum lies above its
// maximum stands for none.
void UsageRange(BOOLEAN isRange, USAGE rangeMin, USAGE rangeMax, USAGE single, ULONG* first, ULONG* last)
{
    *first = isRange ? rangeMin : single;
    *last = isRange ? rangeMax : single;
}

// The count the size query reports: 32-bit unsigned, so a reversed range wraps as it does there.
ULONG UsageCount(BOOLEAN isRange, USAGE rangeMin, USAGE rangeMax)
{
    return isRange ? static_cast<ULONG>(rangeMax) - rangeMin + 1 : 1;
}

ULONG CountSameUsage(const _stHidElementData* elements, ULONG count, USHORT usagePage, USAGE usage)
{
    ULONG same = 0;
    for (ULONG i = 0; i < count; ++i)
    {
        const USAGE other = elements[i].isButton ? static_cast<USAGE>(elements[i].ButtonData.usageMin)
                                                 : elements[i].ValueData.usage;
        same += elements[i].usagePage == usagePage && other == usage;
    }
    return same;
}

struct ReportGroupShape
{
    HIDP_REPORT_TYPE type;
    USHORT reportLength;
    USHORT buttonCaps;
    USHORT valueCaps;
};

DWORD BuildReportGroup(_stHidDevice* device, _stHidReportGroup* group, const ReportGroupShape& shape)
{
    const bool isInput = shape.type == HidP_Input;
    group->reportBuffer = static_cast<BYTE*>(std::calloc(shape.reportLength ? shape.reportLength : 1, 1));
    if (group->reportBuffer == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    // Both arrays exist even when empty: a device without inputs answers the size query with 0.
    group->buttonCaps = static_cast<PHIDP_BUTTON_CAPS>(
        std::calloc(shape.buttonCaps ? shape.buttonCaps : 1, sizeof(HIDP_BUTTON_CAPS)));
    group->valueCaps = static_cast<PHIDP_VALUE_CAPS>(
        std::calloc(shape.valueCaps ? shape.valueCaps : 1, sizeof(HIDP_VALUE_CAPS)));
    if (group->buttonCaps == nullptr || group->valueCaps == nullptr)
        return isInput ? LastErrorOrUnidentified() : ERROR_NOT_ENOUGH_MEMORY;
    USHORT n = shape.buttonCaps;
    if (n &&
        HidP_GetButtonCaps(shape.type, group->buttonCaps, &n, device->preparsedData) != HIDP_STATUS_SUCCESS)
        return LastErrorOrUnidentified();
    n = shape.valueCaps;
    if (n &&
        HidP_GetValueCaps(shape.type, group->valueCaps, &n, device->preparsedData) != HIDP_STATUS_SUCCESS)
        return LastErrorOrUnidentified();

    ULONG valueUsages = 0;
    for (USHORT v = 0; v < shape.valueCaps; ++v)
    {
        const HIDP_VALUE_CAPS& cap = group->valueCaps[v];
        if (isInput && cap.IsRange && !(cap.Range.UsageMin < cap.Range.UsageMax + shape.buttonCaps))
            return ERROR_BUFFER_OVERFLOW;
        valueUsages += UsageCount(cap.IsRange, cap.Range.UsageMin, cap.Range.UsageMax);
    }
    const ULONG total = shape.buttonCaps + valueUsages;
    if (total > kMaxElements)
        return ERROR_NOT_ENOUGH_MEMORY;
    group->elements =
        static_cast<_stHidElementData*>(std::calloc(total ? total : 1, sizeof(_stHidElementData)));
    if (group->elements == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;

    ULONG count = 0;
    for (USHORT b = 0; b < shape.buttonCaps; ++b)
    {
        const HIDP_BUTTON_CAPS& cap = group->buttonCaps[b];
        _stHidElementData& element = group->elements[count++];
        element.isButton = 1;
        element.status = HIDP_STATUS_SUCCESS;
        element.usagePage = cap.UsagePage;
        element.reportId = cap.ReportID;
        UsageRange(cap.IsRange, cap.Range.UsageMin, cap.Range.UsageMax, cap.NotRange.Usage,
                   &element.ButtonData.usageMin, &element.ButtonData.usageMax);
        element.ButtonData.maxUsages =
            HidP_MaxUsageListLength(shape.type, cap.UsagePage, device->preparsedData);
        element.ButtonData.Usages = static_cast<USAGE*>(
            std::calloc(element.ButtonData.maxUsages ? element.ButtonData.maxUsages : 1, sizeof(USAGE)));
        group->elementCount = count;
        if (element.ButtonData.Usages == nullptr)
            return ERROR_NOT_ENOUGH_MEMORY;
    }
    for (USHORT v = 0; v < shape.valueCaps; ++v)
    {
        const HIDP_VALUE_CAPS& cap = group->valueCaps[v];
        ULONG first = 0;
        ULONG last = 0;
        UsageRange(cap.IsRange, cap.Range.UsageMin, cap.Range.UsageMax, cap.NotRange.Usage, &first, &last);
        for (ULONG usage = first; usage <= last; ++usage)
        {
            if (count >= total)
                return ERROR_INVALID_DATA;
            _stHidElementData& element = group->elements[count];
            element.status = HIDP_STATUS_SUCCESS;
            element.usagePage = cap.UsagePage;
            element.reportId = cap.ReportID;
            element.ValueData.usage = static_cast<USAGE>(usage);
            element.index =
                isInput ? CountSameUsage(group->elements, count, cap.UsagePage, static_cast<USAGE>(usage))
                        : 0;
            group->elementCount = ++count;
        }
    }
    return ERROR_SUCCESS;
}

bool ListsValuePage(USAGE usagePage)
{
    return usagePage == HID_USAGE_PAGE_GENERIC || usagePage == HID_USAGE_PAGE_SIMULATION ||
           usagePage == HID_USAGE_PAGE_VR || usagePage == HID_USAGE_PAGE_GAME;
}

ULONG CountSameCapability(const _stHidCapability* list, ULONG count, USAGE usagePage, USAGE usage)
{
    ULONG same = 0;
    for (ULONG i = 0; i < count; ++i)
        same += list[i].usagePage == usagePage && list[i].usage == usage;
    return same;
}
} // namespace

DWORD CKvHidDeviceRaw::BuildElementData(_stHidDevice* device)
{
    const HIDP_CAPS& caps = device->caps;
    const ReportGroupShape groups[] = {
        {HidP_Input, caps.InputReportByteLength, caps.NumberInputButtonCaps, caps.NumberInputValueCaps},
        {HidP_Output, caps.OutputReportByteLength, caps.NumberOutputButtonCaps, caps.NumberOutputValueCaps},
        {HidP_Feature, caps.FeatureReportByteLength, caps.NumberFeatureButtonCaps,
         caps.NumberFeatureValueCaps}};
    _stHidReportGroup* targets[] = {&device->input, &device->output, &device->feature};
    for (int i = 0; i < 3; ++i)
        if (const DWORD error = BuildReportGroup(device, targets[i], groups[i]))
            return error;
    return ERROR_SUCCESS;
}

DWORD CKvHidDeviceRaw::GetCapabilities(_stHidCapability* buffer, ULONG* numCap)
{
    CLock hold(&m_devLock, "CKvHidDeviceRaw::GetCapabilities", false, true, KV_LOCK_TIMEOUT_MS);
    if (m_hidDevice.HidDevice == nullptr || m_hidDevice.HidDevice == INVALID_HANDLE_VALUE)
        return ERROR_INVALID_DATA;
    const _stHidReportGroup& input = m_hidDevice.input;
    if (input.buttonCaps == nullptr && input.valueCaps == nullptr)
        return ERROR_UNIDENTIFIED_ERROR;
    const USHORT buttons = m_hidDevice.caps.NumberInputButtonCaps;
    const USHORT values = m_hidDevice.caps.NumberInputValueCaps;

    ULONG needed = 0;
    for (USHORT b = 0; b < buttons; ++b)
        needed += UsageCount(input.buttonCaps[b].IsRange, input.buttonCaps[b].Range.UsageMin,
                             input.buttonCaps[b].Range.UsageMax);
    for (USHORT v = 0; v < values; ++v)
        needed += UsageCount(input.valueCaps[v].IsRange, input.valueCaps[v].Range.UsageMin,
                             input.valueCaps[v].Range.UsageMax);
    if (buffer == nullptr || *numCap < needed)
    {
        *numCap = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }

    ULONG pos = 0;
    for (USHORT b = 0; b < buttons; ++b)
    {
        const HIDP_BUTTON_CAPS& cap = input.buttonCaps[b];
        if (cap.UsagePage != HID_USAGE_PAGE_BUTTON)
            continue;
        ULONG first = 0;
        ULONG last = 0;
        UsageRange(cap.IsRange, cap.Range.UsageMin, cap.Range.UsageMax, cap.NotRange.Usage, &first, &last);
        for (ULONG usage = first; usage <= last && pos < *numCap; ++usage)
        {
            _stHidCapability& record = buffer[pos++];
            record.usage = static_cast<uint16_t>(usage);
            record.usagePage = HID_USAGE_PAGE_BUTTON;
            record.isAbsolute = cap.IsAbsolute;
            record.minValue = 0;
            record.maxValue = 128;
            record.index = 0;
        }
    }
    for (USHORT v = 0; v < values; ++v)
    {
        const HIDP_VALUE_CAPS& cap = input.valueCaps[v];
        if (!ListsValuePage(cap.UsagePage))
            continue;
        ULONG first = 0;
        ULONG last = 0;
        UsageRange(cap.IsRange, cap.Range.UsageMin, cap.Range.UsageMax, cap.NotRange.Usage, &first, &last);
        for (ULONG usage = first; usage <= last && pos < *numCap; ++usage)
        {
            _stHidCapability& record = buffer[pos];
            record.usage = static_cast<uint16_t>(usage);
            record.usagePage = cap.UsagePage;
            record.isAbsolute = cap.IsAbsolute;
            record.minValue = cap.LogicalMin <= cap.LogicalMax ? cap.LogicalMin : cap.LogicalMax;
            record.maxValue = cap.LogicalMin <= cap.LogicalMax ? cap.LogicalMax : cap.LogicalMin;
            record.index = CountSameCapability(buffer, pos, cap.UsagePage, static_cast<USAGE>(usage));
            ++pos;
        }
    }
    KV_ASSERT(pos <= *numCap);
    *numCap = pos;
    return ERROR_SUCCESS;
}

// ---- Unpacking and delivery ----

DWORD CKvHidDeviceRaw::UnpackReport(PCHAR report, USHORT reportLength, _stHidElementData* elements,
                                    ULONG count, PHIDP_PREPARSED_DATA preparsedData)
{
    if (count == 0)
        return ERROR_SUCCESS;
    const ULONG reportId = static_cast<BYTE>(report[0]);
    for (ULONG i = 0; i < count; ++i)
    {
        _stHidElementData& element = elements[i];
        if (element.reportId != reportId)
            continue;
        if (element.isButton)
        {
            ULONG n = element.ButtonData.maxUsages;
            element.status = HidP_GetUsages(HidP_Input, element.usagePage, 0, element.ButtonData.Usages, &n,
                                            preparsedData, report, reportLength);
            if (n > element.ButtonData.maxUsages)
                n = element.ButtonData.maxUsages;
            // The parser lists every usage of the page that is down; this element keeps its own range.
            ULONG kept = 0;
            for (ULONG u = 0; u < n; ++u)
            {
                const USAGE usage = element.ButtonData.Usages[u];
                if (usage >= element.ButtonData.usageMin && usage <= element.ButtonData.usageMax)
                    element.ButtonData.Usages[kept++] = usage;
            }
            if (kept < element.ButtonData.maxUsages)
                element.ButtonData.Usages[kept] = 0;
        }
        else
        {
            element.status =
                HidP_GetUsageValue(HidP_Input, element.usagePage, 0, element.ValueData.usage,
                                   &element.ValueData.value, preparsedData, report, reportLength);
            if (element.status != HIDP_STATUS_SUCCESS)
            {
                KV_ASSERT(false);
                return LastErrorOrUnidentified();
            }
            element.status =
                HidP_GetScaledUsageValue(HidP_Input, element.usagePage, 0, element.ValueData.usage,
                                         &element.ValueData.scaledValue, preparsedData, report, reportLength);
        }
        element.updated = 1;
    }
    return ERROR_SUCCESS;
}

DWORD CKvHidDeviceRaw::SendInput(CKvHidDeviceRaw* device, _stHidDevice* hidDevice, _stHidValue* pData,
                                 ULONG pDataLen)
{
    ReadDeviceValuesCallback callback = nullptr;
    void* context = nullptr;
    {
        std::lock_guard<std::mutex> guard(device->m_callbackGuard);
        callback = device->m_readValuesCallback;
        context = device->m_readValuesContext;
    }
    if (callback == nullptr)
        return ERROR_INVALID_PARAMETER;

    // Records beyond the capacity (a reversed range counts differently in the size query) are dropped.
    ULONG pos = 0;
    const _stHidElementData* pDevData = hidDevice->input.elements;
    for (ULONG uLoop = 0; uLoop < hidDevice->input.elementCount; ++uLoop)
    {
        const _stHidElementData& element = pDevData[uLoop];
        if (!element.isButton)
        {
            if (pos < pDataLen)
                pData[pos] = {element.ValueData.usage, element.usagePage, element.ValueData.value,
                              element.ValueData.scaledValue, element.index};
            ++pos;
            continue;
        }
        const ULONG base = pos;
        for (ULONG usage = element.ButtonData.usageMin; usage <= element.ButtonData.usageMax; ++usage, ++pos)
            if (pos < pDataLen)
                pData[pos] = {static_cast<uint16_t>(usage), element.usagePage, 0, 0, element.index};
        for (ULONG i = 0; i < element.ButtonData.maxUsages && element.ButtonData.Usages[i] != 0; ++i)
        {
            const ULONG crtPos = base + (element.ButtonData.Usages[i] - element.ButtonData.usageMin);
            if (crtPos >= pDataLen)
                continue;
            KV_ASSERT(pData[crtPos].usage == pDevData[uLoop].ButtonData.Usages[i]);
            pData[crtPos].value = 1;
            pData[crtPos].scaledValue = 1;
            pData[crtPos].index = 0;
        }
    }
    KV_ASSERT(pos <= pDataLen);
    device->m_bDelivering = true;
    {
        CKvCallbackScope scope;
        callback(context, pData, pos <= pDataLen ? pos : pDataLen);
    }
    device->m_bDelivering = false;
    return ERROR_SUCCESS;
}

void CKvHidDeviceRaw::SetReadValuesCallback(ReadDeviceValuesCallback callback, void* context)
{
    std::lock_guard<std::mutex> guard(m_callbackGuard);
    m_readValuesCallback = callback;
    m_readValuesContext = context;
}

// ---- Polling and the reader ----

DWORD CKvHidDeviceRaw::SetPolling(bool poll)
{
    if (!poll)
    {
        // The reader notices within its 1000 ms wait slice and makes one last delivery.
        m_bStopPolling = 1;
        return ERROR_SUCCESS;
    }
    m_bStopPolling = 0;
    return StartReadThread();
}

// One reader per device: while one runs (even one finishing after polling went off) it takes up the
// cleared stop flag again; once it has ended, a new one is started.
DWORD CKvHidDeviceRaw::StartReadThread()
{
    {
        std::lock_guard<std::mutex> guard(m_callbackGuard);
        if (m_bReaderRunning)
            return ERROR_ALREADY_INITIALIZED;
        if (m_hReadThread != nullptr)
            CloseHandle(m_hReadThread);
        AddRef();
        m_bReaderRunning = true;
        ++m_readersInLibrary;
        m_hReadThread = CreateThread(nullptr, 0, AsynchReadThreadProc, this, CREATE_SUSPENDED, nullptr);
        if (m_hReadThread == nullptr)
        {
            m_bReaderRunning = false;
            --m_readersInLibrary;
            --m_refs; // the table still holds its reference
            return ERROR_INVALID_THREAD_ID;
        }
        SetThreadPriority(m_hReadThread, THREAD_PRIORITY_TIME_CRITICAL);
        ResumeThread(m_hReadThread);
    }
    WaitReaderStarted();
    return ERROR_SUCCESS;
}

// On Windows a thread starts only once it gets the loader lock: a reader still waiting for it when the
// library unloads would begin in unmapped code. So polling returns once the reader runs (bounded: another
// thread may hold the loader lock a while).
void CKvHidDeviceRaw::WaitReaderStarted()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReaderWaitMs);
    while (m_readThreadId == 0 && m_bReaderRunning && std::chrono::steady_clock::now() < deadline)
        Sleep(1);
}

DWORD WINAPI CKvHidDeviceRaw::AsynchReadThreadProc(LPVOID param)
{
    CKvHidDeviceRaw* device = static_cast<CKvHidDeviceRaw*>(param);
    device->m_readThreadId = GetCurrentThreadId();
    device->ReadLoop();
    device->Release();
    --m_readersInLibrary; // the last touch of the library's data
    return 0;
}

void CKvHidDeviceRaw::ReadLoop()
{
    ULONG n = 0;
    GetCapabilities(nullptr, &n);
    _stHidValue* values = static_cast<_stHidValue*>(std::calloc(n ? n : 1, sizeof(_stHidValue)));
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr || values == nullptr)
    {
        KV_ASSERT(false);
        std::free(values);
        std::lock_guard<std::mutex> guard(m_callbackGuard);
        m_bReaderRunning = false;
        m_readThreadId = 0;
        return;
    }
    _stHidDevice& dev = m_hidDevice;
    OVERLAPPED overlapped;
    bool readPending = false;
    for (;;)
    {
        // A read that completes at once (a report was queued) is unpacked without waiting: ReadFile resets
        // the event before each new read, so the signal it left behind is never mistaken for a completion.
        bool readDone = false;
        if (!readPending)
        {
            std::memset(&overlapped, 0, sizeof overlapped);
            overlapped.hEvent = event;
            if (ReadFile(dev.HidDevice, dev.input.reportBuffer, dev.caps.InputReportByteLength, nullptr,
                         &overlapped))
                readDone = true;
            else if (GetLastError() != ERROR_IO_PENDING && GetLastError() != 0)
            {
                std::lock_guard<std::mutex> guard(m_callbackGuard);
                m_bReaderRunning = false; // the device is gone: no delivery
                m_readThreadId = 0;
                break;
            }
            else
                readPending = true;
        }
        if (m_bStopPolling == 0)
        {
            if (!readDone)
            {
                DWORD waitRes = WaitForSingleObject(event, 1000);
                while (waitRes != WAIT_OBJECT_0 && m_bStopPolling == 0)
                    waitRes = WaitForSingleObject(event, 1000);
                if (waitRes == WAIT_OBJECT_0)
                    readPending = false;
            }
            if (m_bStopPolling == 0)
                UnpackReport(reinterpret_cast<PCHAR>(dev.input.reportBuffer), dev.caps.InputReportByteLength,
                             dev.input.elements, dev.input.elementCount, dev.preparsedData);
        }
        SendInput(this, &dev, values, n);
        if (m_bStopPolling != 0)
        {
            // The read issued last goes before its buffer can be shared with a later reader.
            if (readPending)
            {
                DWORD bytes = 0;
                CancelIo(dev.HidDevice);
                GetOverlappedResult(dev.HidDevice, &overlapped, &bytes, TRUE);
                readPending = false;
            }
            std::lock_guard<std::mutex> guard(m_callbackGuard);
            if (m_bStopPolling != 0) // else polling was switched on again meanwhile: read on
            {
                m_bReaderRunning = false;
                m_readThreadId = 0;
                break;
            }
        }
    }
    std::free(values);
    CloseHandle(event);
}
