// A device information set: a snapshot of the machine's HID device instances (and, for an interface
// set, their interfaces) taken by SetupDiGetClassDevsW. Its handle lives in the process's handle
// table, so stale or destroyed sets fail with ERROR_INVALID_HANDLE and leaks show in the machine's
// report of open objects.
#pragma once

#include "src/devices/InterfaceRecords.h"
#include "src/kernel32/KernelObject.h"

#include <vector>

namespace winport::setupapi
{

class DeviceInfoSet : public kernel32::KernelObject
{
public:
    explicit DeviceInfoSet(std::vector<devices::InterfaceRecord> records) : records(std::move(records)) {}

    const char* KindName() const override { return "device information set"; }
    // Only SetupDiDestroyDeviceInfoList destroys a set.
    bool ClosableByCloseHandle() const override { return false; }

    // The Reserved value that ties an SP_DEVINFO_DATA or SP_DEVICE_INTERFACE_DATA to element index of
    // this set, and back (-1 when it does not belong to the set).
    ULONG_PTR TagOf(size_t index) const { return (reinterpret_cast<ULONG_PTR>(handle) << 20) | (index + 1); }
    long IndexOf(ULONG_PTR tag) const;

    HANDLE handle = nullptr;
    const std::vector<devices::InterfaceRecord> records; // one device instance and interface each
};

} // namespace winport::setupapi
