// The internal interface through which the control API (winport/machine) drives the machine's HID
// devices. The Windows side (SetupAPI, files, reads, device-change broadcasts) lives in this folder
// and knows nothing of the control API; the control API knows the devices only through this class.
#pragma once

#include "src/devices/HidDeviceDescription.h"

#include <cstdint>
#include <string>
#include <vector>

namespace winport::devices
{

class DeviceControl
{
public:
    // The machine's devices, created on first use.
    static DeviceControl& Instance();

    virtual uint32_t Plug(const HidDeviceDescription& description) = 0;
    virtual bool Unplug(uint32_t id, Removal how) = 0;
    virtual bool SendInputReport(uint32_t id, const uint8_t* data, size_t size) = 0;
    virtual bool StartInstall(uint32_t id) = 0;
    virtual bool FinishInstall(uint32_t id, bool success) = 0;
    virtual int PendingInstalls() const = 0;
    virtual bool SetDevNodeStatus(uint32_t id, ULONG status, ULONG problem) = 0;
    virtual bool SetOpenFailure(uint32_t id, DWORD error) = 0;
    virtual bool AnnounceArrival(uint32_t id) = 0;
    virtual int SendHandleEvent(uint32_t id, DWORD dbtEvent) = 0;
    virtual std::vector<std::u16string> InterfacePaths(uint32_t id) const = 0;
    virtual DeviceStats Stats(uint32_t id) const = 0;

protected:
    ~DeviceControl() = default;
};

} // namespace winport::devices
