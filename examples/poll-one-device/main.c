/* An application of KvHidRaw: start the library, list the devices, poll one for a second, print values. */
#include <KvHidRaw.h>
#include <stdio.h>
#ifdef _WIN32
#include <windows.h>
#define SleepMs(ms) Sleep(ms)
#else
#include <unistd.h>
#define SleepMs(ms) usleep((ms) * 1000)
#endif

static void KVHR_CALL PrintValues(void* context, const _stHidValue* values, uint32_t count)
{
    (void)context;
    for (uint32_t i = 0; i < count; ++i)
        printf("  page 0x%02X usage 0x%02X index %u: %d\n", values[i].usagePage, values[i].usage, values[i].index,
               values[i].scaledValue);
}

int main(void)
{
    uint32_t *physical = NULL, *virtuals = NULL, physicalCount = 0, virtualCount = 0;
    if (KvHRInitialize() != 0)
        return 1;
    KvHRGetDevicesList(&physical, &physicalCount);
    KvHRDirectInputGetVirtualDevicesList(&virtuals, &virtualCount);
    for (uint32_t i = 0; i < physicalCount; ++i)
        printf("physical device 0x%X\n", physical[i]);
    for (uint32_t i = 0; i < virtualCount; ++i)
        printf("virtual device 0x%X\n", virtuals[i]);
    /* The first physical device, else the virtual mouse. */
    const uint32_t id = physicalCount ? physical[0] : VIRTUAL_MOUSE_ID;
    printf("polling 0x%X for a second\n", id);
    KvHRSetReadDeviceValuesCallback(id, PrintValues, NULL);
    KvHRSetPolling(id, 1);
    SleepMs(1000);
    KvHRSetPolling(id, 0);
    KvHRSetReadDeviceValuesCallback(id, NULL, NULL);
    KvHRFree(physical);
    KvHRFree(virtuals);
    KvHRUnInitialize();
    return 0;
}
