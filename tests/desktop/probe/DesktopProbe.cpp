// A library that uses the whole desktop side as the real one does: a message-only window on a
// thread of its own with a window timer and a device-interface registration, DirectInput's keyboard
// acquired, a registry read and an impersonation. It stops at unload, from a static destructor, as
// the real library's detach does. The unload tests load and unload it.
#include <dbt.h>
#include <dinput.h>
#include <windows.h>
#include <wtsapi32.h>

#include <atomic>

namespace
{

const char16_t kClass[] = u"Desktop Probe";
const GUID kHidClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
const UINT kStop = WM_USER + 0x100;

std::atomic<LONG> g_ticks{0};
std::atomic<LONG> g_arrivals{0};

LRESULT CALLBACK ProbeProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER)
        ++g_ticks;
    if (message == WM_DEVICECHANGE && wParam == DBT_DEVICEARRIVAL)
        ++g_arrivals;
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

class Probe
{
public:
    ~Probe() { Stop(); }

    void Start()
    {
        m_started = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        m_thread = CreateThread(nullptr, 0, MessageThread, this, 0, nullptr);
        WaitForSingleObject(m_started, 5000);
        CloseHandle(m_started);

        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        void* out = nullptr;
        DirectInput8Create(GetModuleHandleW(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8W, &out, nullptr);
        m_input = static_cast<IDirectInput8W*>(out);
        if (m_input && m_input->CreateDevice(GUID_SysKeyboard, &m_keyboard, nullptr) == DI_OK)
        {
            m_keyboard->SetDataFormat(&c_dfDIKeyboard);
            m_keyboard->Acquire();
        }
        ReadRegistryAsConsoleUser();
    }

    void Stop()
    {
        if (m_thread == nullptr)
            return;
        PostMessageW(m_window, kStop, 0, 0);
        WaitForSingleObject(m_thread, 5000);
        CloseHandle(m_thread);
        m_thread = nullptr;
        UnregisterClassW(kClass, GetModuleHandleW(nullptr));
        if (m_keyboard)
            m_keyboard->Release();
        if (m_input)
            m_input->Release();
        m_keyboard = nullptr;
        m_input = nullptr;
        CoUninitialize();
    }

private:
    static DWORD WINAPI MessageThread(LPVOID parameter)
    {
        auto* self = static_cast<Probe*>(parameter);
        HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSW wc{};
        wc.lpfnWndProc = ProbeProc;
        wc.hInstance = instance;
        wc.lpszClassName = kClass;
        RegisterClassW(&wc);
        HWND hwnd = CreateWindowExW(0, kClass, u"probe", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, HWND_MESSAGE, nullptr, instance, nullptr);
        self->m_window = hwnd;
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = kHidClass;
        HDEVNOTIFY notification = RegisterDeviceNotificationW(hwnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        SetTimer(hwnd, 0, 20, nullptr);
        SetEvent(self->m_started);
        MSG msg;
        while (GetMessageW(&msg, hwnd, 0, 0) > 0 && msg.message != kStop)
        {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        KillTimer(hwnd, 0);
        UnregisterDeviceNotification(notification);
        DestroyWindow(hwnd);
        return 0;
    }

    static void ReadRegistryAsConsoleUser()
    {
        HANDLE user = nullptr, duplicate = nullptr;
        if (!WTSQueryUserToken(WTSGetActiveConsoleSessionId(), &user))
            return;
        DuplicateTokenEx(user, 0, nullptr, SecurityImpersonation, TokenPrimary, &duplicate);
        CloseHandle(user);
        if (ImpersonateLoggedOnUser(duplicate))
        {
            HKEY key;
            if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Software", 0, KEY_READ, &key) == ERROR_SUCCESS)
                RegCloseKey(key);
            RevertToSelf();
        }
        CloseHandle(duplicate);
    }

    HANDLE m_started = nullptr;
    HANDLE m_thread = nullptr;
    HWND m_window = nullptr;
    IDirectInput8W* m_input = nullptr;
    IDirectInputDevice8W* m_keyboard = nullptr;
};

Probe g_probe;

} // namespace

extern "C" void DesktopProbeStart()
{
    g_probe.Start();
}
extern "C" LONG DesktopProbeTicks()
{
    return g_ticks;
}
extern "C" LONG DesktopProbeArrivals()
{
    return g_arrivals;
}
