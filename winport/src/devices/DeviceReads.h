// Input reports on their way to the files open on a device: CreateFileW, ReadFile, CancelIo and the
// close of a handle, HidD_GetAttributes and HidD_GetPreparsedData, and the control API's
// SendInputReport. State lives in the devices, guarded by each device's lock; events of completed
// reads are set after that lock is released, so a woken reader finds nothing taken.
#pragma once

#include "src/devices/DeferredSignals.h"
#include "src/devices/DeviceList.h"
#include "src/devices/HidFile.h"

namespace winport::devices
{

class DeviceReads
{
public:
    // The longest input report the machine carries (the HID class driver's limit is far above any
    // device we model).
    static constexpr size_t kMaxReportLength = 4096;

    explicit DeviceReads(const DeviceList& devices) : m_devices(devices) {}

    // ---- control side ------------------------------------------------------------------------
    bool SendInputReport(uint32_t id, const uint8_t* data, size_t size);

    // ---- Windows side ------------------------------------------------------------------------
    // The new handle, or null with error set.
    HANDLE Open(const char16_t* path, DWORD access, DWORD flags, DWORD& error);
    // ReadFile's semantics; sets the last error.
    BOOL Read(HidFile& file, LPVOID buffer, DWORD size, LPDWORD bytesRead, LPOVERLAPPED overlapped);
    // Completes the file's pending reads (the calling thread's only, unless allThreads) with status.
    // False when no read was pending (CancelIoEx then fails with ERROR_NOT_FOUND).
    bool CancelReads(HidFile& file, bool allThreads, ULONG_PTR status);
    // CancelIoEx: the read of that OVERLAPPED, whichever thread issued it. False when none is pending.
    bool CancelRead(HidFile& file, LPOVERLAPPED overlapped, ULONG_PTR status);
    void OnFileClosed(HidFile& file);
    bool Attributes(const HidFile& file, USHORT& vendorId, USHORT& productId, USHORT& version) const;
    PHIDP_PREPARSED_DATA CopyPreparsedData(const HidFile& file) const;

    // The device leaves (its lock held): it is no longer present and every pending read fails.
    void DisconnectLocked(HidDevice& device, DeferredSignals& signals);

private:
    HANDLE OpenLocked(HidDevice& device, const std::shared_ptr<DeviceInterface>& iface, DWORD access,
                      DWORD flags, DWORD& error);
    void DeliverLocked(DeviceInterface& iface, const uint8_t* report, size_t size, HidDevice& device,
                       DeferredSignals& signals);
    // Completes a read with status and, for a report, its bytes; its event goes to signals. Frees an
    // overlapped read.
    void CompleteLocked(PendingRead& read, ULONG_PTR status, const uint8_t* report, size_t size,
                        DeferredSignals& signals);
    bool CancelReadsLocked(HidFile& file, bool allThreads, ULONG_PTR status, DeferredSignals& signals);

    const DeviceList& m_devices;
};

} // namespace winport::devices
