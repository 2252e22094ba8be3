// The live view's surface on Windows, where Debian has no curses: the console's virtual-terminal
// sequences. It keeps the last frame shown and rewrites only the rows that changed, so a redraw does
// not flicker; the destructor leaves the alternate screen and restores the console's modes.
#pragma once

#include "MonScreen.h"

#include <windows.h>

#include <string>
#include <vector>

class CMonVtScreen : public CMonScreen
{
public:
    CMonVtScreen();
    ~CMonVtScreen() override;
    CMonVtScreen(const CMonVtScreen&) = delete;
    CMonVtScreen& operator=(const CMonVtScreen&) = delete;

    int Columns() const override { return m_columns; }
    int Rows() const override { return m_rows; }
    void Clear() override;
    void Text(int row, int column, const std::string& text, MonColour colour) override;
    void Show() override;
    int ReadKey() override;

private:
    void MeasureConsole();
    std::string RenderRow(int row) const;

    HANDLE m_out;
    HANDLE m_in;
    DWORD m_outMode = 0;
    DWORD m_inMode = 0;
    int m_columns = 80;
    int m_rows = 24;
    std::vector<std::string> m_cells;              // one string of characters per row
    std::vector<std::vector<MonColour>> m_colours; // one colour per cell
    std::vector<std::string> m_shown;              // the rows as last written
};
