// A process that leaves with the library started (a device polled, the service's thread and the virtual
// devices' timers running) ends at once, whether it returns from main or calls ExitProcess: at process exit
// the other threads are gone, and nothing of the library's or the service's stop waits for them.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace
{
std::wstring ProgramNextToThisOne(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory(path);
    return directory.substr(0, directory.find_last_of(L"\\/") + 1) + name;
}

// Runs the program with its argument; the exit status, or STILL_ACTIVE when it has not ended in time (it is
// then ended, so that no test leaves it behind).
DWORD RunToItsEnd(const wchar_t* argument, DWORD timeoutMs)
{
    std::wstring commandLine =
        L"\"" + ProgramNextToThisOne(L"exit_with_library_started.exe") + L"\" " + argument;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return GetLastError();
    DWORD status = STILL_ACTIVE;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &status);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return status;
}

// Starting takes well under a second; the exit used to hang in the service's stop and teardown for good.
const DWORD kExitDeadlineMs = 8000;
// The counting run may wait up to 10 s for the machine's devices to come up.
const DWORD kCountDeadlineMs = 30000;
} // namespace

TEST(WindowsProcessExit, ReturningFromMainWithTheLibraryStartedEndsTheProcess)
{
    EXPECT_EQ(RunToItsEnd(L"return", kExitDeadlineMs), 0u);
}

TEST(WindowsProcessExit, ExitProcessWithTheLibraryStartedEndsTheProcess)
{
    EXPECT_EQ(RunToItsEnd(L"exit", kExitDeadlineMs), 0u);
}

// Processes that leave with a device polled (its read pending) leave the machine's HID devices to the next
// process: the same number opens afterwards.
TEST(WindowsProcessExit, TheMachinesDevicesAreStillThereForTheNextProcess)
{
    const DWORD before = RunToItsEnd(L"count", kCountDeadlineMs);
    ASSERT_GE(before, 10u);
    if (before == 10u)
        GTEST_SKIP() << "the machine has no HID device";
    for (const wchar_t* how : {L"exit", L"return", L"exit"})
        ASSERT_EQ(RunToItsEnd(how, kExitDeadlineMs), 0u) << how;
    EXPECT_EQ(RunToItsEnd(L"count", kCountDeadlineMs), before);
}
