// One HID device interface: a top-level collection of a plugged device, with its own device
// instance. State guarded by its device's lock.
#pragma once

#include <hidpddi.h>
#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace winport::devices
{

class HidDevice;
class HidFile;

class DeviceInterface
{
public:
    DeviceInterface() = default;
    DeviceInterface(const DeviceInterface&) = delete;
    DeviceInterface& operator=(const DeviceInterface&) = delete;
    ~DeviceInterface();

    HidDevice* device = nullptr; // the physical device, which owns this interface
    std::u16string path;         // \\?\hid#vid_...#{4d1e55b2-...}
    std::u16string instanceId;   // HID\VID_...\7&...
    DWORD devInst = 0;
    USHORT usagePage = 0;
    USHORT usage = 0;
    USHORT inputLength = 0;                   // InputReportByteLength, report-ID byte included
    PHIDP_PREPARSED_DATA preparsed = nullptr; // owned; copies are handed out by HidD_GetPreparsedData
    bool systemOwned = false;                 // keyboards and mice refuse read/write opens

    bool present = true;
    std::vector<std::weak_ptr<HidFile>> files;
};

} // namespace winport::devices
