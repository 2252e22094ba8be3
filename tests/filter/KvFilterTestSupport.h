// Helpers of the filter-mode tests: descriptions and input of filtered devices, and a recorder of the
// deliveries a values callback receives.
#pragma once

#include "KvHidRaw.h"
#include "KvServiceControl.h"
#include "KvSimService.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
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

// Records every delivery of one values callback; a test may add work to run inside the callback.
class DeliveryRecorder
{
public:
    struct Delivery
    {
        std::vector<_stHidValue> values;
        std::thread::id thread;
    };

    static void KVHR_CALL Callback(void* context, const _stHidValue* values, uint32_t count)
    {
        DeliveryRecorder* self = static_cast<DeliveryRecorder*>(context);
        if (self->inside)
            self->inside(values, count);
        // Notified under the lock: a waiter that wakes may destroy the recorder once the lock is free.
        std::lock_guard<std::mutex> guard(self->m_mutex);
        self->m_deliveries.push_back(
            {std::vector<_stHidValue>(values, values + count), std::this_thread::get_id()});
        self->m_changed.notify_all();
    }

    std::vector<Delivery> Deliveries()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_deliveries;
    }
    size_t Count()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_deliveries.size();
    }
    // Waits until at least count deliveries have come (10 s at most).
    bool WaitForCount(size_t count)
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        return m_changed.wait_for(guard, std::chrono::seconds(10),
                                  [&] { return m_deliveries.size() >= count; });
    }

    std::function<void(const _stHidValue*, uint32_t)> inside;

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Delivery> m_deliveries;
};

// Adds the device to the service, registers the recorder for it and switches polling on.
inline void Subscribe(uint32_t serviceId, const _stHidPhysicalInputData& caps, DeliveryRecorder& recorder)
{
    KvSimService::AddFilteredDevice(serviceId, nullptr, caps);
    KvHRSetReadDeviceValuesCallback(FilteredId(serviceId), &DeliveryRecorder::Callback, &recorder);
    KvHRSetPolling(FilteredId(serviceId), 1);
}
