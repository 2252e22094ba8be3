// The machine model: the simulated PC under winport, and its control API.
//
// One process-wide Machine, created on first use (Instance), so libraries may use winport from
// their static constructors. A fresh machine is a typical PC; tests, benchmarks and the monitor's
// demo drive it through this interface, which is plain C++ so that a backend over the real system
// could stand in for the simulation. Every function is thread-safe unless it says otherwise.
#pragma once

#include "machine/Clock.h"
#include "machine/DeviceManager.h"
#include "machine/HidDeviceSpec.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace winport::machine
{

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
    // Destroys the machine; only winport's own unload calls it.
    static void DestroyInstance();

    // ---- Clock -------------------------------------------------------------------------------
    Clock& GetClock() { return clock_; }

    // ---- HID devices ------------------------------------------------------------------------
    // Plugs a device: its interfaces appear in SetupAPI and DBT_DEVICEARRIVAL is sent for each.
    // Returns its id, or 0 when the HID parser rejects the report descriptor.
    uint32_t PlugDevice(const HidDeviceSpec& spec) { return devices_.Plug(spec); }
    // Removes a present device (see Removal); false for an unknown or already removed id.
    bool UnplugDevice(uint32_t id, Removal how) { return devices_.Unplug(id, how); }
    // Sends one input report; data[0] is the report ID (0 for a device without IDs). A report
    // shorter than the collection's InputReportByteLength is padded with zeros. Each open handle of
    // the interface gets it: a pending read completes, otherwise it is queued (32 per handle, the
    // oldest dropped). False for an unknown ID, a too long report or a removed device.
    bool SendInputReport(uint32_t id, const uint8_t* data, size_t size)
    {
        return devices_.SendInputReport(id, data, size);
    }
    // Installations: a pending one shows CM_INSTALL_STATE_FINISH_INSTALL and a devnode that is not
    // started, and holds CMP_WaitNoPendingInstallEvents; finishing it (or failing it, with
    // DN_HAS_PROBLEM and CM_PROB_FAILED_INSTALL) releases the waits.
    bool StartInstall(uint32_t id) { return devices_.StartInstall(id); }
    bool FinishInstall(uint32_t id, bool success = true) { return devices_.FinishInstall(id, success); }
    int PendingInstalls() const { return devices_.PendingInstalls(); }
    // What CM_Get_DevNode_Status reports for every instance of the device.
    bool SetDevNodeStatus(uint32_t id, ULONG status, ULONG problem)
    {
        return devices_.SetDevNodeStatus(id, status, problem);
    }
    // Makes CreateFileW on the device's interfaces fail with error (0: open normally again).
    bool SetOpenFailure(uint32_t id, DWORD error) { return devices_.SetOpenFailure(id, error); }
    std::vector<std::u16string> InterfacePaths(uint32_t id) const { return devices_.InterfacePaths(id); }
    DeviceStats GetDeviceStats(uint32_t id) const { return devices_.Stats(id); }
    // The Windows side of the devices, for winport's own API implementations.
    DeviceManager& Devices() { return devices_; }

    // ---- Debug output ----------------------------------------------------------------------
    // Receives each OutputDebugStringW text (UTF-16) on the calling thread; null restores the
    // default, which writes the text as UTF-8 to stderr when the environment variable
    // WINPORT_DEBUG_OUTPUT is set and drops it otherwise (as Windows does with no debugger).
    using DebugOutputSink = std::function<void(const char16_t* text)>;
    void SetDebugOutputSink(DebugOutputSink sink);
    void WriteDebugOutput(const char16_t* text);

    // ---- What is still open ----------------------------------------------------------------
    OpenResources QueryOpenResources() const;

private:
    Machine() = default;

    Clock clock_;
    DeviceManager devices_;
    std::mutex sinkLock_;
    DebugOutputSink sink_;
};

} // namespace winport::machine
