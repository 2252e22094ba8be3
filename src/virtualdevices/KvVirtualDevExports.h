// The virtual keyboard's and mouse's part of the exports: what an export does for VIRTUAL_KEYBOARD_ID and
// VIRTUAL_MOUSE_ID once it has taken (or, inside a callback, skipped) the call lock.
#pragma once

#include <windows.h>

#include "KvHidRaw.h"

inline bool IsVirtualDeviceId(uint32_t id)
{
    return id == VIRTUAL_KEYBOARD_ID || id == VIRTUAL_MOUSE_ID;
}

// 0 for the keyboard, 1 for the mouse.
inline DWORD VirtualDevIndex(uint32_t id)
{
    return id - VIRTUAL_KEYBOARD_ID;
}

// The library's constant name: "Virtual Keyboard" or "Virtual Mouse". Returns 0.
uint32_t GetVirtualDeviceName(uint32_t id, KvHRWChar** name);
// Stores the poll byte; starts the device's timer (87 when it cannot) or stops both devices' timers.
uint32_t SetVirtualDevPolling(uint32_t id, uint8_t poll);
