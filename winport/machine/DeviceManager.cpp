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
        std::lock_guard<std::mutex> guard(lock_);
        auto device = std::make_unique<HidDevice>();
        device->spec = spec;
        if (!BuildInterfaces(*device))
            return 0;
        device->id = id = nextId_++;
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
    for (const auto& device : devices_)
        if (device->id == id && device->present)
            return device.get();
    return nullptr;
}

DeviceInterface* DeviceManager::FindInterfaceLocked(const char16_t* path) const
{
    for (const auto& device : devices_)
        if (device->present)
            for (const auto& iface : device->interfaces)
                if (SameText(iface->path, path))
                    return iface.get();
    return nullptr;
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

void DeviceManager::DisconnectLocked(HidDevice& device)
{
    device.present = false;
    bool wasInstalling = device.installState != CM_INSTALL_STATE_INSTALLED;
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
            while (!file->pending.empty())
            {
                PendingRead* read = file->pending.front();
                file->pending.pop_front();
                CompleteLocked(*read, kStatusDeviceNotConnected, nullptr, 0);
            }
        }
    }
    if (wasInstalling)
        installsDone_.notify_all();
}

bool DeviceManager::Unplug(uint32_t id, Removal how)
{
    std::vector<HANDLE> handles;
    std::vector<std::u16string> paths;
    {
        std::lock_guard<std::mutex> guard(lock_);
        HidDevice* device = FindLocked(id);
        if (device == nullptr)
            return false;
        handles = OpenHandlesLocked(*device);
        for (const auto& iface : device->interfaces)
            paths.push_back(iface->path);
        if (how == Removal::Surprise)
            DisconnectLocked(*device);
    }
    if (how == Removal::Orderly)
    {
        for (HANDLE handle : handles)
            BroadcastHandleEvent(handle, DBT_DEVICEQUERYREMOVE);
        for (HANDLE handle : handles)
            BroadcastHandleEvent(handle, DBT_DEVICEREMOVEPENDING);
        std::lock_guard<std::mutex> guard(lock_);
        if (HidDevice* device = FindLocked(id))
        {
            handles = OpenHandlesLocked(*device); // the query may have closed some
            DisconnectLocked(*device);
        }
    }
    for (HANDLE handle : handles)
        BroadcastHandleEvent(handle, DBT_DEVICEREMOVECOMPLETE);
    for (const auto& path : paths)
        BroadcastInterfaceRemoveComplete(kHidInterfaceClass, path.c_str());
    return true;
}

bool DeviceManager::SendInputReport(uint32_t id, const uint8_t* data, size_t size)
{
    std::lock_guard<std::mutex> guard(lock_);
    HidDevice* device = FindLocked(id);
    if (device == nullptr || size == 0)
        return false;
    auto route = device->inputRoutes.find(data[0]);
    if (route == device->inputRoutes.end() || size > route->second->inputLength ||
        route->second->inputLength > kMaxReportLength)
        return false;
    // Short reports are padded, as the device would send them.
    uint8_t padded[kMaxReportLength] = {};
    std::memcpy(padded, data, size);
    ++device->stats.reportsSent;
    DeliverLocked(*route->second, padded, route->second->inputLength, *device);
    return true;
}

void DeviceManager::DeliverLocked(DeviceInterface& iface, const uint8_t* report, size_t size,
                                  HidDevice& device)
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
            CompleteLocked(*read, kStatusSuccess, report, size);
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

void DeviceManager::CompleteLocked(PendingRead& read, ULONG_PTR status, const uint8_t* report, size_t size)
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
    auto event = std::move(read.event);
    bool heap = read.heap;
    if (event)
        event->Set();
    if (heap)
        delete &read;
}

