// Leaves the process with the library started and one of the machine's HID devices polled, the service's
// thread and the virtual devices' timers running: "return" returns from main, "exit" calls ExitProcess.
// Exit status 0 once everything was started; 2 for a wrong argument, 4 when the library cannot start (3 is
// what an abort leaves). "count" starts the library, stops it and answers 10 + the number of HID devices it
// opened (waiting up to 10 s for the machine's devices to come up), so a test sees what an exit left behind.
#include <windows.h>

#include "KvHidRaw.h"

#include <cstring>

namespace
{
template <typename F> F Export(HMODULE module, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

void KVHR_CALL Ignore(void*, const _stHidValue*, uint32_t) {}

// Polls the first device of the table, if Wine's devices are up; the exit must not wait for its reader.
void PollFirstDevice(HMODULE library)
{
    uint32_t* list = nullptr;
    uint32_t count = 0;
    Export<uint32_t(KVHR_CALL*)(uint32_t**, uint32_t*)>(library, "KvHRGetDevicesList")(&list, &count);
    if (count == 0)
        return;
    Export<uint32_t(KVHR_CALL*)(uint32_t, ReadDeviceValuesCallback, void*)>(
        library, "KvHRSetReadDeviceValuesCallback")(list[0], &Ignore, nullptr);
    Export<uint32_t(KVHR_CALL*)(uint32_t, uint8_t)>(library, "KvHRSetPolling")(list[0], 1);
    Export<int32_t(KVHR_CALL*)(void*)>(library, "KvHRFree")(list);
}

uint32_t CountDevices(HMODULE library)
{
    uint32_t count = 0;
    const DWORD deadline = GetTickCount() + 10000;
    for (;;)
    {
        uint32_t* list = nullptr;
        Export<uint32_t(KVHR_CALL*)(uint32_t**, uint32_t*)>(library, "KvHRGetDevicesList")(&list, &count);
        Export<int32_t(KVHR_CALL*)(void*)>(library, "KvHRFree")(list);
        if (count != 0 || static_cast<LONG>(deadline - GetTickCount()) <= 0)
            return count;
        Sleep(200);
        Export<uint32_t(KVHR_CALL*)()>(library, "KvHRUpdateHidDevicesList")();
    }
}
} // namespace

int main(int argc, char** argv)
{
    const bool viaExitProcess = argc == 2 && std::strcmp(argv[1], "exit") == 0;
    const bool counting = argc == 2 && std::strcmp(argv[1], "count") == 0;
    if (argc != 2 || (!viaExitProcess && !counting && std::strcmp(argv[1], "return") != 0))
        return 2;
    HMODULE library = LoadLibraryW(L"KvHidRaw.dll");
    if (library == nullptr || Export<uint32_t(KVHR_CALL*)()>(library, "KvHRInitialize")() != 0)
        return 4;
    if (counting)
    {
        const uint32_t count = CountDevices(library);
        Export<uint32_t(KVHR_CALL*)()>(library, "KvHRUnInitialize")();
        FreeLibrary(library);
        return 10 + static_cast<int>(count < 100 ? count : 100);
    }
    PollFirstDevice(library);
    Export<uint32_t(KVHR_CALL*)(uint32_t, uint8_t)>(library, "KvHRSetPolling")(VIRTUAL_KEYBOARD_ID, 1);
    if (viaExitProcess)
        ExitProcess(0);
    return 0;
}
