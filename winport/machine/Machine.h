// The machine model: the simulated PC under winport, and its control API.
//
// One process-wide machine, created on first use, so libraries may use winport from their static
// constructors. A fresh machine is a typical PC; tests, benchmarks and the monitor's demo drive it
// through this interface (its own target, winport_machine, which the library never links), which is
// plain C++ so that a backend over the real system could stand in for the simulation. The state
// lives on winport's Windows side and is reached only through its internal interfaces
// (src/devices/DeviceControl.h, the clock, the debug-output sink). Every function is thread-safe
// unless it says otherwise.
#pragma once

#include "src/devices/DeviceControl.h"
#include "src/faults/FaultPlan.h"
#include "src/kernel32/Clock.h"

#include <functional>
#include <map>
#include <string>

namespace winport::machine
{

using devices::DeviceStats;
using devices::HidDeviceDescription;
using devices::Removal;
using faults::WinportCall;
using kernel32::Clock;

// What is still open in the process: handles by kind ("event", "thread", "timer queue", ...) and
// threads winport started that have not ended. A dlopen/dlclose cycle of a well-behaved library
// leaves both as they were before the dlopen.
struct OpenResources
{
    std::map<std::string, int> handlesByKind;
    int runningThreads = 0;

    int HandleCount() const;
};

class Machine
{
public:
    static Machine& Instance();

    // ---- Clock -------------------------------------------------------------------------------
    Clock& GetClock() { return Clock::Instance(); }

    // ---- HID devices ------------------------------------------------------------------------
    // Plugs a device: its interfaces appear in SetupAPI and DBT_DEVICEARRIVAL is sent for each.
    // Returns its id, or 0 when the HID parser rejects the report descriptor.
    uint32_t PlugDevice(const HidDeviceDescription& description) { return Devices().Plug(description); }
    // Removes a present device (see Removal); false for an unknown or already removed id.
    bool UnplugDevice(uint32_t id, Removal how) { return Devices().Unplug(id, how); }
    // Sends one input report; data[0] is the report ID (0 for a device without IDs). A report
    // shorter than the collection's InputReportByteLength is padded with zeros. Each open handle of
    // the interface gets it: a pending read completes, otherwise it is queued (32 per handle, the
    // oldest dropped). False for an unknown ID, a too long report or a removed device.
    bool SendInputReport(uint32_t id, const uint8_t* data, size_t size)
    {
        return Devices().SendInputReport(id, data, size);
    }
    // Installations: a pending one shows CM_INSTALL_STATE_FINISH_INSTALL and a devnode that is not
    // started, and holds CMP_WaitNoPendingInstallEvents; finishing it (or failing it, with
    // DN_HAS_PROBLEM and CM_PROB_FAILED_INSTALL) releases the waits.
    bool StartInstall(uint32_t id) { return Devices().StartInstall(id); }
    bool FinishInstall(uint32_t id, bool success = true) { return Devices().FinishInstall(id, success); }
    int PendingInstalls() const { return Devices().PendingInstalls(); }
    // What CM_Get_DevNode_Status reports for every instance of the device.
    bool SetDevNodeStatus(uint32_t id, ULONG status, ULONG problem)
    {
        return Devices().SetDevNodeStatus(id, status, problem);
    }
    // Makes CreateFileW on the device's interfaces fail with error (0: open normally again).
    bool SetOpenFailure(uint32_t id, DWORD error) { return Devices().SetOpenFailure(id, error); }
    // Broadcasts DBT_DEVICEARRIVAL again for each interface of a present device, as when the system
    // reports an interface twice. False for an unknown or removed device.
    bool AnnounceArrival(uint32_t id) { return Devices().AnnounceArrival(id); }
    // Sends a handle event (DBT_DEVICEQUERYREMOVEFAILED, DBT_CUSTOMEVENT, ...) to every open handle of the
    // device that is registered for notifications; the device stays as it is. Returns the number of open
    // handles the event was sent for.
    int SendHandleEvent(uint32_t id, DWORD dbtEvent) { return Devices().SendHandleEvent(id, dbtEvent); }
    std::vector<std::u16string> InterfacePaths(uint32_t id) const { return Devices().InterfacePaths(id); }
    DeviceStats GetDeviceStats(uint32_t id) const { return Devices().Stats(id); }

    // ---- Failing calls -----------------------------------------------------------------------
    // Lets `skip` calls of `call` through, then fails the next `count` with `error` (a Win32 code; an
    // HRESULT for DirectInput's calls, an NTSTATUS for HidP_GetCaps). FailDeviceCalls counts only the
    // calls about the device `id` (the device of the opened interface, the handle or the preparsed
    // data). The calls named by WinportCall fail without doing anything else.
    void FailCalls(WinportCall call, DWORD error, int count = 1, int skip = 0)
    {
        faults::FaultPlan::Instance().Arm(call, error, count, skip);
    }
    void FailDeviceCalls(uint32_t id, WinportCall call, DWORD error, int count = 1, int skip = 0)
    {
        faults::FaultPlan::Instance().Arm(call, error, count, skip, id);
    }
    // Failures armed for the call that have not happened yet.
    int PendingFailures(WinportCall call) const { return faults::FaultPlan::Instance().Pending(call); }
    void ClearFailures() { faults::FaultPlan::Instance().Clear(); }

    // ---- Debug output ----------------------------------------------------------------------
    // Receives each OutputDebugStringW text (UTF-16) on the calling thread; null restores the
    // default, which writes the text as UTF-8 to stderr when the environment variable
    // WINPORT_DEBUG_OUTPUT is set and drops it otherwise (as Windows does with no debugger).
    using DebugOutputSink = std::function<void(const char16_t* text)>;
    void SetDebugOutputSink(DebugOutputSink sink);

    // ---- What is still open ----------------------------------------------------------------
    OpenResources QueryOpenResources() const;

private:
    Machine() = default;

    static devices::DeviceControl& Devices() { return devices::DeviceControl::Instance(); }
};

} // namespace winport::machine
