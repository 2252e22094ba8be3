// Plugging and removal: a plug parses the report descriptor and makes one device interface and one
// device instance per top-level collection, then broadcasts their arrival; a removal (orderly or
// surprise) sends the query/pending/complete events to open handles and interfaces. Broadcasts are
// sent with no lock held, since window procedures call back into SetupAPI and the files.
#pragma once

#include "src/devices/DeviceList.h"
#include "src/devices/DeviceReads.h"
#include "src/devices/Installations.h"

#include <string>
#include <vector>

namespace winport::devices
{

class PlugAndPlay
{
public:
    PlugAndPlay(DeviceList& devices, Installations& installs, DeviceReads& reads)
        : m_devices(devices), m_installs(installs), m_reads(reads)
    {
    }

    uint32_t Plug(const HidDeviceDescription& description);
    bool Unplug(uint32_t id, Removal how);
    bool SetOpenFailure(uint32_t id, DWORD error);
    bool AnnounceArrival(uint32_t id);
    int SendHandleEvent(uint32_t id, DWORD dbtEvent);
    std::vector<std::u16string> InterfacePaths(uint32_t id) const;
    DeviceStats Stats(uint32_t id) const;

private:
    bool BuildInterfaces(HidDevice& device);
    std::vector<HANDLE> OpenHandlesLocked(const HidDevice& device) const;

    DeviceList& m_devices;
    Installations& m_installs;
    DeviceReads& m_reads;
};

} // namespace winport::devices
