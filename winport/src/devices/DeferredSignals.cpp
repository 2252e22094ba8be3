#include "src/devices/DeferredSignals.h"

namespace winport::devices
{

DeferredSignals::~DeferredSignals()
{
    if (first_)
        first_->Set();
    for (const auto& event : more_)
        event->Set();
}

void DeferredSignals::Add(std::shared_ptr<kernel32::Event> event)
{
    if (!event)
        return;
    if (!first_)
        first_ = std::move(event);
    else
        more_.push_back(std::move(event));
}

} // namespace winport::devices
