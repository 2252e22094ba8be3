#include "MonWatchView.h"

#include "MonUsageNames.h"

#include <algorithm>
#include <cstdio>

namespace
{
constexpr size_t kLogKept = 64;
constexpr int kButtonCell = 4; // " 12 ", or "[12]" when pressed

std::string Format(const char* format, long long a, long long b = 0, long long c = 0)
{
    char text[128];
    std::snprintf(text, sizeof(text), format, a, b, c);
    return text;
}

bool IsButton(const _stHidCapability& cap)
{
    return cap.usagePage == 9;
}

bool IsHat(const _stHidCapability& cap)
{
    return cap.usagePage == 1 && cap.usage == 0x39;
}

// The direction of a hat switch: eight positions from its minimum, anything else centred.
const char* HatDirection(const _stHidCapability& cap, int32_t value)
{
    static const char* const directions[] = {"N", "NE", "E", "SE", "S", "SW", "W", "NW"};
    const long long span = static_cast<long long>(cap.maxValue) - cap.minValue + 1;
    if (value < cap.minValue || value > cap.maxValue || span < 8)
        return "centred";
    return directions[(static_cast<long long>(value) - cap.minValue) * 8 / span];
}

int ButtonCount(const MonDevice& device)
{
    return static_cast<int>(std::count_if(device.caps.begin(), device.caps.end(), IsButton));
}

int ButtonRows(const MonDevice& device, int width)
{
    // The virtual keyboard's 255 keys show as one line of the keys held down.
    if (device.id == VIRTUAL_KEYBOARD_ID)
        return 1;
    const int perRow = std::max(1, (width - 2) / kButtonCell);
    return (ButtonCount(device) + perRow - 1) / perRow;
}

void DrawBar(CMonScreen& screen, int row, int column, int width, const _stHidCapability& cap, int32_t value)
{
    const long long span = static_cast<long long>(cap.maxValue) - cap.minValue;
    long long filled = span > 0 ? (static_cast<long long>(value) - cap.minValue) * width / span : 0;
    filled = std::clamp<long long>(filled, 0, width);
    screen.Text(row, column, std::string(filled, '#'), MonColour::Active);
    screen.Text(row, column + static_cast<int>(filled), std::string(width - filled, '-'), MonColour::Dim);
}
} // namespace

void CMonWatchView::Log(const std::string& line, MonColour colour)
{
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    char stamp[24];
    std::snprintf(stamp, sizeof(stamp), "%8.2f s  ", seconds);
    m_log.emplace_back(stamp + line, colour);
    if (m_log.size() > kLogKept)
        m_log.pop_front();
}

bool CMonWatchView::Key(int key)
{
    if (key == MonKeyPageDown || key == 'n' || key == ' ')
        ++m_page;
    else if (key == MonKeyPageUp || key == 'p')
        m_page = std::max(0, m_page - 1);
    else
        return false;
    return true;
}

int CMonWatchView::PanelHeight(const MonDevice& device, int width)
{
    int rows = 1 + ButtonRows(device, width);
    for (const _stHidCapability& cap : device.caps)
        rows += IsButton(cap) ? 0 : 1;
    return rows;
}

