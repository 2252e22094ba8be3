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
    uint32_t Plug(const HidDeviceDescription& description) override
    {
        return m_plugAndPlay.Plug(description);
    }
    bool Unplug(uint32_t id, Removal how) override { return m_plugAndPlay.Unplug(id, how); }
    bool SendInputReport(uint32_t id, const uint8_t* data, size_t size) override
    {
        return m_reads.SendInputReport(id, data, size);
    }
    bool StartInstall(uint32_t id) override { return m_installs.StartInstall(id); }
    bool FinishInstall(uint32_t id, bool success) override { return m_installs.FinishInstall(id, success); }
    int PendingInstalls() const override { return m_installs.PendingInstalls(); }
    bool SetDevNodeStatus(uint32_t id, ULONG status, ULONG problem) override
    {
        return m_installs.SetDevNodeStatus(id, status, problem);
    }
    bool SetOpenFailure(uint32_t id, DWORD error) override { return m_plugAndPlay.SetOpenFailure(id, error); }
    bool AnnounceArrival(uint32_t id) override { return m_plugAndPlay.AnnounceArrival(id); }
    int SendHandleEvent(uint32_t id, DWORD dbtEvent) override
    {
        return m_plugAndPlay.SendHandleEvent(id, dbtEvent);
    }
    std::vector<std::u16string> InterfacePaths(uint32_t id) const override
    {
        return m_plugAndPlay.InterfacePaths(id);
    }
    DeviceStats Stats(uint32_t id) const override { return m_plugAndPlay.Stats(id); }

    // ---- the Windows side -----------------------------------------------------------------------
    DeviceReads& Reads() { return m_reads; }
    Installations& Installs() { return m_installs; }
    std::vector<InterfaceRecord> PresentInterfaces() const { return devices::PresentInterfaces(m_list); }

private:
    SimulatedDevices() = default;

    DeviceList m_list;
    Installations m_installs{m_list};
    DeviceReads m_reads{m_list};
    PlugAndPlay m_plugAndPlay{m_list, m_installs, m_reads};
};

} // namespace winport::devices
