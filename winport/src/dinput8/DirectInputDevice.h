// IDirectInputDevice8W over the machine's keyboard or mouse: data format, buffer, acquisition.
#pragma once

#include "src/dinput8/InputObject.h"

#include <dinput.h>

#include <atomic>
#include <deque>
#include <vector>

namespace winport::dinput8
{

class DirectInputDevice final : public IDirectInputDevice8W
{
public:
    DirectInputDevice(DeviceKind kind, IUnknown* owner);

    DeviceKind Kind() const { return m_kind; }
    // Called by SystemInput with its lock held.
    void QueueLocked(DWORD instance, DWORD typeFlags, DWORD data, DWORD time, DWORD sequence);
    void LoseLocked();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetCapabilities(LPDIDEVCAPS caps) override;
    HRESULT STDMETHODCALLTYPE EnumObjects(LPDIENUMDEVICEOBJECTSCALLBACKW callback, LPVOID ref,
                                          DWORD flags) override;
    HRESULT STDMETHODCALLTYPE GetProperty(REFGUID prop, LPDIPROPHEADER header) override;
    HRESULT STDMETHODCALLTYPE SetProperty(REFGUID prop, LPCDIPROPHEADER header) override;
    HRESULT STDMETHODCALLTYPE Acquire() override;
    HRESULT STDMETHODCALLTYPE Unacquire() override;
    HRESULT STDMETHODCALLTYPE GetDeviceState(DWORD size, LPVOID data) override;
    HRESULT STDMETHODCALLTYPE GetDeviceData(DWORD objectSize, LPDIDEVICEOBJECTDATA data, LPDWORD count,
                                            DWORD flags) override;
    HRESULT STDMETHODCALLTYPE SetDataFormat(LPCDIDATAFORMAT format) override;
    HRESULT STDMETHODCALLTYPE SetEventNotification(HANDLE event) override;
    HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND hwnd, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE GetObjectInfo(LPDIDEVICEOBJECTINSTANCEW info, DWORD obj, DWORD how) override;
    HRESULT STDMETHODCALLTYPE GetDeviceInfo(LPDIDEVICEINSTANCEW info) override;
    HRESULT STDMETHODCALLTYPE RunControlPanel(HWND owner, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE Initialize(HINSTANCE instance, DWORD version, REFGUID guid) override;
    HRESULT STDMETHODCALLTYPE CreateEffect(REFGUID, LPCDIEFFECT, LPDIRECTINPUTEFFECT*, LPUNKNOWN) override;
    HRESULT STDMETHODCALLTYPE EnumEffects(LPDIENUMEFFECTSCALLBACKW, LPVOID, DWORD) override;
    HRESULT STDMETHODCALLTYPE GetEffectInfo(LPDIEFFECTINFOW, REFGUID) override;
    HRESULT STDMETHODCALLTYPE GetForceFeedbackState(LPDWORD) override;
    HRESULT STDMETHODCALLTYPE SendForceFeedbackCommand(DWORD) override;
    HRESULT STDMETHODCALLTYPE EnumCreatedEffectObjects(LPDIENUMCREATEDEFFECTOBJECTSCALLBACK, LPVOID,
                                                       DWORD) override;
    HRESULT STDMETHODCALLTYPE Escape(LPDIEFFESCAPE) override;
    HRESULT STDMETHODCALLTYPE Poll() override;
    HRESULT STDMETHODCALLTYPE SendDeviceData(DWORD, LPCDIDEVICEOBJECTDATA, LPDWORD, DWORD) override;
    HRESULT STDMETHODCALLTYPE EnumEffectsInFile(LPCWSTR, LPDIENUMEFFECTSINFILECALLBACK, LPVOID,
                                                DWORD) override;
    HRESULT STDMETHODCALLTYPE WriteEffectToFile(LPCWSTR, DWORD, LPDIFILEEFFECT, DWORD) override;
    HRESULT STDMETHODCALLTYPE BuildActionMap(LPDIACTIONFORMATW, LPCWSTR, DWORD) override;
    HRESULT STDMETHODCALLTYPE SetActionMap(LPDIACTIONFORMATW, LPCWSTR, DWORD) override;
    HRESULT STDMETHODCALLTYPE GetImageInfo(LPDIDEVICEIMAGEINFOHEADERW) override;

private:
    ~DirectInputDevice();
    // The offset of each object in the current data format, or -1 when the format leaves it out.
    std::vector<LONG> MapFormat(const DIDATAFORMAT& format, HRESULT& status) const;
    void FillObjectInfo(size_t index, DIDEVICEOBJECTINSTANCEW& info) const;
    HRESULT CheckBufferSizeHeaderLocked(const DIPROPHEADER& header) const;

    std::atomic<ULONG> m_refs{1};
    DeviceKind m_kind;
    IUnknown* m_owner;
    std::vector<InputObject> m_objects;
    // Guarded by SystemInput's lock.
    std::vector<LONG> m_offsets;
    bool m_formatSet = false;
    DWORD m_bufferSize = 0;
    bool m_acquired = false;
    bool m_lost = false;
    bool m_overflow = false;
    std::deque<DIDEVICEOBJECTDATA> m_buffer;
};

} // namespace winport::dinput8
