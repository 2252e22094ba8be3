#include "src/devices/Installations.h"

#include <chrono>

namespace winport::devices
{

void Installations::SetPluggedState(HidDevice& device, bool installPending)
{
    device.installState = installPending ? CM_INSTALL_STATE_FINISH_INSTALL : CM_INSTALL_STATE_INSTALLED;
    device.devNodeStatus = installPending ? kInstallingStatus : kStartedStatus;
}

bool Installations::StartInstall(uint32_t id)
{
    return m_devices.ChangePresent(id,
                                   [](HidDevice& device)
                                   {
                                       device.installState = CM_INSTALL_STATE_FINISH_INSTALL;
                                       device.devNodeStatus = kInstallingStatus;
                                       device.problem = 0;
                                   });
}

bool Installations::FinishInstall(uint32_t id, bool success)
{
    bool changed = m_devices.ChangePresent(
        id,
        [success](HidDevice& device)
        {
            device.installState = success ? CM_INSTALL_STATE_INSTALLED : CM_INSTALL_STATE_FAILED_INSTALL;
            device.devNodeStatus = success ? kStartedStatus : (kInstallingStatus | DN_HAS_PROBLEM);
            device.problem = success ? 0 : CM_PROB_FAILED_INSTALL;
        });
    if (changed)
        NotifyInstallChange();
    return changed;
}

bool Installations::SetDevNodeStatus(uint32_t id, ULONG status, ULONG problem)
{
    return m_devices.ChangePresent(id,
                                   [=](HidDevice& device)
                                   {
                                       device.devNodeStatus = status;
                                       device.problem = problem;
                                   });
}

int Installations::PendingInstalls() const
{
    int pending = 0;
    m_devices.FindIf(
        [&](HidDevice& device)
        {
            std::lock_guard<std::mutex> guard(device.lock);
            pending += device.present && device.installState == CM_INSTALL_STATE_FINISH_INSTALL;
            return false;
        });
    return pending;
}

void Installations::NotifyInstallChange()
{
    // Taking the lock orders this after any waiter's check of the states.
    std::lock_guard<std::mutex> guard(m_lock);
    m_done.notify_all();
}

DWORD Installations::DevNodeStatus(DWORD devInst, ULONG& status, ULONG& problem) const
{
    DWORD result = CR_INVALID_DEVINST;
    m_devices.FindIf(
        [&](HidDevice& device)
        {
            for (const auto& iface : device.interfaces)
                if (iface->devInst == devInst)
                {
                    std::lock_guard<std::mutex> guard(device.lock);
                    result = device.present ? CR_SUCCESS : CR_NO_SUCH_DEVINST;
                    if (device.present)
                    {
                        status = device.devNodeStatus;
                        problem = device.problem;
                    }
                    return true;
                }
            return false;
        });
    return result;
}

DWORD Installations::WaitNoPendingInstalls(DWORD timeoutMs)
{
    auto none = [this] { return PendingInstalls() == 0; };
    std::unique_lock<std::mutex> guard(m_lock);
    if (timeoutMs == INFINITE)
    {
        m_done.wait(guard, none);
        return WAIT_OBJECT_0;
    }
    return m_done.wait_for(guard, std::chrono::milliseconds(timeoutMs), none) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

} // namespace winport::devices
