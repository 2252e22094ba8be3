#include "src/dinput8/InputObject.h"

namespace winport::dinput8
{

namespace
{
// A full-size keyboard: the main block, function keys and keypad (codes 0x01 to 0x58), and the
// extended keys (keypad enter, right control and alt, arrows, navigation block, Windows keys).
const BYTE kExtendedKeys[] = {0x9C, 0x9D, 0xB5, 0xB7, 0xB8, 0xC5, 0xC7, 0xC8, 0xC9, 0xCB,
                              0xCD, 0xCF, 0xD0, 0xD1, 0xD2, 0xD3, 0xDB, 0xDC, 0xDD};
} // namespace

std::vector<InputObject> ObjectsOf(DeviceKind kind, DWORD mouseButtons, DWORD mouseAxes)
{
    std::vector<InputObject> objects;
    if (kind == DeviceKind::Keyboard)
    {
        for (DWORD key = 0x01; key <= 0x58; ++key)
            if (key != 0x54 && key != 0x55)
                objects.push_back({&GUID_Key, DIDFT_PSHBUTTON, key, key});
        for (BYTE key : kExtendedKeys)
            objects.push_back({&GUID_Key, DIDFT_PSHBUTTON, key, key});
        return objects;
    }
    objects.push_back({&GUID_XAxis, DIDFT_RELAXIS, 0, DIMOFS_X});
    objects.push_back({&GUID_YAxis, DIDFT_RELAXIS, 1, DIMOFS_Y});
    objects.push_back({&GUID_ZAxis, DIDFT_RELAXIS, 2, DIMOFS_Z});
    // Further axes have no place in the standard mouse formats and never move.
    for (DWORD axis = 3; axis < mouseAxes; ++axis)
        objects.push_back(
            {&GUID_Unknown, DIDFT_RELAXIS, axis, DIMOFS_BUTTON0 + mouseButtons + 4 * (axis - 3)});
    for (DWORD button = 0; button < mouseButtons; ++button)
        objects.push_back({&GUID_Button, DIDFT_PSHBUTTON, button, DIMOFS_BUTTON0 + button});
    return objects;
}

} // namespace winport::dinput8
