#include "machine/DesktopControl.h"

#include "src/advapi32/RegistryStore.h"
#include "src/advapi32/UserSessions.h"
#include "src/dinput8/DirectInput.h"
#include "src/dinput8/SystemInput.h"
#include "src/ole32/Apartments.h"
#include "src/user32/DeviceNotifications.h"
#include "src/user32/WindowManager.h"

namespace winport::machine
{

namespace
{

using advapi32::RegistryKey;
using advapi32::RegistryStore;
using advapi32::UserSessions;
using dinput8::DeviceKind;
using dinput8::SystemInput;

std::shared_ptr<RegistryKey> HiveRoot(Hive hive)
{
    switch (hive)
    {
        case Hive::LocalMachine:
            return RegistryStore::Instance().LocalMachine();
        case Hive::ProcessUser:
            return UserSessions::Instance().ProcessUser()->hive;
        case Hive::ConsoleUser:
        {
            auto user = UserSessions::Instance().ConsoleUser();
            return user ? user->hive : nullptr;
        }
    }
    return nullptr;
}

void MarkDeleted(RegistryKey& key)
{
    key.deleted = true;
    for (auto& [name, child] : key.subkeys)
        MarkDeleted(*child);
}

} // namespace

bool SetRegistryValue(Hive hive, const std::u16string& keyPath, const std::u16string& valueName, DWORD type,
                      const std::vector<BYTE>& data)
{
    auto root = HiveRoot(hive);
    if (!root)
        return false;
    auto& store = RegistryStore::Instance();
    std::lock_guard<std::mutex> guard(store.Lock());
    auto key = store.Walk(root, keyPath, true);
    key->values[advapi32::FoldName(valueName)] = advapi32::RegistryValue{type, data};
    return true;
}

bool SetRegistryString(Hive hive, const std::u16string& keyPath, const std::u16string& valueName,
                       const std::u16string& text)
{
    auto bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return SetRegistryValue(hive, keyPath, valueName, REG_SZ,
                            std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(char16_t)));
}

bool DeleteRegistryKey(Hive hive, const std::u16string& keyPath)
{
    auto root = HiveRoot(hive);
    if (!root)
        return false;
    auto& store = RegistryStore::Instance();
    std::lock_guard<std::mutex> guard(store.Lock());
    size_t cut = keyPath.rfind(u'\\');
    auto owner = cut == std::u16string::npos ? root : store.Walk(root, keyPath.substr(0, cut), false);
    if (!owner)
        return false;
    auto it = owner->subkeys.find(
        advapi32::FoldName(cut == std::u16string::npos ? keyPath : keyPath.substr(cut + 1)));
    if (it == owner->subkeys.end())
        return false;
    MarkDeleted(*it->second);
    owner->subkeys.erase(it);
    return true;
}

void SetConsoleUser(const std::u16string& userName)
{
    UserSessions::Instance().SetConsoleUser(userName);
}

void RemoveConsoleUser()
{
    UserSessions::Instance().RemoveConsoleUser();
}

void SetKeyboardPresent(bool present)
{
    SystemInput::Instance().SetPresent(DeviceKind::Keyboard, present, 0, 0);
}

void SetMousePresent(bool present, DWORD buttons, DWORD axes)
{
    SystemInput::Instance().SetPresent(DeviceKind::Mouse, present, buttons, axes);
}

bool PressKey(DWORD keyCode)
{
    return SystemInput::Instance().Key(keyCode, true);
}

bool ReleaseKey(DWORD keyCode)
{
    return SystemInput::Instance().Key(keyCode, false);
}

void MoveMouse(LONG dx, LONG dy, LONG wheel)
{
    SystemInput::Instance().MouseMove(dx, dy, wheel);
}

bool PressMouseButton(DWORD button)
{
    return SystemInput::Instance().MouseButton(button, true);
}

bool ReleaseMouseButton(DWORD button)
{
    return SystemInput::Instance().MouseButton(button, false);
}

void LoseInputAcquisition()
{
    SystemInput::Instance().LoseAcquisition();
}

void AddGameController(const GUID& instance, const std::u16string& name, WORD vendorId, WORD productId,
                       WORD usage)
{
    SystemInput::Instance().AddController(
        dinput8::GameController{instance, name, vendorId, productId, usage});
}

void RemoveGameController(const GUID& instance)
{
    SystemInput::Instance().RemoveController(instance);
}

void SetDeviceBroadcastTimeout(std::chrono::milliseconds timeout)
{
    user32::DeviceNotifications::Instance().SetSendTimeout(timeout);
}

DesktopResources OpenDesktopResources()
{
    auto& windows = user32::WindowManager::Instance();
    DesktopResources open;
    open.windows = windows.WindowCount();
    open.windowClasses = windows.ClassCount();
    open.windowTimers = windows.TimerCount();
    open.pendingSends = windows.PendingSendCount();
    open.deviceNotifications = user32::DeviceNotifications::Instance().Count();
    open.registryKeys = RegistryStore::Instance().OpenKeyCount();
    open.directInputObjects = dinput8::DirectInput::LiveCount();
    open.directInputDevices = SystemInput::Instance().LiveDevices();
    open.comThreads = static_cast<size_t>(winport::ole32::InitializedThreads());
    return open;
}

} // namespace winport::machine
