#include "src/devices/DeviceList.h"

#include <cstdio>

namespace winport::devices
{

HidDevice* DeviceList::Find(uint32_t id) const
{
    std::shared_lock<std::shared_mutex> guard(m_lock);
    // Ids are given in plug order from 1 and devices are never taken out of the list.
    if (id == 0 || id > m_devices.size())
        return nullptr;
    return m_devices[id - 1].get();
}

std::string DeviceList::MakeInstanceKeyLocked()
{
    m_nextKey = m_nextKey * 1103515245u + 12345u;
    char key[16];
    std::snprintf(key, sizeof key, "%08x", m_nextKey);
    return key;
}

} // namespace winport::devices
