// SetupAPI over the machine's devices: device information sets, interface enumeration with the
// size-query protocol, registry properties and instance ids, with SetupAPI's last errors.
#include <setupapi.h>

#include "DeviceInfoSet.h"
#include "src/devices/SimulatedDevices.h"
#include "src/faults/FaultPlan.h"
#include "src/kernel32/HandleTable.h"

#include <cfgmgr32.h>

#include <cstddef>
#include <cstring>

using winport::devices::InterfaceRecord;
using winport::devices::kHidInterfaceClass;
using winport::devices::kHidSetupClass;
using winport::faults::FaultPlan;
using winport::faults::WinportCall;
using winport::kernel32::HandleTable;
using winport::setupapi::DeviceInfoSet;

namespace winport::setupapi
{

long DeviceInfoSet::IndexOf(ULONG_PTR tag) const
{
    ULONG_PTR index = tag & 0xFFFFF;
    if ((tag >> 20) != reinterpret_cast<ULONG_PTR>(handle) || index == 0 || index > records.size())
        return -1;
    return static_cast<long>(index - 1);
}

} // namespace winport::setupapi

namespace
{

constexpr DWORD kDetailHeader = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

std::shared_ptr<DeviceInfoSet> LookupSet(HDEVINFO set)
{
    return HandleTable::Instance().LookupAs<DeviceInfoSet>(set);
}

// The set element a device information record names, or null (ERROR_INVALID_PARAMETER).
const InterfaceRecord* ElementOf(const DeviceInfoSet& set, const SP_DEVINFO_DATA* data)
{
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA))
        return nullptr;
    long index = set.IndexOf(data->Reserved);
    return index < 0 ? nullptr : &set.records[static_cast<size_t>(index)];
}

void FillDevInfo(const DeviceInfoSet& set, size_t index, SP_DEVINFO_DATA& data)
{
    data.ClassGuid = kHidSetupClass;
    data.DevInst = set.records[index].devInst;
    data.Reserved = set.TagOf(index);
}

// A property's type and bytes; false when the device has no such property.
bool ReadProperty(const InterfaceRecord& record, DWORD property, DWORD& type, std::u16string& text,
                  DWORD& number)
{
    type = REG_SZ;
    switch (property)
    {
        case SPDRP_FRIENDLYNAME:
            if (!record.friendlyName)
                return false;
            text = *record.friendlyName;
            return true;
        case SPDRP_DEVICEDESC:
            if (!record.deviceDescription)
                return false;
            text = *record.deviceDescription;
            return true;
        case SPDRP_HARDWAREID:
            type = REG_MULTI_SZ;
            text = record.hardwareIds.substr(0, record.hardwareIds.size() - 1); // keeps one terminator
            return true;
        case SPDRP_CLASS:
            text = u"HIDClass";
            return true;
        case SPDRP_CLASSGUID:
            text = u"{745a17a0-74d3-11d0-b6fe-00a0c90f57da}";
            return true;
        case SPDRP_INSTALL_STATE:
            type = REG_DWORD;
            number = record.installState;
            return true;
        default:
            return false;
    }
}

} // namespace

extern "C" HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND, DWORD flags)
{
    if (classGuid == nullptr && (flags & DIGCF_ALLCLASSES) == 0)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (const DWORD fault = FaultPlan::Instance().Take(WinportCall::SetupDiGetClassDevsW))
    {
        SetLastError(fault);
        return INVALID_HANDLE_VALUE;
    }
    bool all = (flags & DIGCF_ALLCLASSES) != 0;
    const GUID& hidClass = (flags & DIGCF_DEVICEINTERFACE) ? kHidInterfaceClass : kHidSetupClass;
    bool hid = all || *classGuid == hidClass;
    bool enumeratorMatches = enumerator == nullptr || _wcsicmp(enumerator, u"HID") == 0;
    std::vector<InterfaceRecord> records;
    if (hid && enumeratorMatches)
        records = winport::devices::SimulatedDevices::Instance().PresentInterfaces();
    auto set = std::make_shared<DeviceInfoSet>(std::move(records));
    set->handle = HandleTable::Instance().Insert(set);
    SetLastError(ERROR_SUCCESS);
    return set->handle;
}

