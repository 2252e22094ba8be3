// The virtual keyboard and mouse of the Windows DLL through the system's DirectInput (Wine's, here): their
// records, their polling timers, and what a key or mouse movement injected with SendInput delivers.
#include <gtest/gtest.h>

#include <windows.h>

#include "KvHidRaw.h"
#include "KvTestSupport.h"
#include "ValueRecorder.h"

#include <atomic>
#include <vector>

namespace
{
typedef uint32_t(KVHR_CALL* StatusFn)();
typedef uint32_t(KVHR_CALL* CapsFn)(uint32_t, _stHidCapability**, uint32_t*);
typedef int32_t(KVHR_CALL* FreeFn)(void*);
typedef uint32_t(KVHR_CALL* PollingFn)(uint32_t, uint8_t);
typedef uint32_t(KVHR_CALL* SetCallbackFn)(uint32_t, ReadDeviceValuesCallback, void*);

template <typename F> F Export(HMODULE module, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class Library
{
public:
    Library() : module(LoadLibraryW(L"KvHidRaw.dll"))
    {
        initialize = Export<StatusFn>(module, "KvHRInitialize");
        uninitialize = Export<StatusFn>(module, "KvHRUnInitialize");
        capabilities = Export<CapsFn>(module, "KvHRGetDeviceCapabilities");
        freeBlock = Export<FreeFn>(module, "KvHRFree");
        setPolling = Export<PollingFn>(module, "KvHRSetPolling");
        setCallback = Export<SetCallbackFn>(module, "KvHRSetReadDeviceValuesCallback");
    }
    ~Library()
    {
        if (module)
            FreeLibrary(module);
    }
    bool Loaded() const { return module && initialize && capabilities && setPolling && setCallback; }
    std::vector<_stHidCapability> Caps(uint32_t id)
    {
        _stHidCapability* caps = nullptr;
        uint32_t count = 0;
        EXPECT_EQ(capabilities(id, &caps, &count), 0u);
        std::vector<_stHidCapability> out(caps, caps + count);
        EXPECT_EQ(freeBlock(caps), 0);
        return out;
    }

    HMODULE module;
    StatusFn initialize = nullptr;
    StatusFn uninitialize = nullptr;
    CapsFn capabilities = nullptr;
    FreeFn freeBlock = nullptr;
    PollingFn setPolling = nullptr;
    SetCallbackFn setCallback = nullptr;
};

void SendKey(WORD scanCode, bool up)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wScan = scanCode;
    input.ki.dwFlags = KEYEVENTF_SCANCODE | (up ? KEYEVENTF_KEYUP : 0);
    SendInput(1, &input, sizeof(input));
}

void SendMouseMove(LONG dx, LONG dy)
{
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = dx;
    input.mi.dy = dy;
    input.mi.dwFlags = MOUSEEVENTF_MOVE;
    SendInput(1, &input, sizeof(input));
}
} // namespace

TEST(WindowsVirtualDevicesTest, TheSystemKeyboardAndMouseGiveTheirRecords)
{
    Library library;
    ASSERT_TRUE(library.Loaded());
    ASSERT_EQ(library.initialize(), 0u);

    const auto keys = library.Caps(VIRTUAL_KEYBOARD_ID);
    ASSERT_EQ(keys.size(), 255u);
    EXPECT_EQ(keys[0].usage, 1);
    EXPECT_EQ(keys[254].usage, 255);
    EXPECT_EQ(keys[254].usagePage, 9);

    // Wine's mouse: X, Y and the wheel, then its buttons (as many as it reports, at most eight).
    const auto mouse = library.Caps(VIRTUAL_MOUSE_ID);
    ASSERT_GE(mouse.size(), 4u);
    ASSERT_LE(mouse.size(), 3u + 8u);
    const uint16_t axes[3] = {0x30, 0x31, 0x32};
    for (size_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ(mouse[i].usagePage, 1);
        EXPECT_EQ(mouse[i].usage, axes[i]);
        EXPECT_EQ(mouse[i].minValue, -32767);
        EXPECT_EQ(mouse[i].maxValue, 32767);
    }
    for (size_t j = 3; j < mouse.size(); ++j)
    {
        EXPECT_EQ(mouse[j].usagePage, 9);
        EXPECT_EQ(mouse[j].usage, j - 2);
    }
    EXPECT_EQ(library.uninitialize(), 0u);
}

