// The process's handle table: HANDLE values to kernel objects.
//
// Values are multiples of 4 from 0x100 upward and are never reused, so a stale handle fails with
// ERROR_INVALID_HANDLE instead of naming a newer object. Several handles may name one object
// (DuplicateHandle); the object's OnLastHandleClosed runs when the last of them is closed, and the
// object itself lives on while anything (a running thread, a pending wait) still holds it.
#pragma once

#include "KernelObject.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace winport::kernel32
{

class HandleTable
{
public:
    static HandleTable& Instance();

    HANDLE Insert(std::shared_ptr<KernelObject> object);
    // The object named by handle, or null (the caller sets ERROR_INVALID_HANDLE).
    std::shared_ptr<KernelObject> Lookup(HANDLE handle) const;
    template <typename T> std::shared_ptr<T> LookupAs(HANDLE handle) const
    {
        return std::dynamic_pointer_cast<T>(Lookup(handle));
    }
    // Removes the handle; returns the object it named, or null if the handle was not open.
    // Calls OnLastHandleClosed (outside the table's lock) when it was the object's last handle.
    std::shared_ptr<KernelObject> Close(HANDLE handle);

    // Every object that has an open handle, once each.
    std::vector<std::shared_ptr<KernelObject>> Objects() const;
    // Open handles by kind name, for the machine's report of what is still open.
    std::map<std::string, int> CountByKind() const;

private:
    mutable std::shared_mutex m_lock; // look-ups, by far the most frequent, share it
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> m_entries;
    uintptr_t m_next = 0x100;
};

} // namespace winport::kernel32
