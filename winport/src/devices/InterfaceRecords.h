// What SetupAPI (and DirectInput's list of game controllers) see of the machine's devices: one record
// per present interface, copied so that a device information set is a snapshot.
#pragma once

#include "src/devices/DeviceList.h"

#include <optional>
#include <string>
#include <vector>

namespace winport::devices
{

// {4d1e55b2-f16f-11cf-88cb-001111000030}, the HID device interface class.
extern const GUID kHidInterfaceClass;
// {745a17a0-74d3-11d0-b6fe-00a0c90f57da}, the HIDClass setup class.
extern const GUID kHidSetupClass;

// One interface as a device information set records it.
struct InterfaceRecord
{
    std::u16string path;
    std::u16string instanceId;
    DWORD devInst = 0;
    std::optional<std::u16string> friendlyName;
    std::optional<std::u16string> deviceDescription;
    std::u16string hardwareIds; // REG_MULTI_SZ text, double-terminated
    DWORD installState = 0;
};

// The present interfaces in plug order.
std::vector<InterfaceRecord> PresentInterfaces(const DeviceList& devices);

} // namespace winport::devices
