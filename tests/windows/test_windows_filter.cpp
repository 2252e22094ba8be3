// Filtered devices through the Windows DLL under a Windows loader, with the service's threads as threads
// of the system.
#include <gtest/gtest.h>

#include <windows.h>

#include "KvHidRaw.h"
#include "KvSimService.h"
#include "KvTestSupport.h"

#include <atomic>
#include <cstring>

namespace
{
typedef uint32_t(KVHR_CALL* StatusFn)();
typedef int32_t(KVHR_CALL* FreeFn)(void*);
typedef uint32_t(KVHR_CALL* ListFn)(uint32_t**, uint32_t*);
typedef uint32_t(KVHR_CALL* NameFn)(uint32_t, KvHRWChar**);
typedef uint32_t(KVHR_CALL* CapsFn)(uint32_t, _stHidCapability**, uint32_t*);
typedef uint32_t(KVHR_CALL* PollFn)(uint32_t, uint8_t);
typedef uint32_t(KVHR_CALL* CallbackFn)(uint32_t, ReadDeviceValuesCallback, void*);

template <typename F> F Export(HMODULE module, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

std::atomic<int> deliveries{0};
std::atomic<uint32_t> lastCount{0};
std::atomic<uint32_t> lastButton12{0};
std::atomic<DWORD> deliveryThread{0};
void KVHR_CALL Values(void*, const _stHidValue* values, uint32_t count)
{
    lastCount = count;
    lastButton12 = count > 11 ? values[11].value : 0;
    deliveryThread = GetCurrentThreadId();
    ++deliveries;
}

// 12 buttons, X, Y and a hat.
_stHidPhysicalInputData Gamepad()
{
    _stHidPhysicalInputData caps;
    std::memset(&caps, 0, sizeof caps);
    std::memset(caps.buttons, 1, 12);
    caps.axes[0] = {0, 0, 255};
    caps.axes[1] = {0, -128, 127};
    caps.hats[0] = {0, 0, 7};
    caps.buttonCount = 12;
    caps.axisCount = 2;
    caps.hatCount = 1;
    return caps;
}
} // namespace

TEST(WindowsFilterTest, FilteredDevicesAreListedNamedDescribedAndDeliverTheirInput)
{
    KvSimService::SetNotificationThreads(2);
    HMODULE library = LoadLibraryW(L"KvHidRaw.dll");
    ASSERT_NE(library, nullptr);
    auto freeBlock = Export<FreeFn>(library, "KvHRFree");
    ASSERT_EQ(Export<StatusFn>(library, "KvHRInitialize")(), 0u);

    const std::wstring longName(300, L'n');
    KvSimService::AddFilteredDevice(2, longName.c_str(), Gamepad());
    uint32_t* list = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(Export<ListFn>(library, "KvHRFilterGetDevicesList")(&list, &count), 0u);
    ASSERT_EQ(count, 1u);
    const uint32_t id = list[0];
    EXPECT_EQ(id, 0x00FF0002u);
    EXPECT_EQ(freeBlock(list), 0);

    KvHRWChar* name = nullptr;
    ASSERT_EQ(Export<NameFn>(library, "KvHRGetDeviceName")(id, &name), 0u);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(std::wstring(name), std::wstring(255, L'n'));
    EXPECT_EQ(freeBlock(name), 0);

    _stHidCapability* caps = nullptr;
    ASSERT_EQ(Export<CapsFn>(library, "KvHRGetDeviceCapabilities")(id, &caps, &count), 0u);
    ASSERT_EQ(count, 15u);
    EXPECT_EQ(caps[12].usage, 0x30);
    EXPECT_EQ(caps[13].minValue, -128);
    EXPECT_EQ(caps[14].usage, 0x39);
    EXPECT_EQ(freeBlock(caps), 0);

    EXPECT_EQ(Export<CallbackFn>(library, "KvHRSetReadDeviceValuesCallback")(id, &Values, nullptr), 0u);
    EXPECT_EQ(Export<PollFn>(library, "KvHRSetPolling")(id, 1), 0u);
    _stHidInputData input;
    std::memset(&input, 0, sizeof input);
    input.buttons[11] = 0x80;
    KvSimService::PushInput(2, input);
    KvSimService::PushInput(2, input);
    ASSERT_TRUE(WaitUntil([] { return deliveries == 2; }));
    EXPECT_EQ(lastCount, 15u);
    EXPECT_EQ(lastButton12, 128u);
    EXPECT_NE(deliveryThread, GetCurrentThreadId());

    EXPECT_EQ(Export<PollFn>(library, "KvHRSetPolling")(id, 0), 0u);
    KvSimService::PushInput(2, input);
    ASSERT_TRUE(KvSimService::WaitIdle(10000));
    EXPECT_EQ(deliveries, 2);
    EXPECT_EQ(Export<StatusFn>(library, "KvHRUnInitialize")(), 0u);
    EXPECT_EQ(KvSimService::LiveBlocks(), 0u);
    EXPECT_TRUE(FreeLibrary(library));
}
