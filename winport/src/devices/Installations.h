// Device installations and devnode status: what SPDRP_INSTALL_STATE, CM_Get_DevNode_Status and
// CMP_WaitNoPendingInstallEvents see, and the control API's StartInstall / FinishInstall.
#pragma once

#include "src/devices/DeviceList.h"

#include <cfgmgr32.h>

#include <condition_variable>
#include <mutex>

namespace winport::devices
{

class Installations
{
public:
    static constexpr ULONG kStartedStatus =
        DN_DRIVER_LOADED | DN_STARTED | DN_DISABLEABLE | DN_REMOVABLE | DN_NT_ENUMERATOR | DN_NT_DRIVER;
    static constexpr ULONG kInstallingStatus = DN_DISABLEABLE | DN_REMOVABLE | DN_NT_ENUMERATOR;

    explicit Installations(const DeviceList& devices) : m_devices(devices) {}

    // The state of a device being plugged: installed and started, or its installation pending.
    static void SetPluggedState(HidDevice& device, bool installPending);

    // ---- control side ------------------------------------------------------------------------
    bool StartInstall(uint32_t id);
    bool FinishInstall(uint32_t id, bool success);
    bool SetDevNodeStatus(uint32_t id, ULONG status, ULONG problem);
    int PendingInstalls() const;
    // Wakes CMP_WaitNoPendingInstallEvents to look again (a device finished installing or left).
    void NotifyInstallChange();

    // ---- Windows side ------------------------------------------------------------------------
    DWORD DevNodeStatus(DWORD devInst, ULONG& status, ULONG& problem) const;
    DWORD WaitNoPendingInstalls(DWORD timeoutMs);

private:
    const DeviceList& m_devices;
    std::mutex m_lock; // with done_, for CMP_WaitNoPendingInstallEvents
    std::condition_variable m_done;
};

} // namespace winport::devices
