// The control API's device ids: given from 1 in plug order, never for a refused descriptor, and every
// control refuses an id it never gave or a device that has gone, leaving the others alone.
#include <windows.h>

#include "TestDescriptors.h"
#include "machine/Machine.h"

#include <gtest/gtest.h>

using winport::machine::HidDeviceDescription;
using winport::machine::Machine;
using winport::machine::Removal;

namespace
{

uint32_t Plug(std::vector<uint8_t> descriptor)
{
    HidDeviceDescription description;
    description.reportDescriptor = std::move(descriptor);
    return Machine::Instance().PlugDevice(description);
}

// Every control that takes an id refuses this one.
void ExpectRefused(uint32_t id)
{
    Machine& machine = Machine::Instance();
    const uint8_t report[4] = {};
    EXPECT_FALSE(machine.UnplugDevice(id, Removal::Orderly)) << id;
    EXPECT_FALSE(machine.SendInputReport(id, report, sizeof report)) << id;
    EXPECT_FALSE(machine.StartInstall(id)) << id;
    EXPECT_FALSE(machine.FinishInstall(id, false)) << id;
    EXPECT_FALSE(machine.SetDevNodeStatus(id, 0, 0)) << id;
    EXPECT_FALSE(machine.SetOpenFailure(id, ERROR_SHARING_VIOLATION)) << id;
}

} // namespace

TEST(MachineDevices, IdsComeInPlugOrderAndARefusedDescriptorTakesNone)
{
    EXPECT_EQ(Plug(GamePadDescriptor()), 1u);
    EXPECT_EQ(Plug({0x05, 0x01, 0x09, 0x05, 0xA1, 0x01}), 0u) << "an unterminated collection is refused";
    EXPECT_EQ(Plug(TwoCollectionDescriptor()), 2u);
    EXPECT_EQ(Machine::Instance().InterfacePaths(2).size(), 2u);
}

TEST(MachineDevices, IdsNeverGivenAndGoneDevicesAreRefusedAndOthersUntouched)
{
    Machine& machine = Machine::Instance();
    uint32_t kept = Plug(GamePadDescriptor());
    uint32_t gone = Plug(GamePadDescriptor());
    ASSERT_TRUE(machine.UnplugDevice(gone, Removal::Surprise));
    for (uint32_t id : {0u, gone + 1, 0xFFFFFFFFu})
    {
        ExpectRefused(id);
        EXPECT_TRUE(machine.InterfacePaths(id).empty()) << id;
        EXPECT_EQ(machine.GetDeviceStats(id).reportsSent, 0u) << id;
    }
    ExpectRefused(gone);
    EXPECT_EQ(machine.InterfacePaths(gone).size(), 1u) << "a gone device keeps its paths";
    EXPECT_EQ(machine.PendingInstalls(), 0);

    const uint8_t report[4] = {0, 1, 2, 3};
    EXPECT_TRUE(machine.SendInputReport(kept, report, sizeof report));
    EXPECT_EQ(machine.GetDeviceStats(kept).reportsSent, 1u);
    EXPECT_EQ(machine.GetDeviceStats(gone).reportsSent, 0u);
}
