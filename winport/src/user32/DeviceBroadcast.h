// Device-change broadcasts: how the machine's devices tell windows about plugs and unplugs.
//
// Each function SENDS WM_DEVICECHANGE, as Windows does, to every window registered with
// RegisterDeviceNotificationW for the interface class (DBT_DEVTYP_DEVICEINTERFACE) or for the
// file handle (DBT_DEVTYP_HANDLE). The message is delivered on the window's own thread while it
// pumps (GetMessageW); the call returns only after every window procedure has returned, so the
// DEV_BROADCAST_* record passed in lParam is valid only during the call.
//
// Callable from any thread, including a window's own thread (then the window procedure runs
// directly). A window whose thread has ended or that is destroyed meanwhile is skipped; a send
// never waits forever for a thread that does not pump.
#pragma once

#include <windows.h>

namespace winport::user32
{

// wParam DBT_DEVICEARRIVAL, lParam a DEV_BROADCAST_DEVICEINTERFACE_W naming interfacePath.
void BroadcastInterfaceArrival(const GUID& interfaceClass, const char16_t* interfacePath);

// wParam DBT_DEVICEREMOVECOMPLETE, lParam a DEV_BROADCAST_DEVICEINTERFACE_W naming interfacePath.
void BroadcastInterfaceRemoveComplete(const GUID& interfaceClass, const char16_t* interfacePath);

// dbtEvent is any handle event (DBT_DEVICEQUERYREMOVE, DBT_DEVICEREMOVECOMPLETE, ...); lParam a
// DEV_BROADCAST_HANDLE whose dbch_handle is fileHandle and dbch_hdevnotify the registration.
void BroadcastHandleEvent(HANDLE fileHandle, DWORD dbtEvent);

} // namespace winport::user32
