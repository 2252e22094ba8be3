#include "src/devices/DeferredSignals.h"

namespace winport::devices
{

DeferredSignals::~DeferredSignals()
{
    if (m_first)
        m_first->Set();
    for (const auto& event : m_more)
        event->Set();
}

void DeferredSignals::Add(std::shared_ptr<kernel32::Event> event)
{
    if (!event)
        return;
    if (!m_first)
        m_first = std::move(event);
    else
        m_more.push_back(std::move(event));
}

} // namespace winport::devices
