#include "src/devices/DeviceReads.h"

#include "src/kernel32/Dispatcher.h"
#include "src/kernel32/HandleTable.h"
#include "src/kernel32/ThreadState.h"

#include <cfgmgr32.h>

#include <algorithm>
#include <cstring>

namespace winport::devices
{

namespace
{

bool SameText(const std::u16string& a, const char16_t* b)
{
    return _wcsicmp(a.c_str(), b) == 0;
}

} // namespace

bool DeviceReads::SendInputReport(uint32_t id, const uint8_t* data, size_t size)
{
    HidDevice* device = m_devices.Find(id);
    if (device == nullptr || size == 0)
        return false;
    auto route = device->inputRoutes.find(data[0]);
    if (route == device->inputRoutes.end() || size > route->second->inputLength ||
        route->second->inputLength > kMaxReportLength)
        return false;
    // Short reports are padded, as the device would send them.
    uint8_t padded[kMaxReportLength];
    std::memcpy(padded, data, size);
    std::memset(padded + size, 0, route->second->inputLength - size);
    DeferredSignals signals;
    std::lock_guard<std::mutex> guard(device->lock);
    if (!device->present)
        return false;
    ++device->stats.reportsSent;
    DeliverLocked(*route->second, padded, route->second->inputLength, *device, signals);
    return true;
}

void DeviceReads::DeliverLocked(DeviceInterface& iface, const uint8_t* report, size_t size, HidDevice& device,
                                DeferredSignals& signals)
{
    for (const auto& weak : iface.files)
    {
        auto file = weak.lock();
        if (!file || file->closed)
            continue;
        if (!file->pending.empty())
        {
            PendingRead* read = file->pending.front();
            file->pending.pop_front();
            CompleteLocked(*read, kStatusSuccess, report, size, signals);
            continue;
        }
        if (file->queue.size() == HidFile::kInputBuffers)
        {
            file->queue.pop_front();
            ++device.stats.reportsDropped;
        }
        file->queue.emplace_back(report, report + size);
    }
}

void DeviceReads::CompleteLocked(PendingRead& read, ULONG_PTR status, const uint8_t* report, size_t size,
                                 DeferredSignals& signals)
{
    DWORD bytes = static_cast<DWORD>(std::min<size_t>(size, read.size));
    if (report != nullptr)
        std::memcpy(read.buffer, report, bytes);
    read.bytes = bytes;
    read.status = status;
    if (read.overlapped != nullptr)
    {
        __atomic_store_n(&read.overlapped->InternalHigh, static_cast<ULONG_PTR>(bytes), __ATOMIC_RELAXED);
        __atomic_store_n(&read.overlapped->Internal, status, __ATOMIC_RELEASE);
    }
    // A synchronous read's owner may free it as soon as the event is set.
    signals.Add(std::move(read.event));
    if (read.heap)
        delete &read;
}

HANDLE DeviceReads::Open(const char16_t* path, DWORD access, DWORD flags, DWORD& error)
{
    error = ERROR_FILE_NOT_FOUND;
    if (path == nullptr)
        return nullptr;
    HANDLE handle = nullptr;
    m_devices.FindIf(
        [&](HidDevice& device)
        {
            for (const auto& iface : device.interfaces)
            {
                if (!SameText(iface->path, path))
                    continue;
                std::lock_guard<std::mutex> guard(device.lock);
                if (device.present)
                {
                    handle = OpenLocked(device, iface, access, flags, error);
                    return true;
                }
            }
            return false;
        });
    return handle;
}

HANDLE DeviceReads::OpenLocked(HidDevice& device, const std::shared_ptr<DeviceInterface>& iface, DWORD access,
                               DWORD flags, DWORD& error)
{
    if (device.openFailure != 0)
    {
        error = device.openFailure;
        return nullptr;
    }
    if (iface->systemOwned && (access & (GENERIC_READ | GENERIC_WRITE)) != 0)
    {
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    auto file = std::make_shared<HidFile>(iface, access, (flags & FILE_FLAG_OVERLAPPED) != 0);
    file->handle = kernel32::HandleTable::Instance().Insert(file);
    iface->files.push_back(file);
    ++device.stats.openHandles;
    error = ERROR_SUCCESS;
    return file->handle;
}

BOOL DeviceReads::Read(HidFile& file, LPVOID buffer, DWORD size, LPDWORD bytesRead, LPOVERLAPPED overlapped)
{
    using kernel32::ThreadState;
    std::shared_ptr<kernel32::Event> event;
    if (overlapped != nullptr && overlapped->hEvent != nullptr)
    {
        event = kernel32::HandleTable::Instance().LookupAs<kernel32::Event>(overlapped->hEvent);
        if (!event)
        {
            ThreadState::SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    PendingRead read;
    {
        DeferredSignals signals;
        std::lock_guard<std::mutex> guard(file.iface->device->lock);
        DWORD error = ERROR_SUCCESS;
        if (file.closed) // its handle was closed while this call was on its way
            error = ERROR_INVALID_HANDLE;
        else if ((file.access & GENERIC_READ) == 0)
            error = ERROR_ACCESS_DENIED;
        else if (!file.iface->present)
            error = ERROR_DEVICE_NOT_CONNECTED;
        else if (buffer == nullptr || size < file.iface->inputLength)
            error = ERROR_INVALID_USER_BUFFER;
        else if (file.overlapped && overlapped == nullptr)
            error = ERROR_INVALID_PARAMETER;
        if (error != ERROR_SUCCESS)
        {
            ThreadState::SetLastError(error);
            return FALSE;
        }
        if (event)
            event->Reset(); // as Windows does when it starts an overlapped I/O
        read.buffer = static_cast<BYTE*>(buffer);
        read.size = size;
        read.overlapped = overlapped;
        read.threadId = ThreadState::CurrentId();
        if (overlapped != nullptr)
            __atomic_store_n(&overlapped->Internal, kStatusPending, __ATOMIC_RELEASE);
        if (!file.queue.empty())
        {
            std::vector<uint8_t> report = std::move(file.queue.front());
            file.queue.pop_front();
            read.event = event;
            CompleteLocked(read, kStatusSuccess, report.data(), report.size(), signals);
            if (bytesRead != nullptr)
                *bytesRead = read.bytes;
            return TRUE;
        }
        if (file.overlapped)
        {
            auto* pending = new PendingRead(read);
            pending->event = event;
            pending->heap = true;
            file.pending.push_back(pending);
            if (bytesRead != nullptr)
                *bytesRead = 0;
            ThreadState::SetLastError(ERROR_IO_PENDING);
            return FALSE;
        }
        // A synchronous handle: wait, with no lock held, for a report or the end of the device.
        read.event = std::make_shared<kernel32::Event>(true, false);
        event = read.event;
        file.pending.push_back(&read);
    }
    kernel32::KernelObject* waitFor = event.get();
    kernel32::Dispatcher::Wait(&waitFor, 1, false, INFINITE);
    if (read.status != kStatusSuccess)
    {
        ThreadState::SetLastError(ErrorOfReadStatus(read.status));
        return FALSE;
    }
    if (bytesRead != nullptr)
        *bytesRead = read.bytes;
    return TRUE;
}

bool DeviceReads::CancelReads(HidFile& file, bool allThreads, ULONG_PTR status)
{
    DeferredSignals signals;
    std::lock_guard<std::mutex> guard(file.iface->device->lock);
    return CancelReadsLocked(file, allThreads, status, signals);
}

bool DeviceReads::CancelRead(HidFile& file, LPOVERLAPPED overlapped, ULONG_PTR status)
{
    DeferredSignals signals;
    std::lock_guard<std::mutex> guard(file.iface->device->lock);
    auto found =
        std::find_if(file.pending.begin(), file.pending.end(),
                     [overlapped](const PendingRead* read) { return read->overlapped == overlapped; });
    if (found == file.pending.end())
        return false;
    PendingRead* read = *found;
    file.pending.erase(found);
    CompleteLocked(*read, status, nullptr, 0, signals);
    return true;
}

bool DeviceReads::CancelReadsLocked(HidFile& file, bool allThreads, ULONG_PTR status,
                                    DeferredSignals& signals)
{
    DWORD self = kernel32::ThreadState::CurrentId();
    bool cancelled = false;
    for (auto it = file.pending.begin(); it != file.pending.end();)
    {
        PendingRead* read = *it;
        if (!allThreads && read->threadId != self)
        {
            ++it;
            continue;
        }
        it = file.pending.erase(it);
        CompleteLocked(*read, status, nullptr, 0, signals);
        cancelled = true;
    }
    return cancelled;
}

void DeviceReads::OnFileClosed(HidFile& file)
{
    // Closed and its reads completed in one step, so a read racing with the close cannot slip in
    // between. The status is the HID class driver's on cleanup (Wine's, which mirrors Windows).
    DeferredSignals signals;
    HidDevice& device = *file.iface->device;
    std::lock_guard<std::mutex> guard(device.lock);
    file.closed = true;
    CancelReadsLocked(file, true, kStatusDeletePending, signals);
    file.queue.clear();
    auto& files = file.iface->files;
    files.erase(std::remove_if(files.begin(), files.end(),
                               [&](const std::weak_ptr<HidFile>& weak)
                               {
                                   auto other = weak.lock();
                                   return !other || other.get() == &file;
                               }),
                files.end());
    --device.stats.openHandles;
}

bool DeviceReads::Attributes(const HidFile& file, USHORT& vendorId, USHORT& productId, USHORT& version) const
{
    HidDevice& device = *file.iface->device;
    std::lock_guard<std::mutex> guard(device.lock);
    if (!file.iface->present)
        return false;
    vendorId = device.description.vendorId;
    productId = device.description.productId;
    version = device.description.versionNumber;
    return true;
}

PHIDP_PREPARSED_DATA DeviceReads::CopyPreparsedData(const HidFile& file) const
{
    std::lock_guard<std::mutex> guard(file.iface->device->lock);
    if (!file.iface->present || file.iface->preparsed == nullptr)
        return nullptr;
    return WinportHidP_CopyPreparsedData(file.iface->preparsed);
}

void DeviceReads::DisconnectLocked(HidDevice& device, DeferredSignals& signals)
{
    device.present = false;
    device.installState = CM_INSTALL_STATE_INSTALLED;
    for (const auto& iface : device.interfaces)
    {
        iface->present = false;
        for (const auto& weak : iface->files)
        {
            auto file = weak.lock();
            if (!file)
                continue;
            file->queue.clear();
            CancelReadsLocked(*file, true, kStatusDeviceNotConnected, signals);
        }
    }
}

} // namespace winport::devices