extern "C" BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO deviceInfoSet)
{
    if (!LookupSet(deviceInfoSet) || !HandleTable::Instance().Close(deviceInfoSet))
        return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

extern "C" BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                                   const GUID* interfaceClassGuid, DWORD memberIndex,
                                                   PSP_DEVICE_INTERFACE_DATA deviceInterfaceData)
{
    auto set = LookupSet(deviceInfoSet);
    if (!set)
        return Fail(ERROR_INVALID_HANDLE);
    if (deviceInterfaceData == nullptr || interfaceClassGuid == nullptr ||
        deviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return Fail(ERROR_INVALID_PARAMETER);
    size_t index = memberIndex;
    if (deviceInfoData != nullptr)
    {
        // Each device instance has exactly one interface.
        const InterfaceRecord* element = ElementOf(*set, deviceInfoData);
        if (element == nullptr)
            return Fail(ERROR_INVALID_PARAMETER);
        if (memberIndex > 0)
            return Fail(ERROR_NO_MORE_ITEMS);
        index = static_cast<size_t>(element - set->records.data());
    }
    if (*interfaceClassGuid != kHidInterfaceClass || index >= set->records.size())
        return Fail(ERROR_NO_MORE_ITEMS);
    deviceInterfaceData->InterfaceClassGuid = kHidInterfaceClass;
    deviceInterfaceData->Flags = SPINT_ACTIVE;
    deviceInterfaceData->Reserved = set->TagOf(index);
    return TRUE;
}

extern "C" BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(
    HDEVINFO deviceInfoSet, PSP_DEVICE_INTERFACE_DATA deviceInterfaceData,
    PSP_DEVICE_INTERFACE_DETAIL_DATA_W deviceInterfaceDetailData, DWORD deviceInterfaceDetailDataSize,
    PDWORD requiredSize, PSP_DEVINFO_DATA deviceInfoData)
{
    auto set = LookupSet(deviceInfoSet);
    if (!set)
        return Fail(ERROR_INVALID_HANDLE);
    long index = -1;
    if (deviceInterfaceData != nullptr && deviceInterfaceData->cbSize == sizeof(SP_DEVICE_INTERFACE_DATA))
        index = set->IndexOf(deviceInterfaceData->Reserved);
    if (index < 0)
        return Fail(ERROR_INVALID_PARAMETER);
    if (const DWORD fault = FaultPlan::Instance().Take(WinportCall::SetupDiGetDeviceInterfaceDetailW))
        return Fail(fault);
    // The size-query protocol: no buffer and size 0 asks for the size; a buffer must carry the
    // structure's own size in cbSize.
    if (deviceInterfaceDetailData == nullptr && deviceInterfaceDetailDataSize != 0)
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (deviceInterfaceDetailData != nullptr &&
        deviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (deviceInfoData != nullptr && deviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))
        return Fail(ERROR_INVALID_USER_BUFFER);
    const std::u16string& path = set->records[static_cast<size_t>(index)].path;
    DWORD needed = kDetailHeader + static_cast<DWORD>((path.size() + 1) * sizeof(WCHAR));
    if (requiredSize != nullptr)
        *requiredSize = needed;
    if (deviceInfoData != nullptr)
        FillDevInfo(*set, static_cast<size_t>(index), *deviceInfoData);
    if (deviceInterfaceDetailData == nullptr || deviceInterfaceDetailDataSize < needed)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(deviceInterfaceDetailData->DevicePath, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    return TRUE;
}

extern "C" BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO deviceInfoSet, DWORD memberIndex,
                                             PSP_DEVINFO_DATA deviceInfoData)
{
    auto set = LookupSet(deviceInfoSet);
    if (!set)
        return Fail(ERROR_INVALID_HANDLE);
    if (deviceInfoData == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (deviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (memberIndex >= set->records.size())
        return Fail(ERROR_NO_MORE_ITEMS);
    FillDevInfo(*set, memberIndex, *deviceInfoData);
    return TRUE;
}

extern "C" BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO deviceInfoSet,
                                                         PSP_DEVINFO_DATA deviceInfoData, DWORD property,
                                                         PDWORD propertyRegDataType, PBYTE propertyBuffer,
                                                         DWORD propertyBufferSize, PDWORD requiredSize)
{
    auto set = LookupSet(deviceInfoSet);
    if (!set)
        return Fail(ERROR_INVALID_HANDLE);
    const InterfaceRecord* element = ElementOf(*set, deviceInfoData);
    if (element == nullptr || (propertyBuffer == nullptr && propertyBufferSize != 0))
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD type = REG_NONE, number = 0;
    std::u16string text;
    if (!ReadProperty(*element, property, type, text, number))
        return Fail(ERROR_INVALID_DATA);
    const void* bytes = type == REG_DWORD ? static_cast<const void*>(&number) : text.c_str();
    DWORD size = type == REG_DWORD ? sizeof(DWORD) : static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
    if (propertyRegDataType != nullptr)
        *propertyRegDataType = type;
    if (requiredSize != nullptr)
        *requiredSize = size;
    if (propertyBufferSize < size)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(propertyBuffer, bytes, size);
    return TRUE;
}

extern "C" BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                                   PWSTR deviceInstanceId, DWORD deviceInstanceIdSize,
                                                   PDWORD requiredSize)
{
    auto set = LookupSet(deviceInfoSet);
    if (!set)
        return Fail(ERROR_INVALID_HANDLE);
    const InterfaceRecord* element = ElementOf(*set, deviceInfoData);
    if (element == nullptr || (deviceInstanceId == nullptr && deviceInstanceIdSize != 0))
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD needed = static_cast<DWORD>(element->instanceId.size() + 1);
    if (requiredSize != nullptr)
        *requiredSize = needed;
    if (deviceInstanceIdSize < needed)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(deviceInstanceId, element->instanceId.c_str(), needed * sizeof(WCHAR));
    return TRUE;
}
