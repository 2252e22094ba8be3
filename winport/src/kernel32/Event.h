// An event object: manual-reset (stays signalled until ResetEvent) or auto-reset (one satisfied wait
// resets it).
#pragma once

#include "KernelObject.h"

namespace winport::kernel32
{

class Event : public KernelObject
{
public:
    Event(bool manualReset, bool initialState) : m_manualReset(manualReset), m_signaled(initialState) {}

    const char* KindName() const override { return "event"; }
    bool IsWaitable() const override { return true; }
    bool IsSignaledLocked(DWORD) const override { return m_signaled; }
    bool AcquireLocked(DWORD) override;

    void Set();
    void Reset();

private:
    const bool m_manualReset;
    bool m_signaled; // guarded by the dispatcher lock
};

} // namespace winport::kernel32
