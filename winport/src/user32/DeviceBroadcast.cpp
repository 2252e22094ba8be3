#include "src/user32/DeviceBroadcast.h"

#include "src/user32/DeviceNotifications.h"

#include <dbt.h>

namespace winport::user32
{

void BroadcastInterfaceArrival(const GUID& interfaceClass, const char16_t* interfacePath)
{
    DeviceNotifications::Instance().BroadcastInterface(interfaceClass, interfacePath, DBT_DEVICEARRIVAL);
}

void BroadcastInterfaceRemoveComplete(const GUID& interfaceClass, const char16_t* interfacePath)
{
    DeviceNotifications::Instance().BroadcastInterface(interfaceClass, interfacePath,
                                                       DBT_DEVICEREMOVECOMPLETE);
}

void BroadcastHandleEvent(HANDLE fileHandle, DWORD dbtEvent)
{
    DeviceNotifications::Instance().BroadcastHandle(fileHandle, dbtEvent);
}

} // namespace winport::user32
