#include "src/dinput8/DirectInputDevice.h"

#include "src/dinput8/SystemInput.h"
#include "src/faults/FaultPlan.h"

#include <cstdio>
#include <cstring>

namespace winport::dinput8
{

namespace
{

bool IsProperty(REFGUID prop, ULONG_PTR id)
{
    return &prop == &winport_DiPropertyIds[id];
}

bool SameKind(DWORD formatType, DWORD objectFlags)
{
    DWORD wanted = formatType & (DIDFT_AXIS | DIDFT_BUTTON | DIDFT_POV);
    return wanted == 0 || (wanted & objectFlags) != 0;
}

void CopyName(WCHAR* dest, const char* text)
{
    size_t i = 0;
    for (; text[i] && i < 259; ++i)
        dest[i] = static_cast<WCHAR>(text[i]);
    dest[i] = 0;
}

} // namespace

DirectInputDevice::DirectInputDevice(DeviceKind kind, IUnknown* owner) : m_kind(kind), m_owner(owner)
{
    m_owner->AddRef();
    auto& system = SystemInput::Instance();
    std::lock_guard<std::mutex> guard(system.Lock());
    m_objects = ObjectsOf(kind, system.MouseButtonsLocked(), system.MouseAxesLocked());
    system.AttachLocked(this);
}

DirectInputDevice::~DirectInputDevice()
{
    {
        auto& system = SystemInput::Instance();
        std::lock_guard<std::mutex> guard(system.Lock());
        system.DetachLocked(this);
    }
    m_owner->Release();
}

HRESULT DirectInputDevice::QueryInterface(REFIID riid, void** ppvObject)
{
    if (ppvObject == nullptr)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirectInputDevice8W)
    {
        AddRef();
        *ppvObject = static_cast<IDirectInputDevice8W*>(this);
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

ULONG DirectInputDevice::AddRef()
{
    return ++m_refs;
}

ULONG DirectInputDevice::Release()
{
    ULONG refs = --m_refs;
    if (refs == 0)
        delete this;
    return refs;
}

void DirectInputDevice::QueueLocked(DWORD instance, DWORD typeFlags, DWORD data, DWORD time, DWORD sequence)
{
    if (!m_acquired || m_bufferSize == 0)
        return;
    for (size_t i = 0; i < m_objects.size(); ++i)
    {
        if (m_objects[i].instance != instance || m_objects[i].typeFlags != typeFlags || m_offsets[i] < 0)
            continue;
        // A full buffer keeps what it holds and drops the new event; the next read reports it.
        if (m_buffer.size() >= m_bufferSize)
        {
            m_overflow = true;
            return;
        }
        m_buffer.push_back(DIDEVICEOBJECTDATA{static_cast<DWORD>(m_offsets[i]), data, time, sequence, 0});
        return;
    }
}

void DirectInputDevice::LoseLocked()
{
    if (!m_acquired)
        return;
    m_acquired = false;
    m_lost = true;
    m_buffer.clear();
}

HRESULT DirectInputDevice::GetCapabilities(LPDIDEVCAPS caps)
{
    if (const HRESULT fault = winport::faults::FaultHresult(winport::faults::WinportCall::DeviceGetCapabilities))
        return fault;
    if (caps == nullptr)
        return E_POINTER;
    // The DirectX 3 record is the first 24 bytes of today's.
    if (caps->dwSize != sizeof(DIDEVCAPS) && caps->dwSize != 24)
        return DIERR_INVALIDPARAM;
    DWORD size = caps->dwSize;
    DIDEVCAPS full{};
    full.dwSize = size;
    full.dwFlags = DIDC_ATTACHED | DIDC_EMULATED;
    full.dwDevType = m_kind == DeviceKind::Keyboard ? DI8DEVTYPE_KEYBOARD | (DI8DEVTYPEKEYBOARD_PCENH << 8)
                                                    : DI8DEVTYPE_MOUSE | (DI8DEVTYPEMOUSE_TRADITIONAL << 8);
    for (auto& object : m_objects)
        (object.typeFlags & DIDFT_AXIS ? full.dwAxes : full.dwButtons)++;
    std::memcpy(caps, &full, size);
    return DI_OK;
}

void DirectInputDevice::FillObjectInfo(size_t index, DIDEVICEOBJECTINSTANCEW& info) const
{
    const InputObject& object = m_objects[index];
    std::memset(&info, 0, sizeof(info));
    info.dwSize = sizeof(info);
    info.guidType = *object.type;
    info.dwOfs =
        m_formatSet && m_offsets[index] >= 0 ? static_cast<DWORD>(m_offsets[index]) : object.defaultOffset;
    info.dwType = object.typeFlags | DIDFT_MAKEINSTANCE(object.instance);
    info.dwFlags = object.typeFlags & DIDFT_AXIS ? DIDOI_ASPECTPOSITION : 0;
    char name[32];
    if (m_kind == DeviceKind::Keyboard)
        std::snprintf(name, sizeof(name), "Key 0x%02X", static_cast<unsigned>(object.instance));
    else if (object.typeFlags & DIDFT_AXIS)
        std::snprintf(name, sizeof(name), "%s",
                      object.instance == 0   ? "X-axis"
                      : object.instance == 1 ? "Y-axis"
                                             : "Wheel");
    else
        std::snprintf(name, sizeof(name), "Button %u", static_cast<unsigned>(object.instance));
    CopyName(info.tszName, name);
    info.wUsagePage = object.typeFlags & DIDFT_AXIS ? 1 : (m_kind == DeviceKind::Keyboard ? 7 : 9);
    info.wUsage = object.typeFlags & DIDFT_AXIS
                      ? static_cast<WORD>(0x30 + object.instance)
                      : static_cast<WORD>(object.instance + (m_kind == DeviceKind::Mouse));
}

HRESULT DirectInputDevice::EnumObjects(LPDIENUMDEVICEOBJECTSCALLBACKW callback, LPVOID ref, DWORD flags)
{
    if (const HRESULT fault = winport::faults::FaultHresult(winport::faults::WinportCall::DeviceEnumObjects))
        return fault;
    if (callback == nullptr)
        return DIERR_INVALIDPARAM;
    std::vector<DIDEVICEOBJECTINSTANCEW> infos;
    {
        std::lock_guard<std::mutex> guard(SystemInput::Instance().Lock());
        for (size_t i = 0; i < m_objects.size(); ++i)
        {
            if (!SameKind(flags, m_objects[i].typeFlags))
                continue;
            infos.emplace_back();
            FillObjectInfo(i, infos.back());
        }
    }
    // The callback runs without the lock: it may call back into this device (SetProperty).
    for (auto& info : infos)
        if (callback(&info, ref) == DIENUM_STOP)
            break;
    return DI_OK;
}

HRESULT DirectInputDevice::CheckBufferSizeHeaderLocked(const DIPROPHEADER& header) const
{
    if (header.dwSize != sizeof(DIPROPDWORD) || header.dwHeaderSize != sizeof(DIPROPHEADER))
        return DIERR_INVALIDPARAM;
    if (header.dwHow == DIPH_DEVICE)
        return header.dwObj == 0 ? DI_OK : DIERR_INVALIDPARAM;
    if (header.dwHow != DIPH_BYOFFSET)
        return DIERR_INVALIDPARAM;
    // An object is looked up first; the buffer size then belongs to the whole device only.
    for (size_t i = 0; i < m_objects.size(); ++i)
        if (m_formatSet && m_offsets[i] == static_cast<LONG>(header.dwObj))
            return DIERR_INVALIDPARAM;
    return DIERR_NOTFOUND;
}

HRESULT DirectInputDevice::GetProperty(REFGUID prop, LPDIPROPHEADER header)
{
    if (header == nullptr)
        return E_POINTER;
    if (!IsProperty(prop, 1))
        return DIERR_UNSUPPORTED;
    std::lock_guard<std::mutex> guard(SystemInput::Instance().Lock());
    HRESULT status = CheckBufferSizeHeaderLocked(*header);
    if (FAILED(status))
        return status;
    reinterpret_cast<LPDIPROPDWORD>(header)->dwData = m_bufferSize;
    return DI_OK;
}

HRESULT DirectInputDevice::SetProperty(REFGUID prop, LPCDIPROPHEADER header)
{
    if (const HRESULT fault = winport::faults::FaultHresult(winport::faults::WinportCall::DeviceSetProperty))
        return fault;
    if (header == nullptr)
        return E_POINTER;
    if (!IsProperty(prop, 1))
        return DIERR_UNSUPPORTED;
    std::lock_guard<std::mutex> guard(SystemInput::Instance().Lock());
    HRESULT status = CheckBufferSizeHeaderLocked(*header);
    if (FAILED(status))
        return status;
    if (m_acquired)
        return DIERR_ACQUIRED;
    m_bufferSize = reinterpret_cast<LPCDIPROPDWORD>(header)->dwData;
    return DI_OK;
}

HRESULT DirectInputDevice::Acquire()
{
    if (const HRESULT fault = winport::faults::FaultHresult(winport::faults::WinportCall::DeviceAcquire))
        return fault;
    auto& system = SystemInput::Instance();
    std::lock_guard<std::mutex> guard(system.Lock());
    if (!m_formatSet)
        return DIERR_INVALIDPARAM;
    if (!system.PresentLocked(m_kind))
        return DIERR_UNPLUGGED;
    if (m_acquired)
        return DI_NOEFFECT;
    m_acquired = true;
    m_lost = false;
    m_overflow = false;
    m_buffer.clear();
    return DI_OK;
}

HRESULT DirectInputDevice::Unacquire()
{
    std::lock_guard<std::mutex> guard(SystemInput::Instance().Lock());
    if (!m_acquired)
        return DI_NOEFFECT;
    m_acquired = false;
    return DI_OK;
}

HRESULT DirectInputDevice::GetDeviceState(DWORD, LPVOID)
{
    return DIERR_UNSUPPORTED;
}

HRESULT DirectInputDevice::GetDeviceData(DWORD objectSize, LPDIDEVICEOBJECTDATA data, LPDWORD count,
                                         DWORD flags)
{
    if (count == nullptr)
        return E_POINTER;
    if ((objectSize != sizeof(DIDEVICEOBJECTDATA) && objectSize != 16) || (flags & ~DWORD(DIGDD_PEEK)) != 0)
        return DIERR_INVALIDPARAM;
    std::lock_guard<std::mutex> guard(SystemInput::Instance().Lock());
    if (m_bufferSize == 0)
        return DIERR_NOTBUFFERED;
    if (m_lost)
    {
        // Reported once; until the next Acquire the device then answers "not acquired".
        m_lost = false;
        return DIERR_INPUTLOST;
    }
    if (!m_acquired)
        return DIERR_NOTACQUIRED;
    size_t n = std::min<size_t>(*count, m_buffer.size());
    if (data != nullptr)
        for (size_t i = 0; i < n; ++i)
            std::memcpy(reinterpret_cast<BYTE*>(data) + i * objectSize, &m_buffer[i], objectSize);
    *count = static_cast<DWORD>(n);
    HRESULT status = m_overflow ? DI_BUFFEROVERFLOW : DI_OK;
    if (!(flags & DIGDD_PEEK))
    {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + n);
        m_overflow = false;
    }
    return status;
}

std::vector<LONG> DirectInputDevice::MapFormat(const DIDATAFORMAT& format, HRESULT& status) const
{
    std::vector<LONG> offsets(m_objects.size(), -1);
    status = DIERR_INVALIDPARAM;
    if (format.dwSize != sizeof(DIDATAFORMAT) || format.dwObjSize != sizeof(DIOBJECTDATAFORMAT) ||
        format.dwDataSize % 4 != 0 || (format.dwNumObjs != 0 && format.rgodf == nullptr))
        return offsets;
    for (DWORD f = 0; f < format.dwNumObjs; ++f)
    {
        const DIOBJECTDATAFORMAT& wanted = format.rgodf[f];
        DWORD width = wanted.dwType & DIDFT_AXIS ? 4 : 1;
        if (wanted.dwOfs + width > format.dwDataSize)
            return offsets;
        bool anyInstance = (wanted.dwType & DIDFT_ANYINSTANCE) == DIDFT_ANYINSTANCE;
        bool found = false;
        for (size_t i = 0; i < m_objects.size() && !found; ++i)
        {
            const InputObject& object = m_objects[i];
            if (offsets[i] >= 0 || !SameKind(wanted.dwType, object.typeFlags) ||
                (wanted.pguid != nullptr && *wanted.pguid != *object.type) ||
                (!anyInstance && DIDFT_GETINSTANCE(wanted.dwType) != object.instance))
                continue;
            offsets[i] = static_cast<LONG>(wanted.dwOfs);
            found = true;
        }
        if (!found && !(wanted.dwType & DIDFT_OPTIONAL))
            return offsets;
    }
    status = DI_OK;
    return offsets;
}

HRESULT DirectInputDevice::SetDataFormat(LPCDIDATAFORMAT format)
{
    if (const HRESULT fault = winport::faults::FaultHresult(winport::faults::WinportCall::DeviceSetDataFormat))
        return fault;
    if (format == nullptr)
        return E_POINTER;
    HRESULT status;
    auto offsets = MapFormat(*format, status);
    if (FAILED(status))
        return status;
    std::lock_guard<std::mutex> guard(SystemInput::Instance().Lock());
    if (m_acquired)
        return DIERR_ACQUIRED;
    m_offsets = std::move(offsets);
    m_formatSet = true;
    return DI_OK;
}

HRESULT DirectInputDevice::SetEventNotification(HANDLE)
{
    return DIERR_UNSUPPORTED;
}

// Without a desktop to share, every cooperative level behaves alike here.
HRESULT DirectInputDevice::SetCooperativeLevel(HWND, DWORD)
{
    return DI_OK;
}

HRESULT DirectInputDevice::GetObjectInfo(LPDIDEVICEOBJECTINSTANCEW, DWORD, DWORD)
{
    return DIERR_UNSUPPORTED;
}

HRESULT DirectInputDevice::GetDeviceInfo(LPDIDEVICEINSTANCEW)
{
    return DIERR_UNSUPPORTED;
}

HRESULT DirectInputDevice::RunControlPanel(HWND, DWORD)
{
    return DIERR_UNSUPPORTED;
}

HRESULT DirectInputDevice::Initialize(HINSTANCE, DWORD, REFGUID)
{
    return DIERR_ALREADYINITIALIZED;
}

// Force feedback and action maps: the keyboard and mouse have neither.
HRESULT DirectInputDevice::CreateEffect(REFGUID, LPCDIEFFECT, LPDIRECTINPUTEFFECT*, LPUNKNOWN)
{
    return DIERR_UNSUPPORTED;
}
HRESULT DirectInputDevice::EnumEffects(LPDIENUMEFFECTSCALLBACKW, LPVOID, DWORD)
{
    return DI_OK;
}
HRESULT DirectInputDevice::GetEffectInfo(LPDIEFFECTINFOW, REFGUID)
{
    return DIERR_UNSUPPORTED;
}
HRESULT DirectInputDevice::GetForceFeedbackState(LPDWORD)
{
    return DIERR_UNSUPPORTED;
}
HRESULT DirectInputDevice::SendForceFeedbackCommand(DWORD)
{
    return DIERR_UNSUPPORTED;
}
HRESULT DirectInputDevice::EnumCreatedEffectObjects(LPDIENUMCREATEDEFFECTOBJECTSCALLBACK, LPVOID, DWORD)
{
    return DI_OK;
}
HRESULT DirectInputDevice::Escape(LPDIEFFESCAPE)
{
    return DIERR_UNSUPPORTED;
}
// The keyboard and mouse push their input; there is nothing to poll.
HRESULT DirectInputDevice::Poll()
{
    std::lock_guard<std::mutex> guard(SystemInput::Instance().Lock());
    return m_acquired ? DI_NOEFFECT : DIERR_NOTACQUIRED;
}
HRESULT DirectInputDevice::SendDeviceData(DWORD, LPCDIDEVICEOBJECTDATA, LPDWORD, DWORD)
{
    return DIERR_UNSUPPORTED;
}
HRESULT DirectInputDevice::EnumEffectsInFile(LPCWSTR, LPDIENUMEFFECTSINFILECALLBACK, LPVOID, DWORD)
{
    return DIERR_UNSUPPORTED;
}
HRESULT DirectInputDevice::WriteEffectToFile(LPCWSTR, DWORD, LPDIFILEEFFECT, DWORD)
{
    return DIERR_UNSUPPORTED;
}
HRESULT DirectInputDevice::BuildActionMap(LPDIACTIONFORMATW, LPCWSTR, DWORD)
{
    return DIERR_UNSUPPORTED;
}
HRESULT DirectInputDevice::SetActionMap(LPDIACTIONFORMATW, LPCWSTR, DWORD)
{
    return DIERR_UNSUPPORTED;
}
HRESULT DirectInputDevice::GetImageInfo(LPDIDEVICEIMAGEINFOHEADERW)
{
    return DIERR_UNSUPPORTED;
}

} // namespace winport::dinput8
