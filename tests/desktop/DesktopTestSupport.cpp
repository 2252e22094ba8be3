#include "DesktopTestSupport.h"

#include <map>

namespace desktop_test
{

namespace
{
std::mutex g_registry;
std::map<HWND, PumpingWindow*> g_windows;
PumpingWindow* g_creating = nullptr;
const char16_t kClass[] = u"Desktop Test Window";
} // namespace

PumpingWindow::PumpingWindow(Handler onMessage, bool pump) : m_onMessage(std::move(onMessage))
{
    m_thread = std::thread([this, pump] { Run(pump); });
    std::unique_lock<std::mutex> lock(m_lock);
    m_ready.wait(lock, [this] { return m_threadId != 0; });
}

PumpingWindow::~PumpingWindow()
{
    m_release = true;
    Stop();
}

LRESULT CALLBACK PumpingWindow::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    PumpingWindow* self;
    {
        std::lock_guard<std::mutex> guard(g_registry);
        auto it = g_windows.find(hwnd);
        self = it != g_windows.end() ? it->second : g_creating;
    }
    if (self)
    {
        {
            std::lock_guard<std::mutex> guard(self->m_lock);
            self->m_deliveries.push_back({message, wParam, GetCurrentThreadId()});
        }
        if (self->m_onMessage)
            self->m_onMessage(hwnd, message, wParam, lParam);
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void PumpingWindow::Run(bool pump)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.lpszClassName = kClass;
    RegisterClassW(&wc); // the first window registers the class; later ones find it
    HWND hwnd;
    {
        std::lock_guard<std::mutex> guard(g_registry);
        g_creating = this;
    }
    hwnd = CreateWindowExW(0, kClass, u"test", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    {
        std::lock_guard<std::mutex> guard(g_registry);
        g_creating = nullptr;
        g_windows[hwnd] = this;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_hwnd = hwnd;
        m_threadId = GetCurrentThreadId();
    }
    m_ready.notify_all();
    if (!pump)
    {
        while (!m_release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return;
    }
    MSG msg;
    while (GetMessageW(&msg, hwnd, 0, 0) > 0)
    {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        if (msg.message == WM_APP)
            break;
    }
}

std::vector<Delivery> PumpingWindow::Deliveries()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_deliveries;
}

size_t PumpingWindow::Count(UINT message)
{
    std::lock_guard<std::mutex> guard(m_lock);
    size_t n = 0;
    for (auto& d : m_deliveries)
        n += d.message == message;
    return n;
}

void PumpingWindow::Stop()
{
    if (!m_thread.joinable())
        return;
    PostMessageW(m_hwnd, WM_APP, 0, 0);
    m_thread.join();
    std::lock_guard<std::mutex> guard(g_registry);
    g_windows.erase(m_hwnd);
}

} // namespace desktop_test
