// The service-control API over the simulated service.
#include "KvServiceControl.h"
#include "KvServiceState.h"

#include <algorithm>

namespace
{
constexpr DWORD kNotFound = 1168;           // ERROR_NOT_FOUND
constexpr DWORD kDeviceNotConnected = 1167; // ERROR_DEVICE_NOT_CONNECTED

KvServiceState& State()
{
    return KvServiceState::Instance();
}

DWORD HandOutInputBlock(_stHidInputData** data, bool present, KvSimCall call)
{
    *data = nullptr;
    if (DWORD status = State().Status(call))
        return status;
    if (!present)
        return kDeviceNotConnected;
    const _stHidInputData empty = {};
    *data = static_cast<_stHidInputData*>(State().HandOut(&empty, sizeof empty));
    return 0;
}

// The answers of the calls on which a test may hook (KvSimService::SetAnswerHook).
DWORD AnswerIsScriptRunning(BYTE* running)
{
    if (DWORD status = State().Status(KvSimCall::IsScriptRunning))
        return status;
    std::lock_guard<std::mutex> guard(State().mutex);
    *running = State().scriptRunning ? 1 : 0;
    return 0;
}

DWORD AnswerGetSelectedDevices(DWORD** ids, int* count)
{
    *ids = nullptr;
    const int capacity = *count;
    *count = 0;
    if (DWORD status = State().Status(KvSimCall::GetSelectedDevices))
        return status;
    std::vector<DWORD> selected;
    {
        std::lock_guard<std::mutex> guard(State().mutex);
        for (const auto& device : State().devices)
            if (State().ignoreCapacity || static_cast<int>(selected.size()) < capacity)
                selected.push_back(device.id);
    }
    if (!selected.empty())
    {
        *ids = static_cast<DWORD*>(State().HandOut(selected.data(), selected.size() * sizeof(DWORD)));
        *count = static_cast<int>(selected.size());
    }
    return 0;
}

DWORD AnswerGetFilteredDeviceName(DWORD id, WCHAR** name)
{
    *name = nullptr;
    if (DWORD status = State().Status(KvSimCall::GetFilteredDeviceName))
        return status;
    std::basic_string<WCHAR> copy;
    {
        std::lock_guard<std::mutex> guard(State().mutex);
        auto& devices = State().devices;
        auto found = std::find_if(devices.begin(), devices.end(), [id](const auto& d) { return d.id == id; });
        if (found == devices.end())
            return kNotFound;
        if (!found->hasName)
            return 0;
        copy = found->name;
    }
    *name = static_cast<WCHAR*>(State().HandOut(copy.c_str(), (copy.size() + 1) * sizeof(WCHAR)));
    return 0;
}

DWORD AnswerGetSelectedDevicePhysicalCapabilities(DWORD id, _stHidPhysicalInputData** caps)
{
    *caps = nullptr;
    if (DWORD status = State().Status(KvSimCall::GetSelectedDevicePhysicalCapabilities))
        return status;
    _stHidPhysicalInputData copy;
    {
        std::lock_guard<std::mutex> guard(State().mutex);
        auto& devices = State().devices;
        auto found = std::find_if(devices.begin(), devices.end(), [id](const auto& d) { return d.id == id; });
        if (found == devices.end())
            return kNotFound;
        copy = found->caps;
    }
    *caps = static_cast<_stHidPhysicalInputData*>(State().HandOut(&copy, sizeof copy));
    return 0;
}
} // namespace

DWORD WINAPI KvSCInitializeStatus(void)
{
    return State().Connect();
}

DWORD WINAPI KvSCUnInitialize(void)
{
    State().Disconnect();
    return 0;
}

DWORD WINAPI KvSCStatusRegisterNotificationHandler(KvSCNotificationHandler handler, void* context)
{
    if (DWORD status = State().Status(KvSimCall::RegisterNotificationHandler))
        return status;
    State().SetHandler(handler, context);
    return 0;
}

DWORD WINAPI KvSCStatusIsScriptRunning(BYTE* running)
{
    const DWORD status = AnswerIsScriptRunning(running);
    State().AfterAnswer(KvSimCall::IsScriptRunning);
    return status;
}

DWORD WINAPI KvSCStatusGetSelectedDevices(DWORD** ids, int* count)
{
    const DWORD status = AnswerGetSelectedDevices(ids, count);
    State().AfterAnswer(KvSimCall::GetSelectedDevices);
    return status;
}

DWORD WINAPI KvSCStatusGetFilteredDeviceName(DWORD id, WCHAR** name)
{
    const DWORD status = AnswerGetFilteredDeviceName(id, name);
    State().AfterAnswer(KvSimCall::GetFilteredDeviceName);
    return status;
}

DWORD WINAPI KvSCStatusGetSelectedDevicePhysicalCapabilities(DWORD id, _stHidPhysicalInputData** caps)
{
    const DWORD status = AnswerGetSelectedDevicePhysicalCapabilities(id, caps);
    State().AfterAnswer(KvSimCall::GetSelectedDevicePhysicalCapabilities);
    return status;
}

DWORD WINAPI KvSCStatusGetVirtualKeyboardCapabilities(_stHidInputData** data)
{
    bool present;
    {
        std::lock_guard<std::mutex> guard(State().mutex);
        present = State().virtualKeyboard;
    }
    return HandOutInputBlock(data, present, KvSimCall::GetVirtualKeyboardCapabilities);
}

DWORD WINAPI KvSCStatusGetVirtualMouseCapabilities(_stHidInputData** data)
{
    bool present;
    {
        std::lock_guard<std::mutex> guard(State().mutex);
        present = State().virtualMouse;
    }
    return HandOutInputBlock(data, present, KvSimCall::GetVirtualMouseCapabilities);
}

DWORD WINAPI KvSCFree(void* block)
{
    return State().Free(block);
}
