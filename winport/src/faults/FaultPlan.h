// Failure injection: calls of the Windows side that a test makes fail on purpose, so that the code above
// them can be seen answering failures the machine otherwise never shows. A plan names one call, the
// error it answers (a Win32 code, an HRESULT for DirectInput, an NTSTATUS for HidP_GetCaps), how many
// matching calls to let through first and how many to fail; a plan may be limited to one device. Every
// API named here asks the plan on entry (Take) and fails with the error it is given, without doing
// anything else. Thread-safe; an API with no plan armed pays one atomic load.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace winport::faults
{

enum class WinportCall
{
    // kernel32
    CreateFileW, // per device: the device whose interface is opened
    CreateThread,
    CreateTimerQueue,
    CreateTimerQueueTimer,
    // SetupAPI
    SetupDiGetClassDevsW,
    SetupDiGetDeviceInterfaceDetailW, // every call, the size query included
                                      // hid.dll; per device: the device of the handle, or of the preparsed
                                      // data for HidP_GetCaps
    HidD_GetAttributes,
    HidD_GetPreparsedData,
    HidP_GetCaps,
    // user32
    RegisterClassW,
    CreateWindowExW,
    RegisterDeviceNotificationW,
    // DirectInput 8
    DirectInput8Create,
    DirectInputEnumDevices,
    DirectInputCreateDevice,
    DeviceSetDataFormat,
    DeviceGetCapabilities,
    DeviceEnumObjects,
    DeviceSetProperty,
    DeviceAcquire,
};

// A plan for every device, or a device id of the machine.
constexpr uint32_t kAnyDevice = 0;

class FaultPlan
{
public:
    static FaultPlan& Instance();

    // Lets `skip` matching calls through, then fails `count` of them with `error`. Plans of one call are
    // asked in the order they were armed; the first that matches takes the call.
    void Arm(WinportCall call, DWORD error, int count, int skip, uint32_t deviceId = kAnyDevice);
    // The error the call about to run answers, or 0 to run it. Counts the call against the plans.
    DWORD Take(WinportCall call, uint32_t deviceId = kAnyDevice);
    // Failures armed for the call and not yet answered.
    int Pending(WinportCall call) const;
    void Clear();

    // Preparsed data handed out for a device, so HidP_GetCaps knows whose data it is given.
    void NotePreparsed(const void* preparsed, uint32_t deviceId);
    void ForgetPreparsed(const void* preparsed);
    uint32_t DeviceOfPreparsed(const void* preparsed) const;

private:
    struct Plan
    {
        WinportCall call;
        uint32_t deviceId;
        DWORD error;
        int skip;
        int count;
    };

    FaultPlan() = default;

    mutable std::mutex m_lock;
    std::vector<Plan> m_plans;
    std::atomic<size_t> m_armed{0}; // m_plans.size(), read without the lock
    // Keyed by the address's complement, so that a block the caller never frees still shows as a leak.
    std::map<uintptr_t, uint32_t> m_preparsedOwners;
};

// The HRESULT a DirectInput method about to run answers: the armed error, or 0 to run it.
inline HRESULT FaultHresult(WinportCall call)
{
    return static_cast<HRESULT>(FaultPlan::Instance().Take(call));
}

} // namespace winport::faults
