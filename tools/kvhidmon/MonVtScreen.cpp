#include "MonVtScreen.h"

#include <cstdio>

namespace
{
const char* Sgr(MonColour colour)
{
    switch (colour)
    {
        case MonColour::Title:
            return "\x1b[1;36m";
        case MonColour::Active:
            return "\x1b[1;32m";
        case MonColour::Dim:
            return "\x1b[2;34m";
        case MonColour::Alert:
            return "\x1b[1;31m";
        default:
            return "\x1b[0m";
    }
}

void Write(HANDLE out, const std::string& text)
{
    DWORD written = 0;
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}
} // namespace

CMonVtScreen::CMonVtScreen() : m_out(GetStdHandle(STD_OUTPUT_HANDLE)), m_in(GetStdHandle(STD_INPUT_HANDLE))
{
    GetConsoleMode(m_out, &m_outMode);
    GetConsoleMode(m_in, &m_inMode);
    SetConsoleMode(m_out, m_outMode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    // Ctrl-C arrives as a key, so the view ends through its own path and restores the console.
    SetConsoleMode(m_in, m_inMode & ~(ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
    Write(m_out, "\x1b[?1049h\x1b[?25l\x1b[2J");
    MeasureConsole();
}

CMonVtScreen::~CMonVtScreen()
{
    Write(m_out, "\x1b[0m\x1b[?25h\x1b[?1049l");
    SetConsoleMode(m_out, m_outMode);
    SetConsoleMode(m_in, m_inMode);
}

void CMonVtScreen::MeasureConsole()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(m_out, &info))
    {
        m_columns = info.srWindow.Right - info.srWindow.Left + 1;
        m_rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    }
}

void CMonVtScreen::Clear()
{
    const int columns = m_columns;
    const int rows = m_rows;
    MeasureConsole();
    if (columns != m_columns || rows != m_rows)
    {
        m_shown.clear();
        Write(m_out, "\x1b[2J");
    }
    m_cells.assign(m_rows, std::string(m_columns, ' '));
    m_colours.assign(m_rows, std::vector<MonColour>(m_columns, MonColour::Normal));
}

void CMonVtScreen::Text(int row, int column, const std::string& text, MonColour colour)
{
    if (row < 0 || row >= m_rows || column < 0 || column >= m_columns)
        return;
    for (size_t i = 0; i < text.size() && column + static_cast<int>(i) < m_columns; ++i)
    {
        m_cells[row][column + i] = text[i];
        m_colours[row][column + i] = colour;
    }
}

std::string CMonVtScreen::RenderRow(int row) const
{
    std::string out;
    MonColour current = MonColour::Normal;
    out += Sgr(current);
    for (int column = 0; column < m_columns; ++column)
    {
        if (m_colours[row][column] != current)
        {
            current = m_colours[row][column];
            out += "\x1b[0m";
            out += Sgr(current);
        }
        out += m_cells[row][column];
    }
    return out + "\x1b[0m";
}

void CMonVtScreen::Show()
{
    m_shown.resize(m_rows);
    std::string frame;
    for (int row = 0; row < m_rows; ++row)
    {
        std::string text = RenderRow(row);
        if (text == m_shown[row])
            continue;
        char position[32];
        std::snprintf(position, sizeof(position), "\x1b[%d;1H", row + 1);
        frame += position + text;
        m_shown[row] = std::move(text);
    }
    if (!frame.empty())
        Write(m_out, frame);
}

int CMonVtScreen::ReadKey()
{
    DWORD pending = 0;
    while (GetNumberOfConsoleInputEvents(m_in, &pending) && pending > 0)
    {
        INPUT_RECORD record;
        DWORD read = 0;
        if (!ReadConsoleInputW(m_in, &record, 1, &read) || read == 0)
            break;
        if (record.EventType == WINDOW_BUFFER_SIZE_EVENT)
            return MonKeyResize;
        if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown)
            continue;
        switch (record.Event.KeyEvent.wVirtualKeyCode)
        {
            case VK_PRIOR:
                return MonKeyPageUp;
            case VK_NEXT:
                return MonKeyPageDown;
            default:
                if (record.Event.KeyEvent.uChar.UnicodeChar != 0)
                    return record.Event.KeyEvent.uChar.UnicodeChar;
        }
    }
    return MonKeyNone;
}
