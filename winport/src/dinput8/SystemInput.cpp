#include "src/dinput8/SystemInput.h"

#include "src/dinput8/DirectInputDevice.h"

#include <algorithm>

namespace winport::dinput8
{

SystemInput& SystemInput::Instance()
{
    static SystemInput* instance = new SystemInput;
    return *instance;
}

bool SystemInput::PresentLocked(DeviceKind kind) const
{
    return kind == DeviceKind::Keyboard ? m_keyboardPresent : m_mousePresent;
}

void SystemInput::AttachLocked(DirectInputDevice* device)
{
    m_devices.push_back(device);
}

void SystemInput::DetachLocked(DirectInputDevice* device)
{
    m_devices.erase(std::remove(m_devices.begin(), m_devices.end(), device), m_devices.end());
}

void SystemInput::SetPresent(DeviceKind kind, bool present, DWORD mouseButtons, DWORD mouseAxes)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (kind == DeviceKind::Keyboard)
        m_keyboardPresent = present;
    else
    {
        m_mousePresent = present;
        m_mouseButtons = std::min<DWORD>(mouseButtons, kMaxMouseButtons);
        m_mouseAxes = std::clamp<DWORD>(mouseAxes, 3, kMaxMouseAxes);
    }
    // A device that goes away takes the acquisition of its device objects with it.
    if (!present)
        for (auto* device : m_devices)
            if (device->Kind() == kind)
                device->LoseLocked();
}

void SystemInput::QueueLocked(DeviceKind kind, DWORD instance, DWORD typeFlags, DWORD data)
{
    DWORD time = GetTickCount();
    DWORD sequence = ++m_sequence;
    for (auto* device : m_devices)
        if (device->Kind() == kind)
            device->QueueLocked(instance, typeFlags, data, time, sequence);
}

bool SystemInput::Key(DWORD code, bool down)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_keyboardPresent)
        return false;
    auto keys = ObjectsOf(DeviceKind::Keyboard, 0, 0);
    if (std::none_of(keys.begin(), keys.end(), [&](const InputObject& key) { return key.instance == code; }))
        return false;
    // DirectInput reports a key's state in the high bit of the data byte.
    QueueLocked(DeviceKind::Keyboard, code, DIDFT_PSHBUTTON, down ? 0x80 : 0x00);
    return true;
}

void SystemInput::MouseMove(LONG dx, LONG dy, LONG wheel)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_mousePresent)
        return;
    const LONG deltas[] = {dx, dy, wheel};
    for (DWORD axis = 0; axis < 3; ++axis)
        if (deltas[axis] != 0)
            QueueLocked(DeviceKind::Mouse, axis, DIDFT_RELAXIS, static_cast<DWORD>(deltas[axis]));
}

bool SystemInput::MouseButton(DWORD button, bool down)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_mousePresent || button >= m_mouseButtons)
        return false;
    QueueLocked(DeviceKind::Mouse, button, DIDFT_PSHBUTTON, down ? 0x80 : 0x00);
    return true;
}

void SystemInput::LoseAcquisition()
{
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto* device : m_devices)
        device->LoseLocked();
}

void SystemInput::AddController(const GameController& controller)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_controllers.push_back(controller);
}

void SystemInput::RemoveController(const GUID& instance)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_controllers.erase(std::remove_if(m_controllers.begin(), m_controllers.end(),
                                       [&](const GameController& c) { return c.instance == instance; }),
                        m_controllers.end());
}

size_t SystemInput::LiveDevices()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_devices.size();
}

} // namespace winport::dinput8
