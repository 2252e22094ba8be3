// IDirectInput8W: enumeration of the machine's input devices and creation of device objects.
#pragma once

#include <dinput.h>

#include <atomic>

namespace winport::dinput8
{

class DirectInput final : public IDirectInput8W
{
public:
    DirectInput();
    static size_t LiveCount();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE CreateDevice(REFGUID guid, LPDIRECTINPUTDEVICE8W* device,
                                           LPUNKNOWN outer) override;
    HRESULT STDMETHODCALLTYPE EnumDevices(DWORD type, LPDIENUMDEVICESCALLBACKW callback, LPVOID ref,
                                          DWORD flags) override;
    HRESULT STDMETHODCALLTYPE GetDeviceStatus(REFGUID instance) override;
    HRESULT STDMETHODCALLTYPE RunControlPanel(HWND owner, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE Initialize(HINSTANCE instance, DWORD version) override;
    HRESULT STDMETHODCALLTYPE FindDevice(REFGUID guid, LPCWSTR name, LPGUID instance) override;
    HRESULT STDMETHODCALLTYPE EnumDevicesBySemantics(LPCWSTR, LPDIACTIONFORMATW,
                                                     LPDIENUMDEVICESBYSEMANTICSCBW, LPVOID, DWORD) override;
    HRESULT STDMETHODCALLTYPE ConfigureDevices(LPDICONFIGUREDEVICESCALLBACK, LPDICONFIGUREDEVICESPARAMSW,
                                               DWORD, LPVOID) override;

private:
    ~DirectInput();

    std::atomic<ULONG> m_refs{1};
    bool m_initialized = false;
};

} // namespace winport::dinput8
