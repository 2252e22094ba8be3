// One input object (key, axis or button) of the system keyboard or mouse.
#pragma once

#include <dinput.h>

#include <vector>

namespace winport::dinput8
{

enum class DeviceKind
{
    Keyboard,
    Mouse
};

struct InputObject
{
    const GUID* type;    // GUID_Key, GUID_XAxis, ..., GUID_Button
    DWORD typeFlags;     // DIDFT_PSHBUTTON or DIDFT_RELAXIS
    DWORD instance;      // the key's DirectInput code, or the axis or button number
    DWORD defaultOffset; // its offset when no data format says otherwise
};

// The objects of the machine's keyboard (its keys) or mouse (X, Y, wheel, its further axes, then its buttons).
std::vector<InputObject> ObjectsOf(DeviceKind kind, DWORD mouseButtons, DWORD mouseAxes);

} // namespace winport::dinput8
