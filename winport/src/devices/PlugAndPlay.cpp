#include "src/devices/PlugAndPlay.h"

#include "src/devices/InterfaceRecords.h"
#include "src/user32/DeviceBroadcast.h"

#include <dbt.h>

#include <cstdio>

namespace winport::devices
{

namespace
{

std::u16string Widen(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

std::string Format(const char* format, unsigned a, unsigned b)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, a, b);
    return buffer;
}

bool IsSystemOwned(USHORT usagePage, USHORT usage)
{
    // Generic Desktop mouse, keyboard and keypad: the system opens them for itself.
    return usagePage == 0x01 && (usage == 0x02 || usage == 0x06 || usage == 0x07);
}

} // namespace

bool PlugAndPlay::BuildInterfaces(HidDevice& device)
{
    HIDP_DEVICE_DESC desc{};
    auto& bytes = device.description.reportDescriptor;
    if (HidP_GetCollectionDescription(bytes.data(), static_cast<ULONG>(bytes.size()), NonPagedPool, &desc) !=
            HIDP_STATUS_SUCCESS ||
        desc.CollectionDescLength == 0)
        return false;
    std::string key = device.description.instanceKey.empty() ? m_devices.MakeInstanceKeyLocked()
                                                             : device.description.instanceKey;
    std::string ids = Format("vid_%04x&pid_%04x", device.description.vendorId, device.description.productId);
    bool several = desc.CollectionDescLength > 1;
    for (ULONG i = 0; i < desc.CollectionDescLength; ++i)
    {
        const HIDP_COLLECTION_DESC& col = desc.CollectionDesc[i];
        auto iface = std::make_shared<DeviceInterface>();
        iface->device = &device;
        std::string hwPart = ids + (several ? Format("&col%02x", col.CollectionNumber, 0) : "");
        std::string instancePart = "7&" + key + "&0&" + Format("%04x", i, 0);
        iface->path =
            Widen("\\\\?\\hid#" + hwPart + "#" + instancePart + "#{4d1e55b2-f16f-11cf-88cb-001111000030}");
        std::u16string instance = Widen("HID\\" + hwPart + "\\" + instancePart);
        iface->instanceId = _wcsupr(&instance[0]);
        iface->devInst = m_devices.NextDevInstLocked();
        iface->usagePage = col.UsagePage;
        iface->usage = col.Usage;
        iface->inputLength = col.InputLength;
        iface->preparsed = WinportHidP_CopyPreparsedData(col.PreparsedData);
        iface->systemOwned = IsSystemOwned(col.UsagePage, col.Usage);
        device.interfaces.push_back(iface);
    }
    for (ULONG i = 0; i < desc.ReportIDsLength; ++i)
    {
        const HIDP_REPORT_IDS& route = desc.ReportIDs[i];
        if (route.InputLength > 0 && route.CollectionNumber >= 1 &&
            route.CollectionNumber <= device.interfaces.size())
            device.inputRoutes[route.ReportID] = device.interfaces[route.CollectionNumber - 1].get();
    }
    HidP_FreeCollectionDescription(&desc);
    return true;
}

uint32_t PlugAndPlay::Plug(const HidDeviceDescription& description)
{
    auto device = std::make_unique<HidDevice>();
    device->description = description;
    Installations::SetPluggedState(*device, description.installPending);
    uint32_t id =
        m_devices.Add(std::move(device), [this](HidDevice& added) { return BuildInterfaces(added); });
    if (id != 0)
        for (const auto& iface : m_devices.Find(id)->interfaces) // fixed at the plug
            user32::BroadcastInterfaceArrival(kHidInterfaceClass, iface->path.c_str());
    return id;
}

std::vector<HANDLE> PlugAndPlay::OpenHandlesLocked(const HidDevice& device) const
{
    std::vector<HANDLE> handles;
    for (const auto& iface : device.interfaces)
        for (const auto& weak : iface->files)
            if (auto file = weak.lock(); file && !file->closed)
                handles.push_back(file->handle);
    return handles;
}

bool PlugAndPlay::Unplug(uint32_t id, Removal how)
{
    std::vector<HANDLE> handles;
    std::vector<std::u16string> paths;
    HidDevice* device = m_devices.Find(id);
    if (device == nullptr)
        return false;
    for (const auto& iface : device->interfaces)
        paths.push_back(iface->path);
    {
        DeferredSignals signals;
        std::lock_guard<std::mutex> guard(device->lock);
        if (!device->present)
            return false;
        handles = OpenHandlesLocked(*device);
        if (how == Removal::Surprise)
            m_reads.DisconnectLocked(*device, signals);
    }
    if (how == Removal::Orderly)
    {
        for (HANDLE handle : handles)
            user32::BroadcastHandleEvent(handle, DBT_DEVICEQUERYREMOVE);
        for (HANDLE handle : handles)
            user32::BroadcastHandleEvent(handle, DBT_DEVICEREMOVEPENDING);
        DeferredSignals signals;
        std::lock_guard<std::mutex> guard(device->lock);
        handles = OpenHandlesLocked(*device); // the query may have closed some
        m_reads.DisconnectLocked(*device, signals);
    }
    m_installs.NotifyInstallChange();
    for (HANDLE handle : handles)
        user32::BroadcastHandleEvent(handle, DBT_DEVICEREMOVECOMPLETE);
    for (const auto& path : paths)
        user32::BroadcastInterfaceRemoveComplete(kHidInterfaceClass, path.c_str());
    return true;
}

bool PlugAndPlay::AnnounceArrival(uint32_t id)
{
    HidDevice* device = m_devices.Find(id);
    if (device == nullptr)
        return false;
    {
        std::lock_guard<std::mutex> guard(device->lock);
        if (!device->present)
            return false;
    }
    for (const auto& iface : device->interfaces) // fixed at the plug
        user32::BroadcastInterfaceArrival(kHidInterfaceClass, iface->path.c_str());
    return true;
}

int PlugAndPlay::SendHandleEvent(uint32_t id, DWORD dbtEvent)
{
    std::vector<HANDLE> handles;
    HidDevice* device = m_devices.Find(id);
    if (device == nullptr)
        return 0;
    {
        std::lock_guard<std::mutex> guard(device->lock);
        handles = OpenHandlesLocked(*device);
    }
    for (HANDLE handle : handles)
        user32::BroadcastHandleEvent(handle, dbtEvent);
    return static_cast<int>(handles.size());
}

bool PlugAndPlay::SetOpenFailure(uint32_t id, DWORD error)
{
    return m_devices.ChangePresent(id, [=](HidDevice& device) { device.openFailure = error; });
}

std::vector<std::u16string> PlugAndPlay::InterfacePaths(uint32_t id) const
{
    std::vector<std::u16string> paths;
    if (HidDevice* device = m_devices.Find(id))
        for (const auto& iface : device->interfaces)
            paths.push_back(iface->path);
    return paths;
}

DeviceStats PlugAndPlay::Stats(uint32_t id) const
{
    HidDevice* device = m_devices.Find(id);
    if (device == nullptr)
        return DeviceStats{};
    std::lock_guard<std::mutex> guard(device->lock);
    DeviceStats stats = device->stats;
    stats.pendingReads = 0;
    for (const auto& iface : device->interfaces)
        for (const auto& weak : iface->files)
            if (auto file = weak.lock(); file && !file->closed)
                stats.pendingReads += static_cast<int>(file->pending.size());
    return stats;
}

} // namespace winport::devices
