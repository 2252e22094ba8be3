#include "HandleTable.h"

#include <algorithm>

namespace winport::kernel32
{

HANDLE HandleTable::Insert(std::shared_ptr<KernelObject> object)
{
    std::lock_guard<std::shared_mutex> guard(m_lock);
    uintptr_t value = m_next;
    m_next += 4;
    ++object->m_handleCount;
    m_entries.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> HandleTable::Lookup(HANDLE handle) const
{
    std::shared_lock<std::shared_mutex> guard(m_lock);
    auto it = m_entries.find(reinterpret_cast<uintptr_t>(handle));
    return it == m_entries.end() ? nullptr : it->second;
}

std::shared_ptr<KernelObject> HandleTable::Close(HANDLE handle)
{
    std::shared_ptr<KernelObject> object;
    bool last = false;
    {
        std::lock_guard<std::shared_mutex> guard(m_lock);
        auto it = m_entries.find(reinterpret_cast<uintptr_t>(handle));
        if (it == m_entries.end())
            return nullptr;
        object = std::move(it->second);
        m_entries.erase(it);
        last = --object->m_handleCount == 0;
    }
    if (last)
        object->OnLastHandleClosed();
    return object;
}

std::map<std::string, int> HandleTable::CountByKind() const
{
    std::lock_guard<std::shared_mutex> guard(m_lock);
    std::map<std::string, int> counts;
    for (const auto& entry : m_entries)
        ++counts[entry.second->KindName()];
    return counts;
}

} // namespace winport::kernel32

namespace winport::kernel32
{

std::vector<std::shared_ptr<KernelObject>> HandleTable::Objects() const
{
    std::lock_guard<std::shared_mutex> guard(m_lock);
    std::vector<std::shared_ptr<KernelObject>> objects;
    for (const auto& entry : m_entries)
        if (std::find(objects.begin(), objects.end(), entry.second) == objects.end())
            objects.push_back(entry.second);
    return objects;
}

} // namespace winport::kernel32