TEST(WindowsVirtualDevicesTest, PollingTimersStartStopAndEndWithTheLibrary)
{
    Library library;
    ASSERT_TRUE(library.Loaded());
    EXPECT_EQ(library.setPolling(VIRTUAL_KEYBOARD_ID, 1), KVHR_ERROR_INVALID_PARAMETER); // not started
    ASSERT_EQ(library.initialize(), 0u);
    for (int cycle = 0; cycle < 3; ++cycle)
    {
        EXPECT_EQ(library.setPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
        EXPECT_EQ(library.setPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
        EXPECT_EQ(library.setPolling(VIRTUAL_MOUSE_ID, 1), 0u);
        EXPECT_EQ(library.setPolling(VIRTUAL_KEYBOARD_ID, 0), 0u);
    }
    EXPECT_EQ(library.setPolling(VIRTUAL_MOUSE_ID, 1), 0u);
    EXPECT_EQ(library.uninitialize(), 0u);
    EXPECT_EQ(library.setPolling(VIRTUAL_MOUSE_ID, 1), KVHR_ERROR_INVALID_PARAMETER);

    // Unloading with both timers running ends them without a stop.
    ASSERT_EQ(library.initialize(), 0u);
    EXPECT_EQ(library.setPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    EXPECT_EQ(library.setPolling(VIRTUAL_MOUSE_ID, 1), 0u);
    EXPECT_TRUE(FreeLibrary(library.module));
    library.module = nullptr;
}

TEST(WindowsVirtualDevicesTest, InjectedKeysAndMovementsArriveAsWineDeliversThem)
{
    Library library;
    ASSERT_TRUE(library.Loaded());
    ASSERT_EQ(library.initialize(), 0u);
    ValueRecorder keys;
    ValueRecorder mouse;
    ASSERT_EQ(library.setCallback(VIRTUAL_KEYBOARD_ID, &ValueRecorder::Callback, &keys), 0u);
    ASSERT_EQ(library.setCallback(VIRTUAL_MOUSE_ID, &ValueRecorder::Callback, &mouse), 0u);
    ASSERT_EQ(library.setPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    ASSERT_EQ(library.setPolling(VIRTUAL_MOUSE_ID, 1), 0u);

    SendKey(0x1E, false); // A
    SendKey(0x1E, true);
    SendMouseMove(-10, 0);
    const bool keysArrived = keys.WaitForCount(2);
    const bool moveArrived = mouse.WaitForCount(1);
    EXPECT_EQ(library.setPolling(VIRTUAL_KEYBOARD_ID, 0), 0u);
    EXPECT_EQ(library.uninitialize(), 0u);

    ASSERT_TRUE(keysArrived);
    const auto keyCalls = keys.Deliveries();
    EXPECT_EQ(keyCalls[0].values.at(0).usage, 0x1E);
    EXPECT_EQ(keyCalls[0].values.at(0).usagePage, 9);
    EXPECT_EQ(keyCalls[0].values.at(0).value, 1u);
    EXPECT_EQ(keyCalls[1].values.at(0).usage, 0x1E);
    EXPECT_EQ(keyCalls[1].values.at(0).value, 0u);
    ASSERT_TRUE(moveArrived);
    const auto mouseCalls = mouse.Deliveries();
    EXPECT_EQ(mouseCalls[0].values.at(0).usagePage, 1);
    EXPECT_EQ(mouseCalls[0].values.at(0).usage, 0x30);
    EXPECT_LT(mouseCalls[0].values.at(0).scaledValue, 0);
}

namespace
{
// Switches the keyboard's polling off from inside its first delivery.
struct StoppingFromTheTick
{
    PollingFn setPolling = nullptr;
    std::atomic<int> calls{0};
    std::atomic<uint32_t> result{0xFFFFFFFF};
    static void KVHR_CALL Callback(void* context, const _stHidValue*, uint32_t)
    {
        StoppingFromTheTick* self = static_cast<StoppingFromTheTick*>(context);
        if (self->calls++ == 0)
            self->result = self->setPolling(VIRTUAL_KEYBOARD_ID, 0);
    }
};
} // namespace

TEST(WindowsVirtualDevicesTest, TheKeyboardsCallbackSwitchesPollingOffFromItsOwnTick)
{
    Library library;
    ASSERT_TRUE(library.Loaded());
    ASSERT_EQ(library.initialize(), 0u);
    StoppingFromTheTick stopping;
    stopping.setPolling = library.setPolling;
    ASSERT_EQ(library.setCallback(VIRTUAL_KEYBOARD_ID, &StoppingFromTheTick::Callback, &stopping), 0u);
    ASSERT_EQ(library.setPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    SendKey(0x1F, false); // S
    SendKey(0x1F, true);
    ASSERT_TRUE(WaitUntil([&] { return stopping.result != 0xFFFFFFFF; }, std::chrono::seconds(5)));
    EXPECT_EQ(stopping.result, 0u);
    EXPECT_EQ(stopping.calls, 1); // the release in the same tick, or a later one, is not delivered

    // Polling again from outside works, and the stop afterwards waits for nothing that hangs.
    ASSERT_EQ(library.setPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    EXPECT_EQ(library.uninitialize(), 0u);
}
