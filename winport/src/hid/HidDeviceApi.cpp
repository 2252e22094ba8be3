// hid.dll's device functions over the machine's devices. They work on handles opened with any
// access, as on Windows (a keyboard opened with no access answers them).
#include <hidsdi.h>

#include "src/devices/DeviceInterface.h"
#include "src/devices/HidDevice.h"
#include "src/devices/SimulatedDevices.h"
#include "src/faults/FaultPlan.h"
#include "src/kernel32/HandleTable.h"

using winport::devices::HidFile;
using winport::devices::SimulatedDevices;
using winport::faults::FaultPlan;
using winport::faults::WinportCall;
using winport::kernel32::HandleTable;

extern "C" BOOLEAN NTAPI HidD_GetAttributes(HANDLE hidDeviceObject, PHIDD_ATTRIBUTES attributes)
{
    auto file = HandleTable::Instance().LookupAs<HidFile>(hidDeviceObject);
    if (!file)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (attributes == nullptr)
    {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if (const DWORD fault = FaultPlan::Instance().Take(WinportCall::HidD_GetAttributes, file->iface->device->id))
    {
        SetLastError(fault);
        return FALSE;
    }
    USHORT vendor = 0, product = 0, version = 0;
    if (!SimulatedDevices::Instance().Reads().Attributes(*file, vendor, product, version))
    {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    attributes->Size = sizeof(HIDD_ATTRIBUTES);
    attributes->VendorID = vendor;
    attributes->ProductID = product;
    attributes->VersionNumber = version;
    return TRUE;
}

extern "C" BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE hidDeviceObject, PHIDP_PREPARSED_DATA* preparsedData)
{
    auto file = HandleTable::Instance().LookupAs<HidFile>(hidDeviceObject);
    if (!file)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (preparsedData == nullptr)
    {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    const uint32_t deviceId = file->iface->device->id;
    if (const DWORD fault = FaultPlan::Instance().Take(WinportCall::HidD_GetPreparsedData, deviceId))
    {
        SetLastError(fault);
        return FALSE;
    }
    PHIDP_PREPARSED_DATA copy = SimulatedDevices::Instance().Reads().CopyPreparsedData(*file);
    if (copy == nullptr)
    {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    FaultPlan::Instance().NotePreparsed(copy, deviceId);
    *preparsedData = copy;
    return TRUE;
}

extern "C" BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData)
{
    if (!WinportHidP_FreePreparsedData(preparsedData))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FaultPlan::Instance().ForgetPreparsed(preparsedData);
    return TRUE;
}
