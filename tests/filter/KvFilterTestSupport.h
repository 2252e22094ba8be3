// Helpers of the filter-mode tests: descriptions and input of filtered devices, and their subscription.
#pragma once

#include "KvHidRaw.h"
#include "KvServiceControl.h"
#include "KvSimService.h"
#include "ValueRecorder.h"

#include <cstring>
#include <vector>

// A description of a filtered device: buttons, axis entries (k, minimum, maximum) and hat ranges.
struct AxisRange
{
    unsigned entry;
    LONG minValue;
    LONG maxValue;
};

struct HatRange
{
    LONG minValue;
    LONG maxValue;
};

inline _stHidPhysicalInputData Describe(unsigned buttons, std::vector<AxisRange> axes = {},
                                        std::vector<HatRange> hats = {})
{
    _stHidPhysicalInputData caps;
    std::memset(&caps, 0, sizeof caps);
    for (unsigned i = 0; i < buttons; ++i)
        caps.buttons[i] = 1;
    for (const AxisRange& a : axes)
        caps.axes[a.entry] = {0, a.minValue, a.maxValue};
    for (unsigned j = 0; j < hats.size(); ++j)
        caps.hats[j] = {0, hats[j].minValue, hats[j].maxValue};
    caps.buttonCount = static_cast<BYTE>(buttons);
    caps.axisCount = static_cast<BYTE>(axes.size());
    caps.hatCount = static_cast<BYTE>(hats.size());
    return caps;
}

// The devices' worked example: 12 buttons, X and Y, one hat.
inline _stHidPhysicalInputData Gamepad()
{
    return Describe(12, {{0, 0, 255}, {1, -128, 127}}, {{0, 7}});
}

inline _stHidInputData NoInput()
{
    _stHidInputData input;
    std::memset(&input, 0, sizeof input);
    return input;
}

// Input for the worked example: buttons 1 and 12 pressed (12 with the byte 0x80), X, Y and the hat set, and
// a value for Z, which the device does not have.
inline _stHidInputData GamepadInput()
{
    _stHidInputData input = NoInput();
    input.buttons[0] = 1;
    input.buttons[11] = 0x80;
    input.axes[0].value = 200;
    input.axes[1].value = 0xFFFFFF80u; // -128 as the service stores it
    input.axes[2].value = 99;
    input.hats[0].value = 3;
    return input;
}

inline uint32_t FilteredId(uint32_t serviceId)
{
    return serviceId | FILTERED_DEVICE_FLAG;
}

// Adds the device to the service, registers the recorder for it and switches polling on.
inline void Subscribe(uint32_t serviceId, const _stHidPhysicalInputData& caps, ValueRecorder& recorder)
{
    KvSimService::AddFilteredDevice(serviceId, nullptr, caps);
    KvHRSetReadDeviceValuesCallback(FilteredId(serviceId), &ValueRecorder::Callback, &recorder);
    KvHRSetPolling(FilteredId(serviceId), 1);
}