HANDLE DeviceManager::Open(const char16_t* path, DWORD access, DWORD flags, DWORD& error)
{
    std::lock_guard<std::mutex> guard(lock_);
    DeviceInterface* iface = path ? FindInterfaceLocked(path) : nullptr;
    if (iface == nullptr)
    {
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    if (iface->device->openFailure != 0)
    {
        error = iface->device->openFailure;
        return nullptr;
    }
    if (iface->systemOwned && (access & (GENERIC_READ | GENERIC_WRITE)) != 0)
    {
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    std::shared_ptr<DeviceInterface> shared;
    for (const auto& candidate : iface->device->interfaces)
        if (candidate.get() == iface)
            shared = candidate;
    auto file = std::make_shared<HidFile>(shared, access, (flags & FILE_FLAG_OVERLAPPED) != 0);
    file->handle = kernel32::HandleTable::Instance().Insert(file);
    iface->files.push_back(file);
    ++iface->device->stats.openHandles;
    return file->handle;
}

BOOL DeviceManager::Read(HidFile& file, LPVOID buffer, DWORD size, LPDWORD bytesRead, LPOVERLAPPED overlapped)
{
    using kernel32::ThreadState;
    std::shared_ptr<kernel32::Event> event;
    PendingRead read;
    {
        std::lock_guard<std::mutex> guard(lock_);
        DWORD error = ERROR_SUCCESS;
        if ((file.access & GENERIC_READ) == 0)
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
        if (overlapped != nullptr && overlapped->hEvent != nullptr)
        {
            event = kernel32::HandleTable::Instance().LookupAs<kernel32::Event>(overlapped->hEvent);
            if (!event)
            {
                ThreadState::SetLastError(ERROR_INVALID_HANDLE);
                return FALSE;
            }
            event->Reset(); // as Windows does when it starts an overlapped I/O
        }
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
            CompleteLocked(read, kStatusSuccess, report.data(), report.size());
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
    kernel32::Dispatcher::Wait({event}, false, INFINITE);
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
    std::lock_guard<std::mutex> guard(lock_);
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
        CompleteLocked(*read, status, nullptr, 0);
    }
}

void DeviceManager::OnFileClosed(HidFile& file)
{
    // As the HID class driver does on cleanup (Wine's, which mirrors Windows, answers the same).
    CancelReads(file, true, kStatusDeletePending);
    std::lock_guard<std::mutex> guard(lock_);
    file.closed = true;
    file.queue.clear();
    auto& files = file.iface->files;
    files.erase(std::remove_if(files.begin(), files.end(),
                               [&](const std::weak_ptr<HidFile>& weak)
                               {
                                   auto other = weak.lock();
                                   return !other || other.get() == &file;
                               }),
                files.end());
    --file.iface->device->stats.openHandles;
}

bool DeviceManager::Attributes(const HidFile& file, USHORT& vendorId, USHORT& productId,
                               USHORT& version) const
{
    std::lock_guard<std::mutex> guard(lock_);
    if (!file.iface->present)
        return false;
    const HidDeviceSpec& spec = file.iface->device->spec;
    vendorId = spec.vendorId;
    productId = spec.productId;
    version = spec.versionNumber;
    return true;
}

PHIDP_PREPARSED_DATA DeviceManager::CopyPreparsedData(const HidFile& file) const
{
    std::lock_guard<std::mutex> guard(lock_);
    if (!file.iface->present || file.iface->preparsed == nullptr)
        return nullptr;
    return KvHidP_CopyPreparsedData(file.iface->preparsed);
}

std::vector<InterfaceRecord> DeviceManager::PresentInterfaces() const
{
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<InterfaceRecord> records;
    for (const auto& device : devices_)
    {
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
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& device : devices_)
        for (const auto& iface : device->interfaces)
            if (iface->devInst == devInst)
            {
                if (!device->present)
                    return CR_NO_SUCH_DEVINST;
                status = device->devNodeStatus;
                problem = device->problem;
                return CR_SUCCESS;
            }
    return CR_INVALID_DEVINST;
}

bool DeviceManager::StartInstall(uint32_t id)
{
    std::lock_guard<std::mutex> guard(lock_);
    HidDevice* device = FindLocked(id);
    if (device == nullptr)
        return false;
    device->installState = CM_INSTALL_STATE_FINISH_INSTALL;
    device->devNodeStatus = kInstallingStatus;
    device->problem = 0;
    return true;
}

bool DeviceManager::FinishInstall(uint32_t id, bool success)
{
    std::lock_guard<std::mutex> guard(lock_);
    HidDevice* device = FindLocked(id);
    if (device == nullptr)
        return false;
    device->installState = success ? CM_INSTALL_STATE_INSTALLED : CM_INSTALL_STATE_FAILED_INSTALL;
    device->devNodeStatus = success ? kStartedStatus : (kInstallingStatus | DN_HAS_PROBLEM);
    device->problem = success ? 0 : CM_PROB_FAILED_INSTALL;
    installsDone_.notify_all();
    return true;
}

bool DeviceManager::SetDevNodeStatus(uint32_t id, ULONG status, ULONG problem)
{
    std::lock_guard<std::mutex> guard(lock_);
    HidDevice* device = FindLocked(id);
    if (device == nullptr)
        return false;
    device->devNodeStatus = status;
    device->problem = problem;
    return true;
}

bool DeviceManager::SetOpenFailure(uint32_t id, DWORD error)
{
    std::lock_guard<std::mutex> guard(lock_);
    HidDevice* device = FindLocked(id);
    if (device == nullptr)
        return false;
    device->openFailure = error;
    return true;
}

std::vector<std::u16string> DeviceManager::InterfacePaths(uint32_t id) const
{
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::u16string> paths;
    for (const auto& device : devices_)
        if (device->id == id)
            for (const auto& iface : device->interfaces)
                paths.push_back(iface->path);
    return paths;
}

DeviceStats DeviceManager::Stats(uint32_t id) const
{
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& device : devices_)
        if (device->id == id)
            return device->stats;
    return DeviceStats{};
}

int DeviceManager::PendingInstalls() const
{
    std::lock_guard<std::mutex> guard(lock_);
    int pending = 0;
    for (const auto& device : devices_)
        pending += device->present && device->installState == CM_INSTALL_STATE_FINISH_INSTALL;
    return pending;
}

DWORD DeviceManager::WaitNoPendingInstalls(DWORD timeoutMs)
{
    auto none = [this]
    {
        for (const auto& device : devices_)
            if (device->present && device->installState == CM_INSTALL_STATE_FINISH_INSTALL)
                return false;
        return true;
    };
    std::unique_lock<std::mutex> guard(lock_);
    if (timeoutMs == INFINITE)
    {
        installsDone_.wait(guard, none);
        return WAIT_OBJECT_0;
    }
    return installsDone_.wait_for(guard, std::chrono::milliseconds(timeoutMs), none) ? WAIT_OBJECT_0
                                                                                     : WAIT_TIMEOUT;
}

} // namespace winport::machine
