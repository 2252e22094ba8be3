#include "HandleTable.h"

#include <algorithm>

namespace winport::kernel32
{

HANDLE HandleTable::Insert(std::shared_ptr<KernelObject> object)
{
    std::lock_guard<std::shared_mutex> guard(lock_);
    uintptr_t value = next_;
    next_ += 4;
    ++object->handleCount_;
    entries_.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> HandleTable::Lookup(HANDLE handle) const
{
    std::shared_lock<std::shared_mutex> guard(lock_);
    auto it = entries_.find(reinterpret_cast<uintptr_t>(handle));
    return it == entries_.end() ? nullptr : it->second;
}

std::shared_ptr<KernelObject> HandleTable::Close(HANDLE handle)
{
    std::shared_ptr<KernelObject> object;
    bool last = false;
    {
        std::lock_guard<std::shared_mutex> guard(lock_);
        auto it = entries_.find(reinterpret_cast<uintptr_t>(handle));
        if (it == entries_.end())
            return nullptr;
        object = std::move(it->second);
        entries_.erase(it);
        last = --object->handleCount_ == 0;
    }
    if (last)
        object->OnLastHandleClosed();
    return object;
}

std::map<std::string, int> HandleTable::CountByKind() const
{
    std::lock_guard<std::shared_mutex> guard(lock_);
    std::map<std::string, int> counts;
    for (const auto& entry : entries_)
        ++counts[entry.second->KindName()];
    return counts;
}

} // namespace winport::kernel32

namespace winport::kernel32
{

std::vector<std::shared_ptr<KernelObject>> HandleTable::Objects() const
{
    std::lock_guard<std::shared_mutex> guard(lock_);
    std::vector<std::shared_ptr<KernelObject>> objects;
    for (const auto& entry : entries_)
        if (std::find(objects.begin(), objects.end(), entry.second) == objects.end())
            objects.push_back(entry.second);
    return objects;
}

} // namespace winport::kernel32
