// COM's apartment calls for the native build: enough for DirectInput's clients.
#pragma once

#include <windows.h>

#define STDMETHODCALLTYPE
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define PURE = 0
#define THIS_
#define THIS void

typedef enum tagCOINIT
{
    COINIT_APARTMENTTHREADED = 0x2,
    COINIT_MULTITHREADED = 0x0,
    COINIT_DISABLE_OLE1DDE = 0x4,
    COINIT_SPEED_OVER_MEMORY = 0x8
} COINIT;

// The root of every COM interface; the vtable order is the ABI.
struct IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

protected:
    ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

#ifdef __cplusplus
extern "C"
{
#endif

    extern const IID IID_IUnknown;

    HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
    HRESULT WINAPI CoInitialize(LPVOID pvReserved);
    void WINAPI CoUninitialize(void);

#ifdef __cplusplus
}
#endif
