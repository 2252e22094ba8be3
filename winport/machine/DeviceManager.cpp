#include "machine/DeviceManager.h"

#include "machine/DeviceBroadcast.h"
#include "src/kernel32/Dispatcher.h"
#include "src/kernel32/HandleTable.h"
#include "src/kernel32/ThreadState.h"

#include <cfgmgr32.h>
#include <dbt.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace winport::machine
{

const GUID kHidInterfaceClass = {
    0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
const GUID kHidSetupClass = {0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};

namespace
{

constexpr ULONG kStartedStatus =
    DN_DRIVER_LOADED | DN_STARTED | DN_DISABLEABLE | DN_REMOVABLE | DN_NT_ENUMERATOR | DN_NT_DRIVER;
constexpr ULONG kInstallingStatus = DN_DISABLEABLE | DN_REMOVABLE | DN_NT_ENUMERATOR;

std::u16string Widen(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

std::string Format(const char* format, unsigned a, unsigned b)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, a, b);
    return buffer;
}

bool IsSystemOwned(USHORT usagePage, USHORT usage)
{
    // Generic Desktop mouse, keyboard and keypad: the system opens them for itself.
    return usagePage == 0x01 && (usage == 0x02 || usage == 0x06 || usage == 0x07);
}

bool SameText(const std::u16string& a, const char16_t* b)
{
    return _wcsicmp(a.c_str(), b) == 0;
}

} // namespace

DeviceInterface::~DeviceInterface()
{
    if (preparsed != nullptr)
        KvHidP_FreePreparsedData(preparsed);
}

std::string DeviceManager::MakeInstanceKey()
{
    nextKey_ = nextKey_ * 1103515245u + 12345u;
    return Format("%08x", nextKey_, 0);
}

bool DeviceManager::BuildInterfaces(HidDevice& device)
{
    HIDP_DEVICE_DESC desc{};
    auto& bytes = device.spec.reportDescriptor;
    if (HidP_GetCollectionDescription(bytes.data(), static_cast<ULONG>(bytes.size()), NonPagedPool, &desc) !=
            HIDP_STATUS_SUCCESS ||
        desc.CollectionDescLength == 0)
        return false;
    std::string key = device.spec.instanceKey.empty() ? MakeInstanceKey() : device.spec.instanceKey;
    std::string ids = Format("vid_%04x&pid_%04x", device.spec.vendorId, device.spec.productId);
    bool several = desc.CollectionDescLength > 1;
    for (ULONG i = 0; i < desc.CollectionDescLength; ++i)
    {
        const HIDP_COLLECTION_DESC& col = desc.CollectionDesc[i];
        auto iface = std::make_shared<DeviceInterface>();
        iface->device = &device;
        std::string hwPart = ids + (several ? Format("&col%02x", col.CollectionNumber, 0) : "");
        std::string instancePart = "7&" + key + "&0&" + Format("%04x", i, 0);
        iface->path =
            Widen("\\\\?\\hid#" + hwPart + "#" + instancePart + "#{4d1e55b2-f16f-11cf-88cb-001111000030}");
        std::u16string instance = Widen("HID\\" + hwPart + "\\" + instancePart);
        iface->instanceId = _wcsupr(&instance[0]);
        iface->devInst = nextDevInst_++;
        iface->usagePage = col.UsagePage;
        iface->usage = col.Usage;
        iface->inputLength = col.InputLength;
        iface->preparsed = KvHidP_CopyPreparsedData(col.PreparsedData);
        iface->systemOwned = IsSystemOwned(col.UsagePage, col.Usage);
        device.interfaces.push_back(iface);
    }
    for (ULONG i = 0; i < desc.ReportIDsLength; ++i)
    {
        const HIDP_REPORT_IDS& route = desc.ReportIDs[i];
        if (route.InputLength > 0 && route.CollectionNumber >= 1 &&
            route.CollectionNumber <= device.interfaces.size())
            device.inputRoutes[route.ReportID] = device.interfaces[route.CollectionNumber - 1].get();
    }
    HidP_FreeCollectionDescription(&desc);
    return true;
}

uint32_t DeviceManager::Plug(const HidDeviceSpec& spec)
{
    std::vector<std::u16string> arrived;
    uint32_t id = 0;
    {
        std::unique_lock<std::shared_mutex> guard(listLock_);
        auto device = std::make_unique<HidDevice>();
        device->spec = spec;
        if (!BuildInterfaces(*device))
            return 0;
        device->id = id = static_cast<uint32_t>(devices_.size() + 1);
        device->installState =
            spec.installPending ? CM_INSTALL_STATE_FINISH_INSTALL : CM_INSTALL_STATE_INSTALLED;
        device->devNodeStatus = spec.installPending ? kInstallingStatus : kStartedStatus;
        for (const auto& iface : device->interfaces)
            arrived.push_back(iface->path);
        devices_.push_back(std::move(device));
    }
    for (const auto& path : arrived)
        BroadcastInterfaceArrival(kHidInterfaceClass, path.c_str());
    return id;
}

HidDevice* DeviceManager::FindLocked(uint32_t id) const
{
    // Ids are given in plug order from 1 and devices are never taken out of the list.
    if (id == 0 || id > devices_.size())
        return nullptr;
    return devices_[id - 1].get();
}

void DeviceManager::NotifyInstallChange()
{
    // Taking the lock orders this after any waiter's check of the states.
    std::lock_guard<std::mutex> guard(installLock_);
    installsDone_.notify_all();
}

std::vector<HANDLE> DeviceManager::OpenHandlesLocked(const HidDevice& device) const
{
    std::vector<HANDLE> handles;
    for (const auto& iface : device.interfaces)
        for (const auto& weak : iface->files)
            if (auto file = weak.lock(); file && !file->closed)
                handles.push_back(file->handle);
    return handles;
}

void DeviceManager::DisconnectLocked(HidDevice& device, DeferredSignals& signals)
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

bool DeviceManager::Unplug(uint32_t id, Removal how)
{
    std::vector<HANDLE> handles;
    std::vector<std::u16string> paths;
    HidDevice* device = nullptr;
    {
        std::shared_lock<std::shared_mutex> list(listLock_);
        device = FindLocked(id);
    }
    if (device == nullptr)
        return false;
    for (const auto& iface : device->interfaces)
        paths.push_back(iface->path);
    {
        DeferredSignals signals;
        std::lock_guard<std::mutex> guard(device->lock);
        if (!device->present)
            return false;
        handles = OpenHandlesLocked(*device);
        if (how == Removal::Surprise)
            DisconnectLocked(*device, signals);
    }
    if (how == Removal::Orderly)
    {
        for (HANDLE handle : handles)
            BroadcastHandleEvent(handle, DBT_DEVICEQUERYREMOVE);
        for (HANDLE handle : handles)
            BroadcastHandleEvent(handle, DBT_DEVICEREMOVEPENDING);
        DeferredSignals signals;
        std::lock_guard<std::mutex> guard(device->lock);
        handles = OpenHandlesLocked(*device); // the query may have closed some
        DisconnectLocked(*device, signals);
    }
    NotifyInstallChange();
    for (HANDLE handle : handles)
        BroadcastHandleEvent(handle, DBT_DEVICEREMOVECOMPLETE);
    for (const auto& path : paths)
        BroadcastInterfaceRemoveComplete(kHidInterfaceClass, path.c_str());
    return true;
}

bool DeviceManager::SendInputReport(uint32_t id, const uint8_t* data, size_t size)
{
    HidDevice* device = nullptr;
    {
        std::shared_lock<std::shared_mutex> list(listLock_);
        device = FindLocked(id);
    }
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

void DeviceManager::DeliverLocked(DeviceInterface& iface, const uint8_t* report, size_t size,
                                  HidDevice& device, DeferredSignals& signals)
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

void DeviceManager::CompleteLocked(PendingRead& read, ULONG_PTR status, const uint8_t* report, size_t size,
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

HANDLE DeviceManager::Open(const char16_t* path, DWORD access, DWORD flags, DWORD& error)
{
    error = ERROR_FILE_NOT_FOUND;
    if (path == nullptr)
        return nullptr;
    std::shared_lock<std::shared_mutex> list(listLock_);
    for (const auto& device : devices_)
    {
        for (const auto& iface : device->interfaces)
        {
            if (!SameText(iface->path, path))
                continue;
            std::lock_guard<std::mutex> guard(device->lock);
            if (!device->present)
                continue;
            if (device->openFailure != 0)
            {
                error = device->openFailure;
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
            ++device->stats.openHandles;
            error = ERROR_SUCCESS;
            return file->handle;
        }
    }
    return nullptr;
}

BOOL DeviceManager::Read(HidFile& file, LPVOID buffer, DWORD size, LPDWORD bytesRead, LPOVERLAPPED overlapped)
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

void DeviceManager::CancelReads(HidFile& file, bool allThreads, ULONG_PTR status)
{
    DeferredSignals signals;
    std::lock_guard<std::mutex> guard(file.iface->device->lock);
    CancelReadsLocked(file, allThreads, status, signals);
}

void DeviceManager::CancelReadsLocked(HidFile& file, bool allThreads, ULONG_PTR status,
                                      DeferredSignals& signals)
{
    DWORD self = kernel32::ThreadState::CurrentId();
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
    }
}

void DeviceManager::OnFileClosed(HidFile& file)
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

bool DeviceManager::Attributes(const HidFile& file, USHORT& vendorId, USHORT& productId,
                               USHORT& version) const
{
    HidDevice& device = *file.iface->device;
    std::lock_guard<std::mutex> guard(device.lock);
    if (!file.iface->present)
        return false;
    vendorId = device.spec.vendorId;
    productId = device.spec.productId;
    version = device.spec.versionNumber;
    return true;
}

PHIDP_PREPARSED_DATA DeviceManager::CopyPreparsedData(const HidFile& file) const
{
    std::lock_guard<std::mutex> guard(file.iface->device->lock);
    if (!file.iface->present || file.iface->preparsed == nullptr)
        return nullptr;
    return KvHidP_CopyPreparsedData(file.iface->preparsed);
}

std::vector<InterfaceRecord> DeviceManager::PresentInterfaces() const
{
    std::shared_lock<std::shared_mutex> list(listLock_);
    std::vector<InterfaceRecord> records;
    for (const auto& device : devices_)
    {
        std::lock_guard<std::mutex> guard(device->lock);
        if (!device->present)
            continue;
        for (const auto& iface : device->interfaces)
        {
            InterfaceRecord record;
            record.path = iface->path;
            record.instanceId = iface->instanceId;
            record.devInst = iface->devInst;
            record.friendlyName = device->spec.friendlyName;
            record.deviceDescription = device->spec.deviceDescription;
            auto cut = iface->instanceId.rfind(u'\\');
            record.hardwareIds = iface->instanceId.substr(0, cut) + u'\0' + u'\0';
            record.installState = device->installState;
            records.push_back(std::move(record));
        }
    }
    return records;
}

DWORD DeviceManager::DevNodeStatus(DWORD devInst, ULONG& status, ULONG& problem) const
{
    std::shared_lock<std::shared_mutex> list(listLock_);
    for (const auto& device : devices_)
        for (const auto& iface : device->interfaces)
            if (iface->devInst == devInst)
            {
                std::lock_guard<std::mutex> guard(device->lock);
                if (!device->present)
                    return CR_NO_SUCH_DEVINST;
                status = device->devNodeStatus;
                problem = device->problem;
                return CR_SUCCESS;
            }
    return CR_INVALID_DEVINST;
}

namespace
{

// Runs change on the present device with that id under its lock; false when there is none.
template <typename Change> bool ChangeDevice(HidDevice* device, Change change)
{
    if (device == nullptr)
        return false;
    std::lock_guard<std::mutex> guard(device->lock);
    if (!device->present)
        return false;
    change(*device);
    return true;
}

} // namespace

bool DeviceManager::StartInstall(uint32_t id)
{
    std::shared_lock<std::shared_mutex> list(listLock_);
    return ChangeDevice(FindLocked(id),
                        [](HidDevice& device)
                        {
                            device.installState = CM_INSTALL_STATE_FINISH_INSTALL;
                            device.devNodeStatus = kInstallingStatus;
                            device.problem = 0;
                        });
}

bool DeviceManager::FinishInstall(uint32_t id, bool success)
{
    bool changed = false;
    {
        std::shared_lock<std::shared_mutex> list(listLock_);
        changed = ChangeDevice(FindLocked(id),
                               [success](HidDevice& device)
                               {
                                   device.installState =
                                       success ? CM_INSTALL_STATE_INSTALLED : CM_INSTALL_STATE_FAILED_INSTALL;
                                   device.devNodeStatus =
                                       success ? kStartedStatus : (kInstallingStatus | DN_HAS_PROBLEM);
                                   device.problem = success ? 0 : CM_PROB_FAILED_INSTALL;
                               });
    }
    if (changed)
        NotifyInstallChange();
    return changed;
}

bool DeviceManager::SetDevNodeStatus(uint32_t id, ULONG status, ULONG problem)
{
    std::shared_lock<std::shared_mutex> list(listLock_);
    return ChangeDevice(FindLocked(id),
                        [=](HidDevice& device)
                        {
                            device.devNodeStatus = status;
                            device.problem = problem;
                        });
}

bool DeviceManager::SetOpenFailure(uint32_t id, DWORD error)
{
    std::shared_lock<std::shared_mutex> list(listLock_);
    return ChangeDevice(FindLocked(id), [=](HidDevice& device) { device.openFailure = error; });
}

std::vector<std::u16string> DeviceManager::InterfacePaths(uint32_t id) const
{
    std::shared_lock<std::shared_mutex> list(listLock_);
    std::vector<std::u16string> paths;
    if (HidDevice* device = FindLocked(id))
        for (const auto& iface : device->interfaces)
            paths.push_back(iface->path);
    return paths;
}

DeviceStats DeviceManager::Stats(uint32_t id) const
{
    std::shared_lock<std::shared_mutex> list(listLock_);
    HidDevice* device = FindLocked(id);
    if (device == nullptr)
        return DeviceStats{};
    std::lock_guard<std::mutex> guard(device->lock);
    return device->stats;
}

int DeviceManager::PendingInstalls() const
{
    std::shared_lock<std::shared_mutex> list(listLock_);
    int pending = 0;
    for (const auto& device : devices_)
    {
        std::lock_guard<std::mutex> guard(device->lock);
        pending += device->present && device->installState == CM_INSTALL_STATE_FINISH_INSTALL;
    }
    return pending;
}

DWORD DeviceManager::WaitNoPendingInstalls(DWORD timeoutMs)
{
    auto none = [this] { return PendingInstalls() == 0; };
    std::unique_lock<std::mutex> guard(installLock_);
    if (timeoutMs == INFINITE)
    {
        installsDone_.wait(guard, none);
        return WAIT_OBJECT_0;
    }
    return installsDone_.wait_for(guard, std::chrono::milliseconds(timeoutMs), none) ? WAIT_OBJECT_0
                                                                                     : WAIT_TIMEOUT;
}

} // namespace winport::machine
