#include "MonApp.h"

#include "MonJsonWriter.h"
#include "MonUsageNames.h"
#include "MonWatchView.h"
#if defined(_WIN32)
#include "MonVtScreen.h"
#else
#include "MonCursesScreen.h"
#endif

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#if !defined(_WIN32)
#include <sys/syscall.h>
#include <unistd.h>
#endif
#include <ostream>
#include <thread>

std::atomic<bool> CMonApp::s_stopRequested{false};

namespace
{
constexpr auto kFrame = std::chrono::milliseconds(16); // up to 60 redraws a second

std::string Hex(uint32_t id)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%X", id);
    return text;
}

std::string Summary(const MonDevice& device)
{
    int buttons = 0, axes = 0, hats = 0;
    for (const _stHidCapability& cap : device.caps)
    {
        if (cap.usagePage == 9)
            ++buttons;
        else if (cap.usagePage == 1 && cap.usage == 0x39)
            ++hats;
        else
            ++axes;
    }
    char text[64];
    std::snprintf(text, sizeof(text), "%d buttons, %d axes, %d hats", buttons, axes, hats);
    return text;
}

// CPU seconds the calling thread has used, from /proc/self/task/<tid>/stat (utime and stime); 0 where
// there is no such file.
double ThreadCpuSeconds()
{
#if defined(_WIN32)
    return 0;
#else
    std::ifstream stat("/proc/self/task/" + std::to_string(static_cast<long>(syscall(SYS_gettid))) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    if (text.rfind(')') == std::string::npos)
        return 0;
    // Fields after the command, which is in parentheses and may hold spaces: utime is the 12th, stime the
    // 13th.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i)
        if (i >= 12)
            ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
#endif
}

std::string EventText(const MonEvent& event)
{
    switch (event.event)
    {
        case NOTIF_DEVICE_ADDED:
            return "device " + Hex(event.value) + " arrived";
        case NOTIF_DEVICE_REMOVED:
            return "device " + Hex(event.value) + " left";
        case NOTIF_SCRIPT_STATE:
            return event.value ? "a script runs" : "no script runs";
        default:
            return "event " + std::to_string(event.event) + " value " + std::to_string(event.value);
    }
}
} // namespace

int CMonApp::Fail(const std::string& message, int status)
{
    m_err << "kvhidmon: " << message << std::endl;
    return status;
}

bool CMonApp::TimeIsUp() const
{
    return s_stopRequested || std::chrono::steady_clock::now() >= m_end;
}

int CMonApp::Run()
{
    if (m_options.command == MonCommand::Help)
    {
        m_out << CMonOptions::Usage();
        return 0;
    }
    if (m_demo.beforeStart)
        m_demo.beforeStart();
    const uint32_t status = m_model.Start();
    if (status != 0)
        return Fail("the library did not start (status " + std::to_string(status) + ")");
    int result = 0;
    switch (m_options.command)
    {
        case MonCommand::List:
            result = List();
            break;
        case MonCommand::Caps:
            result = Caps();
            break;
        default:
            result = Watch();
            break;
    }
    m_model.Stop();
    if (!m_statsLine.empty())
        m_err << m_statsLine << std::endl; // after the screen is given back
    return result;
}

