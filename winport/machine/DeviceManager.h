// The machine's HID devices: plugging, removal, input reports and installations (the control side),
// and what SetupAPI, the configuration manager, CreateFileW/ReadFile and HidD_* see of them (the
// Windows side). The device list has a reader-writer lock (only a plug writes), each device a lock
// of its own for its state, its interfaces and their open files; events are set and device-change
// broadcasts sent with no lock held, so woken readers and window procedures find nothing taken.
#pragma once

#include "machine/DeferredSignals.h"
#include "machine/HidDevice.h"
#include "machine/HidDeviceSpec.h"
#include "machine/HidFile.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <optional>
#include <string>
#include <vector>

namespace winport::machine
{

// {4d1e55b2-f16f-11cf-88cb-001111000030}, the HID device interface class.
extern const GUID kHidInterfaceClass;
// {745a17a0-74d3-11d0-b6fe-00a0c90f57da}, the HIDClass setup class.
extern const GUID kHidSetupClass;

// One interface as a device information set records it.
struct InterfaceRecord
{
    std::u16string path;
    std::u16string instanceId;
    DWORD devInst = 0;
    std::optional<std::u16string> friendlyName;
    std::optional<std::u16string> deviceDescription;
    std::u16string hardwareIds; // REG_MULTI_SZ text, double-terminated
    DWORD installState = 0;
};

class DeviceManager
{
public:
    // The longest input report the machine carries (the HID class driver's limit is far above any
    // device we model).
    static constexpr size_t kMaxReportLength = 4096;

    // ---- control side (see Machine.h) -------------------------------------------------------
    uint32_t Plug(const HidDeviceSpec& spec);
    bool Unplug(uint32_t id, Removal how);
    bool SendInputReport(uint32_t id, const uint8_t* data, size_t size);
    bool StartInstall(uint32_t id);
    bool FinishInstall(uint32_t id, bool success);
    bool SetDevNodeStatus(uint32_t id, ULONG status, ULONG problem);
    bool SetOpenFailure(uint32_t id, DWORD error);
    std::vector<std::u16string> InterfacePaths(uint32_t id) const;
    DeviceStats Stats(uint32_t id) const;
    int PendingInstalls() const;

    // ---- Windows side -----------------------------------------------------------------------
    std::vector<InterfaceRecord> PresentInterfaces() const;
    // The new handle, or null with error set.
    HANDLE Open(const char16_t* path, DWORD access, DWORD flags, DWORD& error);
    // ReadFile's semantics; sets the last error.
    BOOL Read(HidFile& file, LPVOID buffer, DWORD size, LPDWORD bytesRead, LPOVERLAPPED overlapped);
    // Completes the file's pending reads (the calling thread's only, unless allThreads) with status.
    void CancelReads(HidFile& file, bool allThreads, ULONG_PTR status);
    void OnFileClosed(HidFile& file);
    bool Attributes(const HidFile& file, USHORT& vendorId, USHORT& productId, USHORT& version) const;
    PHIDP_PREPARSED_DATA CopyPreparsedData(const HidFile& file) const;
    DWORD DevNodeStatus(DWORD devInst, ULONG& status, ULONG& problem) const;
    DWORD WaitNoPendingInstalls(DWORD timeoutMs);

private:
    // The present device with that id (device list lock held); its own lock is not taken.
    HidDevice* FindLocked(uint32_t id) const;
    void NotifyInstallChange();
    bool BuildInterfaces(HidDevice& device);
    void DeliverLocked(DeviceInterface& iface, const uint8_t* report, size_t size, HidDevice& device,
                       DeferredSignals& signals);
    // Completes a read with status and, for a report, its bytes; its event goes to signals. Frees an
    // overlapped read.
    void CompleteLocked(PendingRead& read, ULONG_PTR status, const uint8_t* report, size_t size,
                        DeferredSignals& signals);
    void DisconnectLocked(HidDevice& device, DeferredSignals& signals);
    void CancelReadsLocked(HidFile& file, bool allThreads, ULONG_PTR status, DeferredSignals& signals);
    std::vector<HANDLE> OpenHandlesLocked(const HidDevice& device) const;
    std::string MakeInstanceKey();

    mutable std::shared_mutex listLock_; // devices_ itself
    std::mutex installLock_;             // with installsDone_, for CMP_WaitNoPendingInstallEvents
    std::condition_variable installsDone_;
    std::vector<std::unique_ptr<HidDevice>> devices_; // in plug order; removed ones stay, not present
    DWORD nextDevInst_ = 1;
    uint32_t nextKey_ = 0x1a2b3c4d;
};

} // namespace winport::machine
