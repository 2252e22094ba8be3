// The exported user32 functions: argument checks, then the window manager or the registrations.
#include "src/user32/DeviceNotifications.h"
#include "src/faults/FaultPlan.h"
#include "src/user32/WindowManager.h"

using winport::faults::FaultPlan;
using winport::faults::WinportCall;
using winport::user32::DeviceNotifications;
using winport::user32::WindowManager;

extern "C"
{

    ATOM WINAPI RegisterClassW(const WNDCLASSW* lpWndClass)
    {
        if (lpWndClass == nullptr)
        {
            SetLastError(ERROR_NOACCESS);
            return 0;
        }
        if (const DWORD fault = FaultPlan::Instance().Take(WinportCall::RegisterClassW))
        {
            SetLastError(fault);
            return 0;
        }
        return WindowManager::Instance().RegisterClass(*lpWndClass);
    }

    BOOL WINAPI UnregisterClassW(LPCWSTR lpClassName, HINSTANCE hInstance)
    {
        return WindowManager::Instance().UnregisterClass(lpClassName, hInstance);
    }

    HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle,
                                int x, int y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                                HINSTANCE hInstance, LPVOID lpParam)
    {
        if (const DWORD fault = FaultPlan::Instance().Take(WinportCall::CreateWindowExW))
        {
            SetLastError(fault);
            return nullptr;
        }
        CREATESTRUCTW cs{lpParam,
                         hInstance,
                         hMenu,
                         hWndParent,
                         nHeight,
                         nWidth,
                         y,
                         x,
                         static_cast<LONG>(dwStyle),
                         lpWindowName,
                         lpClassName,
                         dwExStyle};
        return WindowManager::Instance().CreateWindow(lpClassName, lpWindowName, hWndParent, hInstance, cs);
    }

    BOOL WINAPI DestroyWindow(HWND hWnd)
    {
        return WindowManager::Instance().DestroyWindow(hWnd);
    }

    BOOL WINAPI IsWindow(HWND hWnd)
    {
        return WindowManager::Instance().IsWindow(hWnd) ? TRUE : FALSE;
    }

    DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId)
    {
        DWORD thread = WindowManager::Instance().WindowThread(hWnd);
        if (thread == 0)
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        else if (lpdwProcessId)
            *lpdwProcessId = GetCurrentProcessId();
        return thread;
    }

    HWND WINAPI FindWindowExW(HWND hWndParent, HWND hWndChildAfter, LPCWSTR lpszClass, LPCWSTR lpszWindow)
    {
        return WindowManager::Instance().FindWindow(hWndParent, hWndChildAfter, lpszClass, lpszWindow);
    }

    BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
    {
        if (lpMsg == nullptr)
        {
            SetLastError(ERROR_NOACCESS);
            return -1;
        }
        return WindowManager::Instance().GetMessage(*lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax);
    }

    // Only keyboard messages are translated, and this machine posts none to windows.
    BOOL WINAPI TranslateMessage(const MSG* lpMsg)
    {
        return lpMsg != nullptr && (lpMsg->message == WM_KEYDOWN || lpMsg->message == WM_KEYUP) ? TRUE
                                                                                                : FALSE;
    }

    LRESULT WINAPI DispatchMessageW(const MSG* lpMsg)
    {
        if (lpMsg == nullptr)
            return 0;
        if (lpMsg->message == WM_TIMER && lpMsg->lParam != 0)
        {
            // Only the procedure of a live timer is called, never an address a posted message carries.
            auto proc = reinterpret_cast<TIMERPROC>(lpMsg->lParam);
            if (WindowManager::Instance().IsTimerProc(lpMsg->hwnd, lpMsg->wParam, proc))
                proc(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, GetTickCount());
            return 0;
        }
        if (lpMsg->hwnd == nullptr)
            return 0;
        WNDPROC proc = WindowManager::Instance().WindowProc(lpMsg->hwnd);
        if (proc == nullptr)
        {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        return proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
    }

    BOOL WINAPI PostMessageW(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        return WindowManager::Instance().PostMessage(hWnd, msg, wParam, lParam);
    }

    BOOL WINAPI PostThreadMessageW(DWORD idThread, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        return WindowManager::Instance().PostThreadMessage(idThread, msg, wParam, lParam);
    }

    VOID WINAPI PostQuitMessage(int nExitCode)
    {
        WindowManager::Instance().PostQuit(nExitCode);
    }

    LRESULT WINAPI SendMessageW(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        return WindowManager::Instance().SendMessage(hWnd, msg, wParam, lParam);
    }

    LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        (void)wParam;
        (void)lParam;
        switch (msg)
        {
            case WM_NCCREATE:
                return TRUE;
            case WM_CLOSE:
                DestroyWindow(hWnd);
                return 0;
            default:
                return 0;
        }
    }

    UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc)
    {
        return WindowManager::Instance().SetTimer(hWnd, nIDEvent, uElapse, lpTimerFunc);
    }

    BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent)
    {
        return WindowManager::Instance().KillTimer(hWnd, uIDEvent);
    }

    HDEVNOTIFY WINAPI RegisterDeviceNotificationW(HANDLE hRecipient, LPVOID notificationFilter, DWORD flags)
    {
        if (const DWORD fault = FaultPlan::Instance().Take(WinportCall::RegisterDeviceNotificationW))
        {
            SetLastError(fault);
            return nullptr;
        }
        return DeviceNotifications::Instance().Register(hRecipient, notificationFilter, flags);
    }

    BOOL WINAPI UnregisterDeviceNotification(HDEVNOTIFY handle)
    {
        return DeviceNotifications::Instance().Unregister(handle);
    }

} // extern "C"
