// A dlopen/dlclose cycle of a library that uses windows, timers, device notifications, DirectInput,
// the registry and impersonation leaves no window, class, registration, object, handle or thread.
#include "DesktopTestSupport.h"
#include "TestDescriptors.h"

#include <machine/DesktopControl.h>
#include <machine/Machine.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

namespace machine = winport::machine;

namespace
{

bool SameAsFresh(const machine::DesktopResources& open)
{
    return open.windows == 0 && open.windowClasses == 0 && open.windowTimers == 0 && open.pendingSends == 0 &&
           open.deviceNotifications == 0 && open.registryKeys == 0 && open.directInputObjects == 0 &&
           open.directInputDevices == 0 && open.comThreads == 0;
}

bool IsMapped()
{
    return dlopen(DESKTOP_PROBE, RTLD_NOW | RTLD_NOLOAD) != nullptr;
}

} // namespace

TEST(DesktopUnload, LoadingAndUnloadingThreeTimesLeavesNothingBehind)
{
    auto before = machine::Machine::Instance().QueryOpenResources();
    for (int round = 0; round < 3; ++round)
    {
        void* library = dlopen(DESKTOP_PROBE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        auto start = reinterpret_cast<void (*)()>(dlsym(library, "DesktopProbeStart"));
        auto ticks = reinterpret_cast<LONG (*)()>(dlsym(library, "DesktopProbeTicks"));
        auto arrivals = reinterpret_cast<LONG (*)()>(dlsym(library, "DesktopProbeArrivals"));
        start();
        ASSERT_TRUE(WaitUntil([&] { return ticks() >= 2; })) << "round " << round;

        auto during = machine::OpenDesktopResources();
        EXPECT_EQ(during.windows, 1u);
        EXPECT_EQ(during.windowClasses, 1u) << "a class left by an earlier round would be reused here";
        EXPECT_EQ(during.windowTimers, 1u);
        EXPECT_EQ(during.deviceNotifications, 1u);
        EXPECT_EQ(during.directInputDevices, 1u);

        machine::HidDeviceDescription description;
        description.reportDescriptor = GamePadDescriptor();
        uint32_t id = machine::Machine::Instance().PlugDevice(description);
        EXPECT_EQ(arrivals(), 1) << "each load starts with fresh statics";
        machine::Machine::Instance().UnplugDevice(id, machine::Removal::Surprise);

        ASSERT_EQ(dlclose(library), 0);
        EXPECT_FALSE(IsMapped());
        EXPECT_TRUE(WaitUntil([] { return SameAsFresh(machine::OpenDesktopResources()); }));
        auto after = machine::Machine::Instance().QueryOpenResources();
        EXPECT_EQ(after.handlesByKind, before.handlesByKind);
        EXPECT_EQ(after.runningThreads, before.runningThreads);
    }
}
