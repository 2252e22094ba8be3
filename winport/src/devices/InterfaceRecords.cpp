#include "src/devices/InterfaceRecords.h"

namespace winport::devices
{

const GUID kHidInterfaceClass = {
    0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
const GUID kHidSetupClass = {0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};

namespace
{

InterfaceRecord RecordOf(const HidDevice& device, const DeviceInterface& iface)
{
    InterfaceRecord record;
    record.path = iface.path;
    record.instanceId = iface.instanceId;
    record.devInst = iface.devInst;
    record.friendlyName = device.description.friendlyName;
    record.deviceDescription = device.description.deviceDescription;
    auto cut = iface.instanceId.rfind(u'\\');
    record.hardwareIds = iface.instanceId.substr(0, cut) + u'\0' + u'\0';
    record.installState = device.installState;
    return record;
}

} // namespace

std::vector<InterfaceRecord> PresentInterfaces(const DeviceList& devices)
{
    std::vector<InterfaceRecord> records;
    devices.FindIf(
        [&](HidDevice& device)
        {
            std::lock_guard<std::mutex> guard(device.lock);
            if (device.present)
                for (const auto& iface : device.interfaces)
                    records.push_back(RecordOf(device, *iface));
            return false;
        });
    return records;
}

} // namespace winport::devices
