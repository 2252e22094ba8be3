// The demo: a scenario played on the native build's simulated PC while kvhidmon watches it through the
// library like any application. A gamepad and a flight stick move their sticks and press buttons, the
// keyboard types and the mouse moves, a filtered device reports while a script runs, and a third device
// is plugged in and unplugged every two seconds. The only code of kvhidmon that drives the machine and
// the simulated service.
//
// Everything the scenario sends is a function of the seed and the tick (one tick every 20 ms), so a test
// knows what a run sent: the functions below are what the scenario plays.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct DemoGamepad
{
    uint8_t x, y, z, rz;
    uint32_t buttons; // bit i: button i + 1
    uint8_t hat;      // 0 to 7 from north clockwise, 8 centred
};

struct DemoStick
{
    uint16_t x, y; // 0 to 16383
    uint8_t rz, slider;
    uint16_t buttons;
    uint8_t hat;
};

struct DemoKey
{
    uint16_t key; // DirectInput key code
    bool down;
};

struct DemoMouse
{
    int32_t dx, dy; // never 0
};

struct DemoFiltered
{
    uint8_t buttons[8];
    uint32_t x, y; // 0 to 1023
    uint32_t hat;  // 0 to 7
};

class CMonDemoScenario
{
public:
    static constexpr int kTickMs = 20;
    static constexpr int kCycleTicks = 100;
    static constexpr uint32_t kFilteredServiceId = 0;
    static const char* const kGamepadName;
    static const char* const kStickName;
    static const char* const kArcadePadName;
    static const char* const kFilteredName;

    explicit CMonDemoScenario(uint32_t seed) : m_seed(seed) {}
    ~CMonDemoScenario() { Stop(); }

    std::string Banner() const;
    // Before the library starts: the devices present at start, the script running, the filtered device.
    // With serviceRefuses the filtering service refuses the library's connection.
    void SetUp(bool serviceRefuses);
    // More gamepads, each sending 1000 reports a second while the scenario plays (before SetUp).
    void AddLoad(uint32_t devices) { m_loadDevices = devices; }
    // Plays the scenario on a thread of its own from tick 0, until Stop.
    void Play();
    void Stop();

    static DemoGamepad Gamepad(uint32_t seed, int tick);
    static DemoStick Stick(uint32_t seed, int tick);
    static std::optional<DemoKey> Key(int tick);
    static std::optional<DemoMouse> Mouse(uint32_t seed, int tick);
    static bool ScriptRuns(int tick);
    // Input of the filtered device, every other tick while the script runs.
    static std::optional<DemoFiltered> Filtered(uint32_t seed, int tick);
    static bool ArcadePadPlugged(int tick);

    // Input reports as the devices send them, the report ID (0) first.
    static std::vector<uint8_t> GamepadReport(const DemoGamepad& state);
    static std::vector<uint8_t> StickReport(const DemoStick& state);

private:
    void PlayTick(int tick);
    void PlayLoad();
    void SetFilteredDevicePresent(bool present);

    uint32_t m_seed;
    uint32_t m_gamepad = 0;
    uint32_t m_stick = 0;
    uint32_t m_arcadePad = 0;
    uint32_t m_loadDevices = 0;
    std::vector<uint32_t> m_load;
    std::thread m_player;
    std::thread m_loader;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
};