int CMonWatchView::DrawPanel(CMonScreen& screen, int row, int column, int width, int maxRows,
                             const MonDevice& device)
{
    // A panel taller than the room it has is cut, never drawn over its neighbours or the log.
    const auto put = [&](int at, int x, const std::string& text, MonColour colour = MonColour::Normal)
    {
        if (at < row + maxRows)
            screen.Text(at, x, text, colour);
    };
    const std::string rate = Format(" %lld/s", static_cast<long long>(device.reportsPerSecond + 0.5));
    const std::string title = Format("0x%llx ", device.id) + SourceName(device.source) + " " + device.name;
    put(row, column, title.substr(0, std::max<int>(0, width - static_cast<int>(rate.size()))),
        MonColour::Title);
    put(row, column + width - static_cast<int>(rate.size()), rate, MonColour::Title);
    int used = 1;
    // Buttons first, as a grid; the keyboard as the names of the keys held down.
    std::string keys;
    int buttons = 0;
    const int perRow = std::max(1, (width - 2) / kButtonCell);
    for (size_t i = 0; i < device.caps.size(); ++i)
    {
        const _stHidCapability& cap = device.caps[i];
        if (!IsButton(cap))
            continue;
        const bool down = i < device.values.size() && device.values[i].value != 0;
        if (device.id == VIRTUAL_KEYBOARD_ID)
        {
            if (down)
                keys += KeyName(cap.usage) + " ";
            continue;
        }
        // Brackets as well as colour, so a pressed button shows on any terminal and in a text capture.
        put(row + used + buttons / perRow, column + 1 + (buttons % perRow) * kButtonCell,
            Format(down ? "[%2lld]" : " %2lld ", cap.usage), down ? MonColour::Active : MonColour::Dim);
        ++buttons;
    }
    if (device.id == VIRTUAL_KEYBOARD_ID)
        put(row + used, column + 2, "keys down: " + keys);
    used += ButtonRows(device, width);
    for (size_t i = 0; i < device.caps.size(); ++i)
    {
        const _stHidCapability& cap = device.caps[i];
        if (IsButton(cap))
            continue;
        const int32_t value = i < device.values.size() ? device.values[i].scaledValue : 0;
        const uint32_t raw = i < device.values.size() ? device.values[i].value : 0;
        std::string label = UsageName(cap.usagePage, cap.usage);
        if (cap.index != 0)
            label += Format(" %lld", cap.index);
        put(row + used, column + 2, label.substr(0, 10));
        if (IsHat(cap))
            put(row + used, column + 13, HatDirection(cap, static_cast<int32_t>(raw)), MonColour::Active);
        else if (!cap.isAbsolute)
            put(row + used, column + 13, Format("moved %+lld", value));
        else
        {
            const std::string numbers = Format(" %7lld (%lld..%lld)", value, cap.minValue, cap.maxValue);
            const int barWidth = std::max(4, width - 13 - static_cast<int>(numbers.size()));
            DrawBar(screen, row + used, column + 13, barWidth, cap, value);
            put(row + used, column + 13 + barWidth, numbers);
        }
        ++used;
    }
    return used;
}

std::vector<std::vector<size_t>> CMonWatchView::Pages(const std::vector<MonDevice>& devices, int rows,
                                                      int width, int panelColumns)
{
    std::vector<std::vector<size_t>> pages(1);
    int column = 0;
    int used = 0;
    for (size_t i = 0; i < devices.size(); ++i)
    {
        const int height = std::min(rows, PanelHeight(devices[i], width) + 1);
        if (used + height > rows && used > 0)
        {
            used = 0;
            if (++column == panelColumns)
            {
                column = 0;
                pages.emplace_back();
            }
        }
        pages.back().push_back(i);
        used += height;
    }
    return pages;
}

void CMonWatchView::Draw(CMonScreen& screen, const std::vector<MonDevice>& devices)
{
    const int columns = screen.Columns();
    const int rows = screen.Rows();
    const int logRows = std::max(3, rows / 5);
    const int panelRows = std::max(1, rows - 3 - logRows);
    const int panelColumns = columns >= 160 ? 2 : 1;
    const int panelWidth = columns / panelColumns - (panelColumns > 1 ? 1 : 0);
    const std::vector<std::vector<size_t>> pages = Pages(devices, panelRows, panelWidth, panelColumns);
    m_page = std::min<int>(m_page, static_cast<int>(pages.size()) - 1);

    screen.Clear();
    screen.Text(0, 0, m_banner, MonColour::Title);
    const std::string keys =
        Format("%lld devices  page %lld/%lld  [n/p PgDn/PgUp] page  [q] quit",
               static_cast<long long>(devices.size()), m_page + 1, static_cast<long long>(pages.size()));
    screen.Text(1, 0, keys);
    int row = 2;
    int column = 0;
    for (size_t index : pages[m_page])
    {
        const int height = std::min(panelRows, PanelHeight(devices[index], panelWidth) + 1);
        if (row + height > 2 + panelRows && row > 2)
        {
            row = 2;
            column += panelWidth + 1;
        }
        DrawPanel(screen, row, column, panelWidth, height, devices[index]);
        row += height;
    }
    const int logTop = rows - logRows;
    screen.Text(logTop - 1, 0, std::string(columns, '='), MonColour::Dim);
    const size_t shown = std::min<size_t>(m_log.size(), logRows);
    for (size_t i = 0; i < shown; ++i)
    {
        const auto& line = m_log[m_log.size() - shown + i];
        screen.Text(logTop + static_cast<int>(i), 0, line.first, line.second);
    }
    screen.Show();
}
