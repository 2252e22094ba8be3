// The machine's keyboard, mouse and game controllers as DirectInput sees them, and the device
// objects that buffer their input. One lock guards the devices' state as well, so an event is
// queued into every acquired device at once, in one order.
#pragma once

#include "src/dinput8/InputObject.h"

#include <dinput.h>

#include <mutex>
#include <string>
#include <vector>

namespace winport::dinput8
{

class DirectInputDevice;

struct GameController
{
    GUID instance;
    std::u16string name;
    WORD vendorId;
    WORD productId;
    WORD usage; // 4 joystick, 5 game pad, 8 multi-axis controller (usage page 1)
};

constexpr DWORD kMaxMouseButtons = 32;
constexpr DWORD kMaxMouseAxes = 32; // X, Y and the wheel included

class SystemInput
{
public:
    static SystemInput& Instance();

    std::mutex& Lock() { return m_lock; }

    // With the lock held.
    bool PresentLocked(DeviceKind kind) const;
    DWORD MouseButtonsLocked() const { return m_mouseButtons; }
    DWORD MouseAxesLocked() const { return m_mouseAxes; }
    const std::vector<GameController>& ControllersLocked() const { return m_controllers; }
    void AttachLocked(DirectInputDevice* device);
    void DetachLocked(DirectInputDevice* device);

    // The control side.
    void SetPresent(DeviceKind kind, bool present, DWORD mouseButtons, DWORD mouseAxes);
    bool Key(DWORD code, bool down);
    void MouseMove(LONG dx, LONG dy, LONG wheel);
    bool MouseButton(DWORD button, bool down);
    void LoseAcquisition();
    void AddController(const GameController& controller);
    void RemoveController(const GUID& instance);
    size_t LiveDevices();

private:
    void QueueLocked(DeviceKind kind, DWORD instance, DWORD typeFlags, DWORD data);

    std::mutex m_lock;
    bool m_keyboardPresent = true;
    bool m_mousePresent = true;
    DWORD m_mouseButtons = 5;
    DWORD m_mouseAxes = 3;
    DWORD m_sequence = 0;
    std::vector<GameController> m_controllers;
    std::vector<DirectInputDevice*> m_devices;
};

} // namespace winport::dinput8
