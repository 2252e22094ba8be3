#include "src/devices/DeviceList.h"

#include <cstdio>

namespace winport::devices
{

HidDevice* DeviceList::Find(uint32_t id) const
{
    std::shared_lock<std::shared_mutex> guard(lock_);
    // Ids are given in plug order from 1 and devices are never taken out of the list.
    if (id == 0 || id > devices_.size())
        return nullptr;
    return devices_[id - 1].get();
}

std::string DeviceList::MakeInstanceKeyLocked()
{
    nextKey_ = nextKey_ * 1103515245u + 12345u;
    char key[16];
    std::snprintf(key, sizeof key, "%08x", nextKey_);
    return key;
}

} // namespace winport::devices
