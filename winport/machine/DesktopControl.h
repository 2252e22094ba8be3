// Control API of the machine's desktop side: registry contents, the console user, the keyboard
// and mouse that DirectInput reads, game controllers that DirectInput lists, how long a
// device-change message may wait for a window, and a report of what is still open.
//
// Plain C++, callable from any thread. A fresh machine (each test process starts with one) has a
// keyboard and a five-button mouse, the user "User" logged on at the console (session 1), an empty
// registry (no joystick OEM key anywhere) and no game controller (no HID device is plugged). The process
// itself runs as the service account "SYSTEM", whose hive is HKEY_CURRENT_USER until a thread impersonates
// someone.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

namespace winport::machine
{

// Where a registry value lives: HKEY_LOCAL_MACHINE, the process's own user hive (what
// HKEY_CURRENT_USER names without impersonation), or the hive of the console user now logged on.
enum class Hive
{
    LocalMachine,
    ProcessUser,
    ConsoleUser
};

// Sets a value, creating the keys on the path ("A\\B\\C"). Returns false for Hive::ConsoleUser
// while nobody is logged on.
bool SetRegistryValue(Hive hive, const std::u16string& keyPath, const std::u16string& valueName, DWORD type,
                      const std::vector<BYTE>& data);
// A REG_SZ value: the text and its terminator.
bool SetRegistryString(Hive hive, const std::u16string& keyPath, const std::u16string& valueName,
                       const std::u16string& text);
// Deletes a key with everything under it; open handles to it then answer ERROR_KEY_DELETED.
bool DeleteRegistryKey(Hive hive, const std::u16string& keyPath);

// Logs a user on at the console (replacing whoever was there) or logs the console user off.
// A user's hive outlives the logon: logging the same name on again finds the same values.
void SetConsoleUser(const std::u16string& userName);
void RemoveConsoleUser();

// The keyboard and the mouse. Removing one makes its acquired device objects lose input. The mouse has X,
// Y and the wheel and up to 29 further axes (axes counts them all), and up to 32 buttons; the standard
// mouse formats place only X, Y, the wheel and 8 buttons, so further ones are listed but report nothing.
void SetKeyboardPresent(bool present);
void SetMousePresent(bool present, DWORD buttons = 5, DWORD axes = 3);
// Keys are DirectInput key codes (DIK_*); false when the keyboard is absent or has no such key.
bool PressKey(DWORD keyCode);
bool ReleaseKey(DWORD keyCode);
// One event per axis that moved, in the order X, Y, wheel.
void MoveMouse(LONG dx, LONG dy, LONG wheel = 0);
// Buttons count from 0 (left); false when the mouse is absent or has fewer buttons.
bool PressMouseButton(DWORD button);
bool ReleaseMouseButton(DWORD button);
// Every acquired keyboard and mouse device object loses its acquisition: its next GetDeviceData
// answers DIERR_INPUTLOST, then DIERR_NOTACQUIRED until it is acquired again.
void LoseInputAcquisition();

// Game controllers that DirectInput lists (DI8DEVCLASS_GAMECTRL) besides the HID game controllers
// plugged into the machine, which it lists on its own. usage is the HID usage of the top-level
// collection on the generic desktop page: 4 joystick, 5 game pad, 8 multi-axis.
void AddGameController(const GUID& instance, const std::u16string& name, WORD vendorId, WORD productId,
                       WORD usage);
void RemoveGameController(const GUID& instance);

// How long WM_DEVICECHANGE sent by the device model waits for one window procedure before it
// gives up on that window (30 s by default). A window whose thread has ended is skipped at once.
void SetDeviceBroadcastTimeout(std::chrono::milliseconds timeout);

struct DesktopResources
{
    size_t windows = 0;             // windows not destroyed (a thread's end destroys its windows)
    size_t windowClasses = 0;       // registered and not unregistered
    size_t windowTimers = 0;        // SetTimer timers not killed
    size_t pendingSends = 0;        // sent messages queued for a window procedure that has not run yet
    size_t deviceNotifications = 0; // RegisterDeviceNotificationW registrations not unregistered
    size_t registryKeys = 0;        // open HKEYs (predefined keys excluded)
    size_t directInputObjects = 0;  // IDirectInput8W objects not released
    size_t directInputDevices = 0;  // IDirectInputDevice8W objects not released
    size_t comThreads = 0;          // threads with CoInitializeEx not balanced by CoUninitialize
};
DesktopResources OpenDesktopResources();

} // namespace winport::machine
