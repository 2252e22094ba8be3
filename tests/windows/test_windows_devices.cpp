// The Windows DLL with the machine's own HID devices (under Wine, after `wineboot --init`, a keyboard and a
// mouse of vendor 0x845E): listed, named, described and polled, then unloaded with polling on and loaded
// again.
#include <gtest/gtest.h>

#include <windows.h>

#include "KvHidRaw.h"

#include <atomic>
#include <string>
#include <vector>

namespace
{
struct Library
{
    HMODULE module = LoadLibraryW(L"KvHidRaw.dll");

    template <typename F> F Get(const char* name)
    {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    uint32_t Initialize() { return Get<uint32_t(KVHR_CALL*)()>("KvHRInitialize")(); }
    uint32_t Update() { return Get<uint32_t(KVHR_CALL*)()>("KvHRUpdateHidDevicesList")(); }
    std::vector<uint32_t> Devices()
    {
        uint32_t* list = nullptr;
        uint32_t count = 0;
        EXPECT_EQ(Get<uint32_t(KVHR_CALL*)(uint32_t**, uint32_t*)>("KvHRGetDevicesList")(&list, &count), 0u);
        std::vector<uint32_t> positions(list, list + count);
        Free(list);
        return positions;
    }
    std::wstring Name(uint32_t id)
    {
        KvHRWChar* name = nullptr;
        EXPECT_EQ(Get<uint32_t(KVHR_CALL*)(uint32_t, KvHRWChar**)>("KvHRGetDeviceName")(id, &name), 0u);
        std::wstring text = name ? name : L"";
        Free(name);
        return text;
    }
    uint32_t CapabilityCount(uint32_t id)
    {
        _stHidCapability* caps = nullptr;
        uint32_t count = 0;
        EXPECT_EQ(Get<uint32_t(KVHR_CALL*)(uint32_t, _stHidCapability**, uint32_t*)>(
                      "KvHRGetDeviceCapabilities")(id, &caps, &count),
                  0u);
        Free(caps);
        return count;
    }
    uint32_t SetCallback(uint32_t id, ReadDeviceValuesCallback callback, void* context)
    {
        return Get<uint32_t(KVHR_CALL*)(uint32_t, ReadDeviceValuesCallback, void*)>(
            "KvHRSetReadDeviceValuesCallback")(id, callback, context);
    }
    uint32_t Poll(uint32_t id, uint8_t on)
    {
        return Get<uint32_t(KVHR_CALL*)(uint32_t, uint8_t)>("KvHRSetPolling")(id, on);
    }
    void Free(void* block) { Get<int32_t(KVHR_CALL*)(void*)>("KvHRFree")(block); }
};

struct Deliveries
{
    std::atomic<int> count{0};
    std::atomic<uint32_t> records{0};
    static void KVHR_CALL Callback(void* context, const _stHidValue*, uint32_t n)
    {
        Deliveries* self = static_cast<Deliveries*>(context);
        self->records = n;
        ++self->count;
    }
};

bool WaitUntil(const std::atomic<int>& value, int atLeast)
{
    for (int waited = 0; waited < 10000 && value < atLeast; waited += 10)
        Sleep(10);
    return value >= atLeast;
}
} // namespace

// Polling is switched on again just before the unload: the reader has started by the time polling returns,
// the unload cancels its read, and it leaves the library before the code goes. The next load (and every
// later program) finds the same devices.
TEST(WindowsDevices, TheMachinesHidDevicesAreListedNamedDescribedPolledAndSurviveAReload)
{
    Deliveries deliveries;
    std::vector<uint32_t> firstList;
    {
        Library library;
        ASSERT_NE(library.module, nullptr);
        ASSERT_EQ(library.Initialize(), 0u);
        // Wine brings up its HID devices with its services, possibly after this process started.
        const DWORD deadline = GetTickCount() + 20000;
        while ((firstList = library.Devices()).empty() && static_cast<LONG>(deadline - GetTickCount()) > 0)
        {
            Sleep(200);
            library.Update();
        }
        ASSERT_FALSE(firstList.empty()) << "no HID device opened; under Wine, run wineboot --init first";

        uint32_t described = 0xFFFFFFFF;
        for (uint32_t id : firstList)
        {
            EXPECT_FALSE(library.Name(id).empty()) << id;
            if (described == 0xFFFFFFFF && library.CapabilityCount(id) != 0)
                described = id;
        }
        ASSERT_NE(described, 0xFFFFFFFF) << "no device with a listed input";

        // Nothing feeds these devices: switched off at once, the reader still makes its one last delivery.
        ASSERT_EQ(library.SetCallback(described, &Deliveries::Callback, &deliveries), 0u);
        ASSERT_EQ(library.Poll(described, 1), 0u);
        ASSERT_EQ(library.Poll(described, 0), 0u);
        ASSERT_TRUE(WaitUntil(deliveries.count, 1));
        EXPECT_GE(deliveries.records.load(), library.CapabilityCount(described));

        // Unloaded with polling on: the reader cannot end under the loader lock, but it leaves the library.
        const uint32_t again = library.Poll(described, 1);
        EXPECT_TRUE(again == 0u || again == KVHR_ERROR_ALREADY_INITIALIZED) << again;
        EXPECT_TRUE(FreeLibrary(library.module));
        EXPECT_EQ(GetModuleHandleW(L"KvHidRaw.dll"), nullptr);
    }
    Library library;
    ASSERT_NE(library.module, nullptr);
    ASSERT_EQ(library.Initialize(), 0u);
    EXPECT_EQ(library.Devices(), firstList);
    EXPECT_TRUE(FreeLibrary(library.module));
}
