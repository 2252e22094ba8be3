// <setupapi.h> for the native build: device information sets and device interfaces, with the
// names, layouts and values of the Windows SDK.
#pragma once

#include <windows.h>
