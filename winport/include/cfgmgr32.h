// <cfgmgr32.h> for the native build: devnode status and pending installations, with the names and
// values of the Windows SDK.
#pragma once

#include <windows.h>
