#include "FaultPlan.h"

#include "src/hidparse/CapsFaultHook.h"

#include <algorithm>

namespace winport::faults
{

namespace
{

NTSTATUS CapsFault(PHIDP_PREPARSED_DATA preparsed)
{
    FaultPlan& plan = FaultPlan::Instance();
    return static_cast<NTSTATUS>(plan.Take(WinportCall::HidP_GetCaps, plan.DeviceOfPreparsed(preparsed)));
}

uintptr_t Key(const void* preparsed)
{
    return ~reinterpret_cast<uintptr_t>(preparsed);
}

} // namespace

FaultPlan& FaultPlan::Instance()
{
    // Never destroyed: APIs may ask it from threads that outlive static teardown.
    static FaultPlan* const kInstance = new FaultPlan();
    return *kInstance;
}

void FaultPlan::Arm(WinportCall call, DWORD error, int count, int skip, uint32_t deviceId)
{
    if (count <= 0)
        return;
    if (call == WinportCall::HidP_GetCaps)
        hidparse::SetCapsFaultHook(&CapsFault);
    std::lock_guard<std::mutex> guard(m_lock);
    m_plans.push_back(Plan{call, deviceId, error, std::max(skip, 0), count});
    m_armed = m_plans.size();
}

DWORD FaultPlan::Take(WinportCall call, uint32_t deviceId)
{
    if (m_armed.load(std::memory_order_relaxed) == 0)
        return 0;
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto it = m_plans.begin(); it != m_plans.end(); ++it)
    {
        if (it->call != call || (it->deviceId != kAnyDevice && it->deviceId != deviceId))
            continue;
        if (it->skip > 0)
        {
            --it->skip;
            return 0;
        }
        const DWORD error = it->error;
        if (--it->count == 0)
            m_plans.erase(it);
        m_armed = m_plans.size();
        return error;
    }
    return 0;
}

int FaultPlan::Pending(WinportCall call) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    int pending = 0;
    for (const Plan& plan : m_plans)
        if (plan.call == call)
            pending += plan.count;
    return pending;
}

void FaultPlan::Clear()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_plans.clear();
    m_armed = 0;
}

void FaultPlan::NotePreparsed(const void* preparsed, uint32_t deviceId)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_preparsedOwners[Key(preparsed)] = deviceId;
}

void FaultPlan::ForgetPreparsed(const void* preparsed)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_preparsedOwners.erase(Key(preparsed));
}

uint32_t FaultPlan::DeviceOfPreparsed(const void* preparsed) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    const auto it = m_preparsedOwners.find(Key(preparsed));
    return it == m_preparsedOwners.end() ? kAnyDevice : it->second;
}

} // namespace winport::faults
