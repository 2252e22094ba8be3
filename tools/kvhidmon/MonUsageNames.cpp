#include "MonUsageNames.h"

#include "KvHidRaw.h"
#include "MonDeviceModel.h"

#include <cstdio>

namespace
{
const char* GenericDesktopName(uint16_t usage)
{
    switch (usage)
    {
        case 0x30:
            return "X";
        case 0x31:
            return "Y";
        case 0x32:
            return "Z";
        case 0x33:
            return "Rx";
        case 0x34:
            return "Ry";
        case 0x35:
            return "Rz";
        case 0x36:
            return "Slider";
        case 0x37:
            return "Dial";
        case 0x38:
            return "Wheel";
        case 0x39:
            return "Hat";
        default:
            return nullptr;
    }
}

const char* SimulationName(uint16_t usage)
{
    switch (usage)
    {
        case 0xBA:
            return "Rudder";
        case 0xBB:
            return "Throttle";
        case 0xC4:
            return "Accel";
        case 0xC5:
            return "Brake";
        case 0xC8:
            return "Steering";
        default:
            return nullptr;
    }
}
} // namespace

std::string UsageName(uint16_t page, uint16_t usage)
{
    const char* name = page == 1 ? GenericDesktopName(usage) : page == 2 ? SimulationName(usage) : nullptr;
    if (name)
        return name;
    char text[40];
    if (page == 9)
        std::snprintf(text, sizeof(text), "Button %u", usage);
    else
        std::snprintf(text, sizeof(text), "page 0x%02X usage 0x%02X", page, usage);
    return text;
}

std::string KeyName(uint16_t keyCode)
{
    const KvHRWChar* name = nullptr;
    KvHRDirectInputGetVirtualKeyboardBtnsName(keyCode, &name);
    return name ? ToUtf8(name) : "???";
}
