// A mutex object: owned by one thread, re-entrant for it, released as often as it was taken.
// Abandonment (the owner ending while holding it) is not modelled.
#pragma once

#include "KernelObject.h"

namespace winport::kernel32
{

class Mutex : public KernelObject
{
public:
    explicit Mutex(DWORD initialOwner) : m_owner(initialOwner), m_count(initialOwner ? 1 : 0) {}

    const char* KindName() const override { return "mutex"; }
    bool IsWaitable() const override { return true; }
    bool IsSignaledLocked(DWORD threadId) const override { return m_count == 0 || m_owner == threadId; }
    bool AcquireLocked(DWORD threadId) override;

    // False when threadId does not own the mutex.
    bool Release(DWORD threadId);

private:
    DWORD m_owner; // guarded by the dispatcher lock
    DWORD m_count;
};

} // namespace winport::kernel32
