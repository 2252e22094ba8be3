// Devices, descriptors and recorders shared by the physical-device tests. Every test runs in a process of its
// own, so each starts with an empty machine and a freshly loaded library.
#pragma once

#include <windows.h>

#include "KvHidRaw.h"
#include "KvNotificationRecorder.h"
#include "KvTestSupport.h"
#include "ValueRecorder.h"
#include "machine/DesktopControl.h"
#include "machine/Machine.h"

#include <cstdint>
#include <string>
#include <vector>

namespace devtest
{
using winport::machine::HidDeviceDescription;
using winport::machine::Machine;

// A joystick: buttons 1-8 (one range) and X, Y (one range, 16 bits, logical 0 to 1023). Report: the
// button byte, then X and Y little-endian; no report ID.
inline std::vector<uint8_t> JoystickDescriptor()
{
    return {0x05, 0x01, 0x09, 0x04, 0xA1, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29, 0x08, 0x15, 0x00,
            0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x05, 0x01, 0x19, 0x30, 0x29, 0x31,
            0x15, 0x00, 0x26, 0xFF, 0x03, 0x75, 0x10, 0x95, 0x02, 0x81, 0x02, 0xC0};
}

// A game pad: Button-page buttons 1-2 and Consumer-page buttons 0xE9-0xEB, three bits of padding.
inline std::vector<uint8_t> ConsumerButtonsDescriptor()
{
    return {0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29, 0x02, 0x15,
            0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x02, 0x81, 0x02, 0x05, 0x0C, 0x19, 0xE9,
            0x29, 0xEB, 0x95, 0x03, 0x81, 0x02, 0x95, 0x03, 0x81, 0x03, 0xC0};
}

// Two Z axes (8 bits each, two main items) and a value on the Generic Device Controls page (0x06, usage
// 0x20, battery strength), which the capability list leaves out.
inline std::vector<uint8_t> TwoZAxesDescriptor()
{
    return {0x05, 0x01, 0x09, 0x04, 0xA1, 0x01, 0x09, 0x32, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
            0x95, 0x01, 0x81, 0x02, 0x09, 0x32, 0x81, 0x02, 0x05, 0x06, 0x09, 0x20, 0x81, 0x02, 0xC0};
}

// One 8-bit X axis declared with logical minimum 255 and maximum 0.
inline std::vector<uint8_t> ReversedRangeDescriptor()
{
    return {0x05, 0x01, 0x09, 0x04, 0xA1, 0x01, 0x09, 0x30, 0x16, 0xFF,
            0x00, 0x25, 0x00, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0};
}

// Buttons 1-8 in report 1, X and Y (8 bits each) in report 2.
inline std::vector<uint8_t> TwoReportsDescriptor()
{
    return {0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0x85, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29, 0x08, 0x15,
            0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x85, 0x02, 0x05, 0x01, 0x09, 0x30,
            0x09, 0x31, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0xC0};
}

// Buttons 1-8 and 9-16 as two button capabilities of one report, then X (8 bits).
inline std::vector<uint8_t> TwoButtonGroupsDescriptor()
{
    return {0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29, 0x08, 0x15, 0x00, 0x25,
            0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x19, 0x09, 0x29, 0x10, 0x81, 0x02, 0x05, 0x01,
            0x09, 0x30, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0};
}

inline HidDeviceDescription Description(const std::vector<uint8_t>& descriptor, const char* friendlyName = nullptr,
                                 USHORT vendorId = 0x1234, USHORT productId = 0x5678)
{
    HidDeviceDescription description;
    description.vendorId = vendorId;
    description.productId = productId;
    description.reportDescriptor = descriptor;
    if (friendlyName)
    {
        std::u16string name;
        for (const char* c = friendlyName; *c; ++c)
            name.push_back(static_cast<char16_t>(*c));
        description.friendlyName = name;
    }
    return description;
}

inline uint32_t Plug(const HidDeviceDescription& description)
{
    return Machine::Instance().PlugDevice(description);
}

inline bool Send(uint32_t machineId, std::vector<uint8_t> report)
{
    return Machine::Instance().SendInputReport(machineId, report.data(), report.size());
}

inline std::vector<uint32_t> DevicesList()
{
    uint32_t* list = nullptr;
    uint32_t count = 0;
    EXPECT_EQ(KvHRGetDevicesList(&list, &count), 0u);
    std::vector<uint32_t> positions(list, list + count);
    KvHRFree(list);
    return positions;
}

inline WString DeviceName(uint32_t id)
{
    KvHRWChar* name = nullptr;
    if (KvHRGetDeviceName(id, &name) != 0 || name == nullptr)
        return WString(u"<no name>");
    WString text(name);
    KvHRFree(name);
    return text;
}

inline std::vector<_stHidCapability> Capabilities(uint32_t id)
{
    _stHidCapability* caps = nullptr;
    uint32_t count = 0;
    EXPECT_EQ(KvHRGetDeviceCapabilities(id, &caps, &count), 0u);
    std::vector<_stHidCapability> list(caps, caps + count);
    KvHRFree(caps);
    return list;
}

inline int RunningThreads()
{
    return Machine::Instance().QueryOpenResources().runningThreads;
}

// Switches polling of a polled device off and waits until its reader has made its last delivery and ended,
// so that a recorder on the test's stack outlives every delivery.
inline void StopReader(uint32_t pos)
{
    const int before = RunningThreads();
    EXPECT_EQ(KvHRSetPolling(pos, 0), 0u);
    EXPECT_TRUE(WaitUntil([&] { return RunningThreads() == before - 1; }));
}

// Every failed check and lock timeout the log holds, one per line.
inline std::string FailedChecks(LogCapture& log)
{
    std::string lines;
    for (const WString& line : log.Lines())
        if (line.find(u"ASSERT(") != WString::npos || line.find(u"VERIFY(") != WString::npos ||
            line.find(u"gave up waiting") != WString::npos)
            lines += Narrow(line) + "\n";
    return lines;
}

// Positions announced with NOTIF_DEVICE_ADDED (or REMOVED), in order.
inline std::vector<uint32_t> Announced(KvNotificationRecorder& recorder, uint32_t event)
{
    std::vector<uint32_t> positions;
    for (const auto& e : recorder.Events())
        if (e.event == event)
            positions.push_back(e.value);
    return positions;
}

// The value a delivery carries for (usagePage, usage, index); -1 when absent.
inline int64_t ValueOf(const std::vector<_stHidValue>& values, uint16_t usagePage, uint16_t usage,
                       uint32_t index = 0)
{
    for (const _stHidValue& v : values)
        if (v.usagePage == usagePage && v.usage == usage && v.index == index)
            return v.value;
    return -1;
}

} // namespace devtest
