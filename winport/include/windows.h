// <windows.h> for the native build: the slice of the Windows API that KvHidRaw uses,
// with the names, signatures and constants of the Windows SDK.
#pragma once

#include "winport/basetypes.h"
#include "winerror.h"
#include "winport/kernel32.h"
#include "winport/wcrt.h"
#include "winuser.h"
#include "winreg.h"
#include "securitybaseapi.h"
