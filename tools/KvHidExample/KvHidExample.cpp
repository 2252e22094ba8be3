// A small program that uses the library as an application does: start, list what it can, stop.
#include "KvHidRaw.h"

#include <cstdio>
#include <string>

namespace
{
std::string Narrow(const KvHRWChar* text)
{
    std::string out;
    for (; text && *text; ++text)
        out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
    return out;
}

void KVHR_CALL OnNotification(uint32_t event, uint32_t value, void*)
{
    static const char* const names[] = {"device added", "device removed", "script state"};
    std::printf("  event: %s, value %u\n", event < 3 ? names[event] : "unknown", value);
}

typedef uint32_t(KVHR_CALL* ListExport)(uint32_t**, uint32_t*);

void PrintList(const char* what, ListExport query)
{
    uint32_t* list = nullptr;
    uint32_t count = 0;
    const uint32_t status = query(&list, &count);
    std::printf("%s: status %u, %u device(s)", what, status, count);
    for (uint32_t i = 0; i < count; ++i)
        std::printf(" 0x%08X", list[i]);
    std::printf("\n");
    KvHRFree(list);
}
} // namespace

int main()
{
    KvHRSetNotificationHandler(&OnNotification, nullptr);
    std::printf("KvHRInitialize: %u\n", KvHRInitialize());

    uint8_t running = 0;
    KvHRFilterGetScriptRunning(&running);
    std::printf("script running: %s\n", running ? "yes" : "no");

    PrintList("virtual devices", &KvHRDirectInputGetVirtualDevicesList);
    for (uint32_t id : {VIRTUAL_KEYBOARD_ID, VIRTUAL_MOUSE_ID})
    {
        KvHRWChar* name = nullptr;
        if (KvHRGetDeviceName(id, &name) == 0)
            std::printf("  0x%03X: %s\n", id, Narrow(name).c_str());
    }
    PrintList("filtered devices", &KvHRFilterGetDevicesList);
    PrintList("physical devices", &KvHRGetDevicesList);

    std::printf("KvHRUnInitialize: %u\n", KvHRUnInitialize());
    return 0;
}
