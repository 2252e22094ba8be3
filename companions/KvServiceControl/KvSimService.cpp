#include "KvSimService.h"
#include "KvServiceState.h"

#include <algorithm>

namespace
{
KvServiceState& State()
{
    return KvServiceState::Instance();
}
} // namespace

void KvSimService::SetCallStatus(KvSimCall call, DWORD status)
{
    std::lock_guard<std::mutex> guard(State().mutex);
    State().callStatus[static_cast<int>(call)] = status;
}

void KvSimService::SetScriptRunning(bool running)
{
    {
        std::lock_guard<std::mutex> guard(State().mutex);
        State().scriptRunning = running;
    }
    NotifyScriptState();
}

void KvSimService::NotifyScriptState()
{
    State().Post(enScriptStateChanged, 0, nullptr, 0);
}

void KvSimService::PostNotification(DWORD code, DWORD param, const void* data, size_t size)
{
    State().Post(code, param, data, size);
}

void KvSimService::AddFilteredDevice(DWORD id, LPCWSTR name, const _stHidPhysicalInputData& caps)
{
    RemoveFilteredDevice(id);
    std::lock_guard<std::mutex> guard(State().mutex);
    State().devices.push_back(
        {id, name != nullptr, name ? std::basic_string<WCHAR>(name) : std::basic_string<WCHAR>(), caps});
}

void KvSimService::RemoveFilteredDevice(DWORD id)
{
    std::lock_guard<std::mutex> guard(State().mutex);
    auto& devices = State().devices;
    devices.erase(std::remove_if(devices.begin(), devices.end(), [id](const auto& d) { return d.id == id; }),
                  devices.end());
}

void KvSimService::PushInput(DWORD id, const _stHidInputData& input)
{
    State().Post(enDeviceInput, id, &input, sizeof input);
}

void KvSimService::SetVirtualKeyboard(bool present)
{
    std::lock_guard<std::mutex> guard(State().mutex);
    State().virtualKeyboard = present;
}

void KvSimService::SetVirtualMouse(bool present)
{
    std::lock_guard<std::mutex> guard(State().mutex);
    State().virtualMouse = present;
}

void KvSimService::SetStopWait(DWORD milliseconds)
{
    State().SetStopWait(milliseconds);
}

bool KvSimService::WaitStopWaiting(DWORD timeoutMs)
{
    return State().WaitStopWaiting(timeoutMs);
}

void KvSimService::HoldCall(KvSimCall call, bool hold)
{
    State().Hold(call, hold);
}

bool KvSimService::WaitCallHeld(KvSimCall call, DWORD timeoutMs)
{
    return State().WaitHeld(call, timeoutMs);
}

bool KvSimService::WaitIdle(DWORD timeoutMs)
{
    return State().WaitIdle(timeoutMs);
}

bool KvSimService::IsConnected()
{
    return State().Connected();
}

bool KvSimService::HasHandler()
{
    return State().HasHandler();
}

unsigned KvSimService::DroppedNotifications()
{
    std::lock_guard<std::mutex> guard(State().mutex);
    return State().dropped;
}

unsigned KvSimService::DeliveredNotifications()
{
    std::lock_guard<std::mutex> guard(State().mutex);
    return State().delivered;
}

unsigned KvSimService::LiveBlocks()
{
    return State().LiveBlocks();
}
