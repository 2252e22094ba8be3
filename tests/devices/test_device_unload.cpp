// The library unloaded with dlclose while a device is polled, and loaded again.
#include <gtest/gtest.h>

#include "DeviceTestSupport.h"

#include <dlfcn.h>

using namespace devtest;

namespace
{
typedef uint32_t(KVHR_CALL* StatusFn)();
typedef uint32_t(KVHR_CALL* PollFn)(uint32_t, uint8_t);
typedef uint32_t(KVHR_CALL* SetCallbackFn)(uint32_t, ReadDeviceValuesCallback, void*);
typedef uint32_t(KVHR_CALL* SetHandlerFn)(NotificationHandler, void*);

template <typename F> F Export(void* library, const char* name)
{
    return reinterpret_cast<F>(dlsym(library, name));
}
} // namespace

// Unloaded while started and polling, the library closes its devices and ends its reader and message
// thread; loaded again, it starts, finds its window class and the device, and polls it.
TEST(LeavingTest, UnloadingWithADevicePolledLeavesNothingBehindAndTheLibraryLoadsAndStartsAgain)
{
    const uint32_t id = Plug(Description(JoystickDescriptor()));
    const int threadsBefore = RunningThreads();
    const auto resourcesBefore = Machine::Instance().QueryOpenResources().HandleCount();
    ValueRecorder values;
    for (int round = 0; round < 2; ++round)
    {
        void* library = dlopen(KVHIDRAW_SO_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        KvNotificationRecorder recorder;
        Export<SetHandlerFn>(library, "KvHRSetNotificationHandler")(&KvNotificationRecorder::Handler,
                                                                    &recorder);
        ASSERT_EQ(Export<StatusFn>(library, "KvHRInitialize")(), 0u);
        EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_ADDED), (std::vector<uint32_t>{0}));
        ASSERT_EQ(Export<SetCallbackFn>(library, "KvHRSetReadDeviceValuesCallback")(
                      0, &ValueRecorder::Callback, &values),
                  0u);
        ASSERT_EQ(Export<PollFn>(library, "KvHRSetPolling")(0, 1), 0u);
        const size_t before = values.Count();
        ASSERT_TRUE(Send(id, {0x00, static_cast<uint8_t>(round + 1), 0, 0, 0, 0}));
        ASSERT_TRUE(values.WaitForCount(before + 1));
        EXPECT_EQ(dlclose(library), 0);

        EXPECT_EQ(dlopen(KVHIDRAW_SO_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);
        EXPECT_EQ(RunningThreads(), threadsBefore) << "round " << round;
        EXPECT_EQ(Machine::Instance().QueryOpenResources().HandleCount(), resourcesBefore)
            << "round " << round;
        EXPECT_EQ(Machine::Instance().GetDeviceStats(id).openHandles, 0);
        const auto desktop = winport::machine::OpenDesktopResources();
        EXPECT_EQ(desktop.windows, 0u);
        EXPECT_EQ(desktop.deviceNotifications, 0u);
        // The last delivery came from the unload, with the round's report.
        EXPECT_EQ(ValueOf(values.Last().values, 9, static_cast<uint16_t>(round + 1)), 1);
    }
}
