// What the control API plugs into the machine: one physical HID device; how it leaves, and its counts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace winport::devices
{

struct HidDeviceDescription
{
    USHORT vendorId = 0x1234;
    USHORT productId = 0x5678;
    USHORT versionNumber = 0x0100;
    // The report descriptor. Each top-level collection becomes one device interface (and one device
    // instance), with "&colNN" in its path and instance id when there are several.
    std::vector<uint8_t> reportDescriptor;
    // SPDRP_FRIENDLYNAME and SPDRP_DEVICEDESC; either may be missing.
    std::optional<std::u16string> friendlyName;
    std::optional<std::u16string> deviceDescription = u"HID-compliant game controller";
    // The 8 hex digits of the instance part ("7&1a2b3c4d&0&0000"); empty: one is made up.
    std::string instanceKey;
    // Plugged with its installation still pending: SPDRP_INSTALL_STATE is
    // CM_INSTALL_STATE_FINISH_INSTALL and the devnode is not started until FinishInstall.
    bool installPending = false;
};

// How a device leaves.
enum class Removal
{
    // Query-remove and remove-pending to the handle registrations, then the device goes, then
    // remove-complete to the handles and the interfaces.
    Orderly,
    // The device goes; only the remove-completes follow. Pending reads fail at once.
    Surprise
};

struct DeviceStats
{
    int openHandles = 0;         // file handles open on the device's interfaces
    uint64_t reportsSent = 0;    // input reports the machine accepted
    uint64_t reportsDropped = 0; // reports lost because a handle's queue was full
    int pendingReads = 0;        // reads waiting for a report, over every open handle
};

} // namespace winport::devices
