// COM apartments: each thread counts its CoInitializeEx calls; the model is fixed by the first.
#include "src/ole32/Apartments.h"

#include <objbase.h>

#include <atomic>

namespace
{
thread_local int t_initCount = 0;
thread_local DWORD t_model = 0;
std::atomic<int> g_initializedThreads{0};
} // namespace

namespace winport::ole32
{
int InitializedThreads()
{
    return g_initializedThreads;
}
} // namespace winport::ole32

extern "C"
{

    const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

    HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit)
    {
        const DWORD known = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;
        if (pvReserved != nullptr || (dwCoInit & ~known) != 0)
            return E_INVALIDARG;
        DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
        if (t_initCount > 0)
        {
            if (model != t_model)
                return RPC_E_CHANGED_MODE;
            ++t_initCount;
            return S_FALSE;
        }
        t_model = model;
        t_initCount = 1;
        ++g_initializedThreads;
        return S_OK;
    }

    HRESULT WINAPI CoInitialize(LPVOID pvReserved)
    {
        return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
    }

    void WINAPI CoUninitialize(void)
    {
        if (t_initCount == 0)
            return;
        if (--t_initCount == 0)
            --g_initializedThreads;
    }

} // extern "C"
