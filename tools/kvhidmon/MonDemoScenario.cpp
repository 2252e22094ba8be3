#include "MonDemoScenario.h"

#include "KvSimService.h"
#include "MonDemoDescriptors.h"
#include "machine/DesktopControl.h"
#include "machine/Machine.h"

#include <chrono>
#include <cstring>

using winport::machine::HidDeviceDescription;
using winport::machine::Machine;

const char* const CMonDemoScenario::kGamepadName = "Demo gamepad";
const char* const CMonDemoScenario::kStickName = "Demo flight stick";
const char* const CMonDemoScenario::kArcadePadName = "Demo arcade pad";
const char* const CMonDemoScenario::kFilteredName = "Demo filtered pad";

namespace
{
// The service refuses the connection with RPC_S_SERVER_UNAVAILABLE, as a stopped service would.
constexpr DWORD kServiceUnavailable = 1722;
// The letters typed, as DirectInput key codes: K V H I D M O N and a space.
constexpr uint16_t kTyped[] = {0x25, 0x2F, 0x23, 0x17, 0x20, 0x32, 0x18, 0x31, 0x39};

uint64_t Noise(uint32_t seed, int tick, int channel)
{
    // splitmix64 over the three: the same numbers on every build and run.
    uint64_t z = (uint64_t{seed} << 32) ^ (static_cast<uint64_t>(tick) << 8) ^ static_cast<uint64_t>(channel);
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// A triangle wave from 0 to top and back, moving step per tick from a phase the seed picks.
uint32_t Sweep(uint32_t seed, int tick, int channel, uint32_t top, uint32_t step)
{
    const uint64_t position = (Noise(seed, 0, channel) % (2 * top)) + uint64_t(tick) * step;
    const uint32_t p = static_cast<uint32_t>(position % (2 * top));
    return p <= top ? p : 2 * top - p;
}

std::u16string Wide(const char* ascii)
{
    return std::u16string(ascii, ascii + std::strlen(ascii));
}

HidDeviceDescription Spec(const std::vector<uint8_t>& descriptor, const char* name, USHORT vendor, USHORT product)
{
    HidDeviceDescription spec;
    spec.vendorId = vendor;
    spec.productId = product;
    spec.reportDescriptor = descriptor;
    spec.friendlyName = Wide(name);
    return spec;
}

_stHidPhysicalInputData FilteredCapabilities()
{
    _stHidPhysicalInputData caps = {};
    for (int i = 0; i < 8; ++i)
        caps.buttons[i] = 1;
    caps.axes[0] = {0, 0, 1023};
    caps.axes[1] = {0, 0, 1023};
    caps.hats[0] = {0, 0, 7};
    caps.buttonCount = 8;
    caps.axisCount = 2;
    caps.hatCount = 1;
    return caps;
}
} // namespace

std::string CMonDemoScenario::Banner() const
{
    return "SIMULATED PC - demo scenario, seed " + std::to_string(m_seed) + " (no real device is shown)";
}

DemoGamepad CMonDemoScenario::Gamepad(uint32_t seed, int tick)
{
    DemoGamepad state;
    state.x = static_cast<uint8_t>(Sweep(seed, tick, 1, 255, 7));
    state.y = static_cast<uint8_t>(Sweep(seed, tick, 2, 255, 5));
    state.z = static_cast<uint8_t>(Sweep(seed, tick, 3, 255, 3));
    state.rz = static_cast<uint8_t>(Noise(seed, tick, 4));
    state.buttons = (1u << ((tick / 5) % 32)) | static_cast<uint32_t>(Noise(seed, tick / 10, 5) & 0x0F);
    state.hat = static_cast<uint8_t>((tick / 25) % 9);
    return state;
}

DemoStick CMonDemoScenario::Stick(uint32_t seed, int tick)
{
    DemoStick state;
    state.x = static_cast<uint16_t>(Sweep(seed, tick, 11, 16383, 211));
    state.y = static_cast<uint16_t>(Sweep(seed, tick, 12, 16383, 157));
    state.rz = static_cast<uint8_t>(Sweep(seed, tick, 13, 255, 4));
    state.slider = static_cast<uint8_t>(Sweep(seed, tick, 14, 255, 1));
    state.buttons = static_cast<uint16_t>(1u << ((tick / 8) % 16));
    state.hat = static_cast<uint8_t>((tick / 15) % 9);
    return state;
}

std::optional<DemoKey> CMonDemoScenario::Key(int tick)
{
    if (tick % 5 != 0)
        return std::nullopt;
    const int event = tick / 5;
    return DemoKey{kTyped[(event / 2) % (sizeof(kTyped) / sizeof(kTyped[0]))], event % 2 == 0};
}

std::optional<DemoMouse> CMonDemoScenario::Mouse(uint32_t seed, int tick)
{
    if (tick % 2 != 1)
        return std::nullopt;
    const uint64_t noise = Noise(seed, tick, 21);
    const int32_t dx = 1 + static_cast<int32_t>(noise % 15);
    const int32_t dy = 1 + static_cast<int32_t>((noise >> 8) % 15);
    return DemoMouse{(noise & 0x10000) ? -dx : dx, (noise & 0x20000) ? -dy : dy};
}

bool CMonDemoScenario::ScriptRuns(int tick)
{
    return tick % kCycleTicks < 70;
}

std::optional<DemoFiltered> CMonDemoScenario::Filtered(uint32_t seed, int tick)
{
    if (tick % 2 != 0 || !ScriptRuns(tick))
        return std::nullopt;
    DemoFiltered input = {};
    const uint64_t noise = Noise(seed, tick, 31);
    for (int i = 0; i < 8; ++i)
        input.buttons[i] = (noise >> i) & 1 ? 0x80 : 0;
    input.x = Sweep(seed, tick, 32, 1023, 37);
    input.y = Sweep(seed, tick, 33, 1023, 23);
    input.hat = static_cast<uint32_t>((tick / 10) % 8);
    return input;
}

bool CMonDemoScenario::ArcadePadPlugged(int tick)
{
    const int phase = tick % kCycleTicks;
    return phase >= 25 && phase < 75;
}

std::vector<uint8_t> CMonDemoScenario::GamepadReport(const DemoGamepad& state)
{
    // Buttons 1-32 (a bit each), the hat (4 bits) and 4 bits of padding, then X, Y, Z, Rz.
    return {0,
            static_cast<uint8_t>(state.buttons),
            static_cast<uint8_t>(state.buttons >> 8),
            static_cast<uint8_t>(state.buttons >> 16),
            static_cast<uint8_t>(state.buttons >> 24),
            static_cast<uint8_t>(state.hat & 0x0F),
            state.x,
            state.y,
            state.z,
            state.rz};
}

std::vector<uint8_t> CMonDemoScenario::StickReport(const DemoStick& state)
{
    // Buttons 1-16, the hat (4 bits) and 4 of padding, X and Y (14 bits and 2 of padding each), Rz, the
    // slider; the machine pads the vendor bytes that follow.
    return {0,
            static_cast<uint8_t>(state.buttons),
            static_cast<uint8_t>(state.buttons >> 8),
            static_cast<uint8_t>(state.hat & 0x0F),
            static_cast<uint8_t>(state.x),
            static_cast<uint8_t>((state.x >> 8) & 0x3F),
            static_cast<uint8_t>(state.y),
            static_cast<uint8_t>((state.y >> 8) & 0x3F),
            state.rz,
            state.slider};
}

void CMonDemoScenario::SetFilteredDevicePresent(bool present)
{
    // The device is listed before the script's start is announced and gone before its end is, so a
    // monitor that lists the devices on the announcement sees the state it announces.
    if (present)
    {
        const std::u16string name = Wide(kFilteredName);
        KvSimService::AddFilteredDevice(kFilteredServiceId, name.c_str(), FilteredCapabilities());
        KvSimService::SetScriptRunning(true);
    }
    else
    {
        KvSimService::RemoveFilteredDevice(kFilteredServiceId);
        KvSimService::SetScriptRunning(false);
    }
}

void CMonDemoScenario::SetUp(bool serviceRefuses)
{
    Machine& machine = Machine::Instance();
    m_gamepad = machine.PlugDevice(Spec(kDemoGamepadDescriptor, kGamepadName, 0x1209, 0x2040));
    m_stick = machine.PlugDevice(Spec(kDemoFlightStickDescriptor, kStickName, 0x1209, 0x5710));
    SetFilteredDevicePresent(ScriptRuns(0));
    for (uint32_t i = 0; i < m_loadDevices; ++i)
        m_load.push_back(machine.PlugDevice(
            Spec(kDemoGamepadDescriptor, ("Load gamepad " + std::to_string(i + 1)).c_str(), 0x1209, 0x2041)));
    if (serviceRefuses)
        KvSimService::SetCallStatus(KvSimCall::InitializeStatus, kServiceUnavailable);
}

void CMonDemoScenario::PlayTick(int tick)
{
    Machine& machine = Machine::Instance();
    const std::vector<uint8_t> gamepad = GamepadReport(Gamepad(m_seed, tick));
    machine.SendInputReport(m_gamepad, gamepad.data(), gamepad.size());
    const std::vector<uint8_t> stick = StickReport(Stick(m_seed, tick));
    machine.SendInputReport(m_stick, stick.data(), stick.size());
    if (const std::optional<DemoKey> key = Key(tick))
        key->down ? winport::machine::PressKey(key->key) : winport::machine::ReleaseKey(key->key);
    if (const std::optional<DemoMouse> mouse = Mouse(m_seed, tick))
        winport::machine::MoveMouse(mouse->dx, mouse->dy);
    if (tick > 0 && ScriptRuns(tick) != ScriptRuns(tick - 1))
        SetFilteredDevicePresent(ScriptRuns(tick));
    if (const std::optional<DemoFiltered> filtered = Filtered(m_seed, tick))
    {
        _stHidInputData input = {};
        std::memcpy(input.buttons, filtered->buttons, sizeof(filtered->buttons));
        input.axes[0].value = filtered->x;
        input.axes[1].value = filtered->y;
        input.hats[0].value = filtered->hat;
        KvSimService::PushInput(kFilteredServiceId, input);
    }
    const bool plugged = ArcadePadPlugged(tick);
    if (plugged && m_arcadePad == 0)
        m_arcadePad = machine.PlugDevice(Spec(kDemoArcadePadDescriptor, kArcadePadName, 0x0F0D, 0x0092));
    else if (!plugged && m_arcadePad != 0)
    {
        machine.UnplugDevice(m_arcadePad, winport::machine::Removal::Orderly);
        m_arcadePad = 0;
    }
}

void CMonDemoScenario::PlayLoad()
{
    // Each load gamepad gets a report every millisecond; the machine queues them for its reader.
    const auto start = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> guard(m_lock);
    for (int tick = 0; !m_stop; ++tick)
    {
        guard.unlock();
        const std::vector<uint8_t> report = GamepadReport(Gamepad(m_seed, tick));
        for (uint32_t device : m_load)
            Machine::Instance().SendInputReport(device, report.data(), report.size());
        guard.lock();
        m_wake.wait_until(guard, start + std::chrono::milliseconds(tick + 1), [this] { return m_stop; });
    }
}

void CMonDemoScenario::Play()
{
    if (!m_load.empty())
        m_loader = std::thread([this] { PlayLoad(); });
    m_player = std::thread(
        [this]
        {
            const auto start = std::chrono::steady_clock::now();
            std::unique_lock<std::mutex> guard(m_lock);
            for (int tick = 0; !m_stop; ++tick)
            {
                guard.unlock();
                PlayTick(tick);
                guard.lock();
                m_wake.wait_until(guard, start + std::chrono::milliseconds(kTickMs * (tick + 1)),
                                  [this] { return m_stop; });
            }
        });
}

void CMonDemoScenario::Stop()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_player.joinable())
        m_player.join();
    if (m_loader.joinable())
        m_loader.join();
}
