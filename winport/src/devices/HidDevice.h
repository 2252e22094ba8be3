// A plugged physical HID device and the interfaces of its top-level collections. What is set at the
// plug (id, description, interfaces, paths, routes) never changes; the rest, and the state of the device's
// interfaces and open files, is guarded by the device's own lock, so devices do not contend.
#pragma once

#include "src/devices/DeviceInterface.h"
#include "src/devices/HidDeviceDescription.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace winport::devices
{

class HidDevice
{
public:
    uint32_t id = 0;
    HidDeviceDescription description;
    std::vector<std::shared_ptr<DeviceInterface>> interfaces;
    std::map<UCHAR, DeviceInterface*> inputRoutes; // report ID -> the interface that reads it

    std::mutex lock;
    DWORD installState = 0; // CM_INSTALL_STATE_*
    ULONG devNodeStatus = 0;
    ULONG problem = 0;
    DWORD openFailure = 0; // an error CreateFileW fails with, 0 for none
    bool present = true;
    DeviceStats stats;
};

} // namespace winport::devices
