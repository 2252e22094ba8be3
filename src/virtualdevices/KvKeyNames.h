// Names of the virtual keyboard's keys: the DirectInput key code's constant name without its "DIK_" prefix
// (the primary name, not an alias). The names are constant text of the library, never freed.
#pragma once

#include <windows.h>

// The name of every code without one: 0, the codes above 0xED and the gaps of the table.
extern const WCHAR NO_KEY_NAME[];

// Constant time, no allocation, no shared state: callable from any thread at any time.
LPCWSTR GetVirtualKeyboardKeyName(DWORD keyCode);
