// The machine's failure injection: a plan fails exactly the calls it names (after the ones it lets
// through, as many as it counts, only for its device), answers its error the way the call reports
// errors, and leaves every other call alone.
#include <windows.h>

#include <dinput.h>
#include <hidsdi.h>

#include "TestDescriptors.h"
#include "machine/Machine.h"

#include <gtest/gtest.h>

using winport::machine::HidDeviceDescription;
using winport::machine::Machine;
using winport::machine::WinportCall;

namespace
{

DWORD WINAPI ReturnAtOnce(LPVOID)
{
    return 0;
}

// The last error of a CreateThread call, 0 when the thread was created (and then waited for).
DWORD CreateThreadError()
{
    SetLastError(0);
    HANDLE thread = CreateThread(nullptr, 0, ReturnAtOnce, nullptr, 0, nullptr);
    if (thread == nullptr)
        return GetLastError();
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return 0;
}

uint32_t PlugGamePad()
{
    HidDeviceDescription description;
    description.reportDescriptor = GamePadDescriptor();
    return Machine::Instance().PlugDevice(description);
}

HANDLE Open(uint32_t id)
{
    const std::u16string path = Machine::Instance().InterfacePaths(id).at(0);
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

} // namespace

TEST(MachineFaults, APlanLetsItsSkipThroughFailsItsCountAndThenNothing)
{
    Machine& machine = Machine::Instance();
    machine.FailCalls(WinportCall::CreateThread, ERROR_NOT_ENOUGH_MEMORY, 2, 1);
    EXPECT_EQ(machine.PendingFailures(WinportCall::CreateThread), 2);
    EXPECT_EQ(CreateThreadError(), 0u) << "the skipped call";
    EXPECT_EQ(CreateThreadError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(CreateThreadError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(machine.PendingFailures(WinportCall::CreateThread), 0);
    EXPECT_EQ(CreateThreadError(), 0u);

    machine.FailCalls(WinportCall::CreateTimerQueue, ERROR_OUTOFMEMORY, 5);
    machine.ClearFailures();
    HANDLE queue = CreateTimerQueue();
    ASSERT_NE(queue, nullptr) << "cleared plans fail nothing";
    EXPECT_TRUE(DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE));
}

TEST(MachineFaults, ADevicePlanFailsOnlyThatDevicesCalls)
{
    Machine& machine = Machine::Instance();
    const uint32_t chosen = PlugGamePad();
    const uint32_t other = PlugGamePad();
    machine.FailDeviceCalls(chosen, WinportCall::CreateFileW, ERROR_SHARING_VIOLATION, 1, 1);
    HANDLE first = Open(chosen);
    ASSERT_NE(first, INVALID_HANDLE_VALUE) << "the first open is let through";
    HANDLE otherFile = Open(other);
    ASSERT_NE(otherFile, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(chosen), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(machine.GetDeviceStats(chosen).openHandles, 1) << "the failed open leaves no handle";

    machine.FailDeviceCalls(chosen, WinportCall::HidD_GetAttributes, ERROR_GEN_FAILURE);
    machine.FailDeviceCalls(chosen, WinportCall::HidP_GetCaps, HIDP_STATUS_INVALID_PREPARSED_DATA);
    HIDD_ATTRIBUTES attributes = {};
    EXPECT_TRUE(HidD_GetAttributes(otherFile, &attributes));
    EXPECT_FALSE(HidD_GetAttributes(first, &attributes));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    PHIDP_PREPARSED_DATA chosenData = nullptr;
    PHIDP_PREPARSED_DATA otherData = nullptr;
    ASSERT_TRUE(HidD_GetPreparsedData(first, &chosenData));
    ASSERT_TRUE(HidD_GetPreparsedData(otherFile, &otherData));
    HIDP_CAPS caps = {};
    EXPECT_EQ(HidP_GetCaps(otherData, &caps), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(HidP_GetCaps(chosenData, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);
    EXPECT_EQ(HidP_GetCaps(chosenData, &caps), HIDP_STATUS_SUCCESS) << "one failure was armed";
    HidD_FreePreparsedData(chosenData);
    HidD_FreePreparsedData(otherData);
    CloseHandle(first);
    CloseHandle(otherFile);
}

TEST(MachineFaults, DirectInputCallsAnswerTheArmedHresult)
{
    Machine& machine = Machine::Instance();
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    IDirectInput8W* directInput = nullptr;
    machine.FailCalls(WinportCall::DirectInput8Create, static_cast<DWORD>(DIERR_OUTOFMEMORY));
    EXPECT_EQ(DirectInput8Create(instance, DIRECTINPUT_VERSION, IID_IDirectInput8W,
                                 reinterpret_cast<LPVOID*>(&directInput), nullptr),
              DIERR_OUTOFMEMORY);
    EXPECT_EQ(directInput, nullptr);
    ASSERT_EQ(DirectInput8Create(instance, DIRECTINPUT_VERSION, IID_IDirectInput8W,
                                 reinterpret_cast<LPVOID*>(&directInput), nullptr),
              DI_OK);
    IDirectInputDevice8W* mouse = nullptr;
    ASSERT_EQ(directInput->CreateDevice(GUID_SysMouse, &mouse, nullptr), DI_OK);
    machine.FailCalls(WinportCall::DeviceSetDataFormat, static_cast<DWORD>(DIERR_INVALIDPARAM));
    EXPECT_EQ(mouse->SetDataFormat(&c_dfDIMouse2), DIERR_INVALIDPARAM);
    EXPECT_EQ(mouse->SetDataFormat(&c_dfDIMouse2), DI_OK);
    mouse->Release();
    directInput->Release();
}
