// A file handle open on a device interface: its access, its queue of input reports (bounded like the
// HID class driver's ring, dropping the oldest report when full) and its pending reads. All state is
// guarded by its device's lock.
#pragma once

#include "src/kernel32/Event.h"
#include "src/kernel32/KernelObject.h"

#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <vector>

namespace winport::devices
{

class DeviceInterface;

// NTSTATUS values a read completes with, as OVERLAPPED.Internal holds them.
constexpr ULONG_PTR kStatusSuccess = 0;
constexpr ULONG_PTR kStatusPending = 0x103;
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;
constexpr ULONG_PTR kStatusDeviceNotConnected = 0xC000009D;
constexpr ULONG_PTR kStatusDeletePending = 0xC0000056; // a read whose handle was closed

// The last error a read completed with status reports.
inline DWORD ErrorOfReadStatus(ULONG_PTR status)
{
    switch (status)
    {
        case kStatusCancelled:
            return ERROR_OPERATION_ABORTED;
        case kStatusDeviceNotConnected:
            return ERROR_DEVICE_NOT_CONNECTED;
        case kStatusDeletePending:
            return ERROR_ACCESS_DENIED;
        default:
            return ERROR_GEN_FAILURE;
    }
}

struct PendingRead
{
    BYTE* buffer = nullptr;
    DWORD size = 0;
    LPOVERLAPPED overlapped = nullptr;      // null for a synchronous read
    std::shared_ptr<kernel32::Event> event; // set on completion (the OVERLAPPED's, or a private one)
    DWORD threadId = 0;                     // CancelIo cancels only the calling thread's reads
    ULONG_PTR status = kStatusPending;
    DWORD bytes = 0;
    bool heap = false; // an overlapped read, freed by its completion
};

class HidFile : public kernel32::KernelObject
{
public:
    static constexpr size_t kInputBuffers = 32; // the HID class driver's default ring size

    HidFile(std::shared_ptr<DeviceInterface> iface, DWORD access, bool overlapped)
        : iface(std::move(iface)), access(access), overlapped(overlapped)
    {
    }

    // Frees overlapped reads still pending when the process ends with the handle open.
    ~HidFile() override;

    const char* KindName() const override { return "file"; }
    void OnLastHandleClosed() override;

    const std::shared_ptr<DeviceInterface> iface;
    const DWORD access;
    const bool overlapped;
    HANDLE handle = nullptr; // the handle CreateFileW returned; device-change broadcasts name it

    // Guarded by the device's lock.
    std::deque<std::vector<uint8_t>> queue;
    std::list<PendingRead*> pending;
    bool closed = false;
};

} // namespace winport::devices
