// Events to set once the device lock is released, so that a woken reader does not find it held.
// Collected while the lock is held; set, in order, when the object goes out of scope (declare it
// before the lock guard).
#pragma once

#include "src/kernel32/Event.h"

#include <memory>
#include <vector>

namespace winport::devices
{

class DeferredSignals
{
public:
    DeferredSignals() = default;
    DeferredSignals(const DeferredSignals&) = delete;
    DeferredSignals& operator=(const DeferredSignals&) = delete;
    ~DeferredSignals();
    void Add(std::shared_ptr<kernel32::Event> event);

private:
    std::shared_ptr<kernel32::Event> m_first; // one event per report is the common case: no allocation
    std::vector<std::shared_ptr<kernel32::Event>> m_more;
};

} // namespace winport::devices
