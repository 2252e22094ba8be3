// The machine's plugged devices, in plug order. The list has a reader-writer lock (only a plug
// writes); devices are never taken out of it (a removed one stays, not present), so a device found
// once stays valid and its own lock guards the rest.
#pragma once

#include "src/devices/HidDevice.h"

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

namespace winport::devices
{

class DeviceList
{
public:
    // Adds the device under the write lock once build(device) has made its interfaces (build may call
    // the *Locked functions below); returns its id, from 1 in plug order, or 0 when build refuses it.
    template <typename Build> uint32_t Add(std::unique_ptr<HidDevice> device, Build build)
    {
        std::unique_lock<std::shared_mutex> guard(m_lock);
        if (!build(*device))
            return 0;
        device->id = static_cast<uint32_t>(m_devices.size() + 1);
        m_devices.push_back(std::move(device));
        return m_devices.back()->id;
    }

    // The device with that id, present or not; null for an id never given.
    HidDevice* Find(uint32_t id) const;

    // Runs visit(device) on the devices in plug order, the list's read lock held, until visit returns
    // true; returns whether one did.
    template <typename Visit> bool FindIf(Visit visit) const
    {
        std::shared_lock<std::shared_mutex> guard(m_lock);
        for (const auto& device : m_devices)
            if (visit(*device))
                return true;
        return false;
    }

    // Runs change on the present device with that id under its lock; false when there is none.
    template <typename Change> bool ChangePresent(uint32_t id, Change change) const
    {
        HidDevice* device = Find(id);
        if (device == nullptr)
            return false;
        std::lock_guard<std::mutex> guard(device->lock);
        if (!device->present)
            return false;
        change(*device);
        return true;
    }

    // For build, with the write lock held: the next device instance number, a made-up instance key.
    DWORD NextDevInstLocked() { return m_nextDevInst++; }
    std::string MakeInstanceKeyLocked();

private:
    mutable std::shared_mutex m_lock;
    std::vector<std::unique_ptr<HidDevice>> m_devices;
    DWORD m_nextDevInst = 1;
    uint32_t m_nextKey = 0x1a2b3c4d;
};

} // namespace winport::devices
