#include "machine/DeviceBroadcast.h"

#include "src/user32/DeviceNotifications.h"

#include <dbt.h>

namespace winport::machine
{

void BroadcastInterfaceArrival(const GUID& interfaceClass, const char16_t* interfacePath)
{
    user32::DeviceNotifications::Instance().BroadcastInterface(interfaceClass, interfacePath,
                                                               DBT_DEVICEARRIVAL);
}

void BroadcastInterfaceRemoveComplete(const GUID& interfaceClass, const char16_t* interfacePath)
{
    user32::DeviceNotifications::Instance().BroadcastInterface(interfaceClass, interfacePath,
                                                               DBT_DEVICEREMOVECOMPLETE);
}

void BroadcastHandleEvent(HANDLE fileHandle, DWORD dbtEvent)
{
    user32::DeviceNotifications::Instance().BroadcastHandle(fileHandle, dbtEvent);
}

} // namespace winport::machine
