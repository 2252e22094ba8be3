// An event object: manual-reset (stays signalled until ResetEvent) or auto-reset (one satisfied wait
// resets it).
#pragma once

#include "KernelObject.h"

namespace winport::kernel32
{

class Event : public KernelObject
{
public:
    Event(bool manualReset, bool initialState) : manualReset_(manualReset), signaled_(initialState) {}

    const char* KindName() const override { return "event"; }
    bool IsWaitable() const override { return true; }
    bool IsSignaledLocked(DWORD) const override { return signaled_; }
    bool AcquireLocked(DWORD) override;

    void Set();
    void Reset();

private:
    const bool manualReset_;
    bool signaled_; // guarded by the dispatcher lock
};

} // namespace winport::kernel32
