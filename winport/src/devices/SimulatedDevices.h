// The machine's HID devices: the device list and the concerns that work on it (plugging and removal,
// installations, reads, SetupAPI records). Created on first use, so libraries may open devices from
// their static constructors; destroyed by winport's unload after its threads are joined.
#pragma once

#include "src/devices/DeviceControl.h"
#include "src/devices/DeviceList.h"
#include "src/devices/DeviceReads.h"
#include "src/devices/Installations.h"
#include "src/devices/InterfaceRecords.h"
#include "src/devices/PlugAndPlay.h"

namespace winport::devices
{

class SimulatedDevices final : public DeviceControl
{
public:
    static SimulatedDevices& Instance();
    static void DestroyInstance();

    // ---- the control API's side (DeviceControl) -------------------------------------------------
    uint32_t Plug(const HidDeviceDescription& description) override { return plugAndPlay_.Plug(description); }
    bool Unplug(uint32_t id, Removal how) override { return plugAndPlay_.Unplug(id, how); }
    bool SendInputReport(uint32_t id, const uint8_t* data, size_t size) override
    {
        return reads_.SendInputReport(id, data, size);
    }
    bool StartInstall(uint32_t id) override { return installs_.StartInstall(id); }
    bool FinishInstall(uint32_t id, bool success) override { return installs_.FinishInstall(id, success); }
    int PendingInstalls() const override { return installs_.PendingInstalls(); }
    bool SetDevNodeStatus(uint32_t id, ULONG status, ULONG problem) override
    {
        return installs_.SetDevNodeStatus(id, status, problem);
    }
    bool SetOpenFailure(uint32_t id, DWORD error) override { return plugAndPlay_.SetOpenFailure(id, error); }
    bool AnnounceArrival(uint32_t id) override { return plugAndPlay_.AnnounceArrival(id); }
    int SendHandleEvent(uint32_t id, DWORD dbtEvent) override
    {
        return plugAndPlay_.SendHandleEvent(id, dbtEvent);
    }
    std::vector<std::u16string> InterfacePaths(uint32_t id) const override
    {
        return plugAndPlay_.InterfacePaths(id);
    }
    DeviceStats Stats(uint32_t id) const override { return plugAndPlay_.Stats(id); }

    // ---- the Windows side -----------------------------------------------------------------------
    DeviceReads& Reads() { return reads_; }
    Installations& Installs() { return installs_; }
    std::vector<InterfaceRecord> PresentInterfaces() const { return devices::PresentInterfaces(list_); }

private:
    SimulatedDevices() = default;

    DeviceList list_;
    Installations installs_{list_};
    DeviceReads reads_{list_};
    PlugAndPlay plugAndPlay_{list_, installs_, reads_};
};

} // namespace winport::devices