bool CMonApp::Exists(uint32_t id) const
{
    const std::vector<uint32_t> ids = CMonDeviceModel::ListIds();
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

int CMonApp::List()
{
    CMonJsonWriter json(m_out);
    if (!m_options.json && !m_demo.banner.empty())
        m_out << m_demo.banner << '\n';
    for (uint32_t id : CMonDeviceModel::ListIds())
    {
        MonDevice device;
        CMonDeviceModel::Describe(id, device);
        if (m_options.json)
            json.Device(device);
        else
        {
            char line[64];
            std::snprintf(line, sizeof(line), "%-10s %-9s ", Hex(id).c_str(), SourceName(device.source));
            m_out << line << device.name << "  (" << Summary(device) << ")\n";
        }
    }
    m_out.flush();
    return 0;
}

int CMonApp::Caps()
{
    const uint32_t id = m_options.ids[0];
    MonDevice device;
    if (!Exists(id) || CMonDeviceModel::Describe(id, device) != 0)
        return Fail("no device with identifier " + Hex(id) + " (kvhidmon list shows them)");
    if (m_options.json)
    {
        CMonJsonWriter(m_out).Device(device);
        return 0;
    }
    m_out << Hex(id) << ' ' << SourceName(device.source) << ' ' << device.name << '\n';
    m_out << "  #  page   usage  name                 abs         min         max  index\n";
    for (size_t i = 0; i < device.caps.size(); ++i)
    {
        const _stHidCapability& cap = device.caps[i];
        const std::string name = cap.usagePage == 9 && id == VIRTUAL_KEYBOARD_ID
                                     ? "Key " + KeyName(cap.usage)
                                     : UsageName(cap.usagePage, cap.usage);
        char line[160];
        std::snprintf(line, sizeof(line), "%3zu  0x%02X  0x%04X  %-20.20s %3s %11d %11d  %5u\n", i,
                      cap.usagePage, cap.usage, name.c_str(), cap.isAbsolute ? "yes" : "no", cap.minValue,
                      cap.maxValue, cap.index);
        m_out << line;
    }
    m_out.flush();
    return 0;
}

bool CMonApp::WatchInitialDevices()
{
    const std::vector<uint32_t> ids = m_options.ids.empty() ? CMonDeviceModel::ListIds() : m_options.ids;
    for (uint32_t id : ids)
    {
        if ((!m_options.ids.empty() && !Exists(id)) || m_model.Watch(id) != 0)
        {
            Fail("no device with identifier " + Hex(id) + " (kvhidmon list shows them)");
            return false;
        }
    }
    return true;
}

void CMonApp::RefreshFilteredDevices(const std::function<void(uint32_t)>& watched)
{
    std::vector<uint32_t> present;
    for (uint32_t id : CMonDeviceModel::ListIds())
        if (SourceOf(id) == MonSource::Filtered)
            present.push_back(id);
    for (const MonDevice& device : m_model.Snapshot())
        if (device.source == MonSource::Filtered &&
            std::find(present.begin(), present.end(), device.id) == present.end())
            m_model.Forget(device.id);
    const bool all = m_options.ids.empty();
    for (uint32_t id : present)
    {
        const bool wanted = all || std::count(m_options.ids.begin(), m_options.ids.end(), id) != 0;
        if (wanted && !m_model.IsWatched(id) && m_model.Watch(id) == 0)
            watched(id);
    }
}

void CMonApp::HandleEvents(const std::function<void(const MonEvent&)>& report,
                           const std::function<void(uint32_t)>& watched)
{
    for (const MonEvent& event : m_model.TakeEvents())
    {
        report(event);
        const bool wanted =
            m_options.ids.empty() || std::count(m_options.ids.begin(), m_options.ids.end(), event.value) != 0;
        if (event.event == NOTIF_DEVICE_ADDED && wanted && !m_model.IsWatched(event.value))
        {
            if (m_model.Watch(event.value) == 0)
                watched(event.value);
        }
        else if (event.event == NOTIF_DEVICE_REMOVED)
            m_model.Forget(event.value);
        else if (event.event == NOTIF_SCRIPT_STATE)
            RefreshFilteredDevices(watched);
    }
}

int CMonApp::Watch()
{
    if (m_options.durationSeconds)
        m_end = std::chrono::steady_clock::now() +
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(*m_options.durationSeconds));
    m_model.KeepDeliveries(m_options.json);
    if (!WatchInitialDevices())
        return kExitFailure;
    if (m_demo.play)
        m_demo.play();
    const int result = m_options.json ? WatchJson() : WatchView();
    if (m_demo.stop)
        m_demo.stop();
    return result;
}

int CMonApp::WatchJson()
{
    CMonJsonWriter json(m_out);
    for (const MonDevice& device : m_model.Snapshot())
        json.Device(device);
    const auto describe = [&](uint32_t id)
    {
        for (const MonDevice& device : m_model.Snapshot())
            if (device.id == id)
                json.Device(device);
    };
    while (!TimeIsUp())
    {
        m_model.WaitForNews(kFrame);
        // Deliveries first: those taken now arrived before the events handled after them.
        for (const MonDelivery& delivery : m_model.TakeDeliveries())
            json.Values(delivery);
        HandleEvents([&](const MonEvent& event) { json.Event(event); }, describe);
    }
    return 0;
}

int CMonApp::WatchView()
{
#if defined(_WIN32)
    CMonVtScreen screen;
#else
    CMonCursesScreen screen;
#endif
    CMonWatchView view(m_demo.banner.empty() ? "kvhidmon" : m_demo.banner);
    uint64_t drawn = ~uint64_t{0};
    const auto begin = std::chrono::steady_clock::now();
    const double cpuAtBegin = ThreadCpuSeconds();
    uint64_t redraws = 0;
    auto lastDraw = begin;
    while (!TimeIsUp())
    {
        bool changed = false;
        for (int key = screen.ReadKey(); key != MonKeyNone; key = screen.ReadKey())
        {
            if (key == 'q' || key == 'Q' || key == 3 /* Ctrl-C as a key */)
                RequestStop();
            changed = view.Key(key) || key == MonKeyResize || changed;
        }
        HandleEvents(
            [&](const MonEvent& event)
            {
                view.Log(EventText(event),
                         event.event == NOTIF_DEVICE_REMOVED ? MonColour::Alert : MonColour::Normal);
                changed = true;
            },
            [](uint32_t) {});
        const auto now = std::chrono::steady_clock::now();
        // Rates move even when values do not: a redraw at least twice a second.
        if (changed || m_model.Generation() != drawn || now - lastDraw > std::chrono::milliseconds(500))
        {
            drawn = m_model.Generation();
            lastDraw = now;
            view.Draw(screen, m_model.Snapshot());
            ++redraws;
        }
        std::this_thread::sleep_for(kFrame);
    }
    if (m_options.stats)
    {
        // The view's one thread draws and reads the keys; the library's and the demo's threads are not ours.
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        const double cpu = ThreadCpuSeconds() - cpuAtBegin;
        uint64_t reports = 0;
        for (const MonDevice& device : m_model.Snapshot())
            reports += device.reports;
        char line[200];
        std::snprintf(
            line, sizeof(line),
            "kvhidmon: %.1f s, %.0f reports a second, %llu redraws (%.1f a second), view thread %.2f s CPU "
            "(%.1f%% of one core)",
            seconds, reports / seconds, static_cast<unsigned long long>(redraws), redraws / seconds, cpu,
            100 * cpu / seconds);
        m_statsLine = line;
    }
    return 0;
}
