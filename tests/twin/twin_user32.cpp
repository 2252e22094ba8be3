// Twin program: message-only windows, message queues, window timers and the registration of
// device notifications. Built with mingw and run under Wine, and built natively against winport;
// both runs must print the same lines. Where Wine's last error differs from Windows' (an unknown
// class, a destroyed or bogus window handle) only the result is printed; docs/winport.md lists them.
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>
#include <dbt.h>

#include <cstdio>

namespace
{

HINSTANCE g_instance;
HWND g_window;
DWORD g_ownerThread;
DWORD g_sentThread;
int g_timerCount;

void Report(const char* what, long long value)
{
    std::printf("%s: %lld\n", what, value);
}
void ReportError(const char* what, long long value)
{
    std::printf("%s: %lld error %lu\n", what, value, static_cast<unsigned long>(GetLastError()));
}

LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_USER + 50)
        g_sentThread = GetCurrentThreadId();
    if (message == WM_TIMER && wParam == 0)
    {
        ++g_timerCount;
        KillTimer(hwnd, 0);
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

HWND MessageWindow(const WCHAR* cls)
{
    return CreateWindowExW(0, cls, TEXT("Kavrel HID Control App 1"), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, HWND_MESSAGE, nullptr, g_instance,
                           nullptr);
}

DWORD WINAPI OtherThread(LPVOID)
{
    SetLastError(0);
    ReportError("DestroyWindow from another thread", DestroyWindow(g_window));
    Report("IsWindow after it", IsWindow(g_window));
    SendMessageW(g_window, WM_USER + 50, 0, 0);
    Report("sent message ran on the owner's thread", g_sentThread == g_ownerThread);
    PostMessageW(g_window, WM_USER + 60, 0, 0);
    return 0;
}

void Classes()
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = g_instance;
    wc.lpszClassName = TEXT("Kavrel Notify HID 1");
    Report("RegisterClassW", RegisterClassW(&wc) != 0);
    SetLastError(0);
    ReportError("RegisterClassW again", RegisterClassW(&wc));
    Report("CreateWindowExW unknown class", MessageWindow(TEXT("No Such Class")) != nullptr);
}

void Messages()
{
    g_window = MessageWindow(TEXT("Kavrel Notify HID 1"));
    HWND other = MessageWindow(TEXT("Kavrel Notify HID 1"));
    g_ownerThread = GetCurrentThreadId();
    Report("CreateWindowExW", g_window != nullptr);
    Report("IsWindow", IsWindow(g_window));

    PostMessageW(g_window, WM_USER + 1, 1, 0);
    PostMessageW(other, WM_USER + 2, 2, 0);
    PostMessageW(g_window, WM_USER + 3, 3, 0);
    MSG msg;
    for (int i = 0; i < 2; ++i)
    {
        BOOL got = GetMessageW(&msg, g_window, 0, 0);
        std::printf("GetMessageW filtered: %d message 0x%x mine %d\n", got, msg.message,
                    msg.hwnd == g_window);
    }
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    std::printf("GetMessageW unfiltered: %d message 0x%x other %d\n", got, msg.message, msg.hwnd == other);

    HANDLE thread = CreateThread(nullptr, 0, OtherThread, nullptr, 0, nullptr);
    // Pump (which serves the other thread's send) until it says it is done.
    while (GetMessageW(&msg, g_window, 0, 0) > 0 && msg.message != WM_USER + 60)
        DispatchMessageW(&msg);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    DestroyWindow(other);
}

void Timers()
{
    UINT_PTR id = SetTimer(g_window, 0, 10, nullptr);
    Report("SetTimer with id 0 answers non-zero", id != 0);
    MSG msg;
    // Pump for ten periods of a second timer: the first one kills itself in its first WM_TIMER.
    SetTimer(g_window, 99, 20, nullptr);
    for (int ticks = 0; ticks < 10 && GetMessageW(&msg, g_window, 0, 0) > 0;)
    {
        ticks += msg.message == WM_TIMER && msg.wParam == 99;
        DispatchMessageW(&msg);
    }
    KillTimer(g_window, 99);
    Report("one-shot timer fired", g_timerCount);
    SetLastError(0);
    ReportError("KillTimer of an unknown timer", KillTimer(g_window, 1234));
    Report("SetTimer on a bad window", SetTimer(reinterpret_cast<HWND>(0x12340), 1, 10, nullptr) != 0);
}

void DeviceNotifications()
{
    SetLastError(0);
    ReportError("RegisterDeviceNotificationW without filter",
                RegisterDeviceNotificationW(g_window, nullptr, DEVICE_NOTIFY_WINDOW_HANDLE) != nullptr);
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    HDEVNOTIFY a = RegisterDeviceNotificationW(g_window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    HDEVNOTIFY b = RegisterDeviceNotificationW(g_window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    Report("interface registrations", a != nullptr && b != nullptr && a != b);
    Report("UnregisterDeviceNotification", UnregisterDeviceNotification(a));
    Report("UnregisterDeviceNotification", UnregisterDeviceNotification(b));
}

void Destruction()
{
    Report("DestroyWindow", DestroyWindow(g_window));
    Report("IsWindow after DestroyWindow", IsWindow(g_window));
    Report("DestroyWindow again", DestroyWindow(g_window));
    SetLastError(0);
    ReportError("PostMessageW to a destroyed window", PostMessageW(g_window, WM_USER, 0, 0));
    MSG msg;
    SetLastError(0);
    ReportError("GetMessageW for a destroyed window", GetMessageW(&msg, g_window, 0, 0));
    Report("UnregisterClassW", UnregisterClassW(TEXT("Kavrel Notify HID 1"), g_instance));
    SetLastError(0);
    ReportError("UnregisterClassW again", UnregisterClassW(TEXT("Kavrel Notify HID 1"), g_instance));
}

} // namespace

int main()
{
    g_instance = GetModuleHandleW(nullptr);
    Classes();
    Messages();
    Timers();
    DeviceNotifications();
    Destruction();
    return 0;
}
