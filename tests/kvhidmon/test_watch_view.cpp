// The live view drawn on a screen of cells: what a panel shows for a device's values, that panels and the
// log keep to their own rows at 80x24, that more devices than fit are paged, and that a wide screen uses
// two columns.
#include <gtest/gtest.h>

#include "MonWatchView.h"

#include <algorithm>

namespace
{
class CFakeScreen : public CMonScreen
{
public:
    CFakeScreen(int columns, int rows) : m_columns(columns), m_rows(rows) {}

    int Columns() const override { return m_columns; }
    int Rows() const override { return m_rows; }
    void Clear() override
    {
        cells.assign(m_rows, std::string(m_columns, ' '));
        colours.assign(m_rows, std::vector<MonColour>(m_columns, MonColour::Normal));
    }
    void Text(int row, int column, const std::string& text, MonColour colour) override
    {
        ASSERT_GE(row, 0);
        ASSERT_LT(row, m_rows);
        for (size_t i = 0; i < text.size() && column + static_cast<int>(i) < m_columns; ++i)
        {
            cells[row][column + i] = text[i];
            colours[row][column + i] = colour;
        }
    }
    void Show() override { ++shown; }
    int ReadKey() override { return MonKeyNone; }

    // The row holding the text, or -1.
    int RowOf(const std::string& text) const
    {
        for (size_t row = 0; row < cells.size(); ++row)
            if (cells[row].find(text) != std::string::npos)
                return static_cast<int>(row);
        return -1;
    }
    MonColour ColourAt(int row, const std::string& text) const { return colours[row][cells[row].find(text)]; }

    std::vector<std::string> cells;
    std::vector<std::vector<MonColour>> colours;
    int shown = 0;

private:
    int m_columns;
    int m_rows;
};

_stHidCapability Cap(uint16_t page, uint16_t usage, int32_t min, int32_t max)
{
    _stHidCapability cap = {};
    cap.usagePage = page;
    cap.usage = usage;
    cap.isAbsolute = 1;
    cap.minValue = min;
    cap.maxValue = max;
    return cap;
}

// A pad: buttons 1-12, X (0..255) and a hat (0..7), with the values given.
MonDevice Pad(uint32_t id, uint32_t buttonsDown, int32_t x, int32_t hat)
{
    MonDevice device;
    device.id = id;
    device.name = "Pad " + std::to_string(id);
    for (uint16_t b = 1; b <= 12; ++b)
        device.caps.push_back(Cap(9, b, 0, 128));
    device.caps.push_back(Cap(1, 0x30, 0, 255));
    device.caps.push_back(Cap(1, 0x39, 0, 7));
    for (const _stHidCapability& cap : device.caps)
    {
        const bool button = cap.usagePage == 9;
        const int32_t value = button ? ((buttonsDown >> (cap.usage - 1)) & 1) : cap.usage == 0x30 ? x : hat;
        device.values.push_back(
            _stHidValue{cap.usage, cap.usagePage, static_cast<uint32_t>(value), value, 0});
    }
    return device;
}
} // namespace

TEST(WatchViewTest, APanelShowsButtonsLitBarsWithValueAndRangeAndTheHatsDirection)
{
    CFakeScreen screen(80, 24);
    CMonWatchView view("banner");
    view.Draw(screen, {Pad(3, 0b100, 255, 2)});
    const int title = screen.RowOf("0x3 physical Pad 3");
    ASSERT_GE(title, 2);
    const int buttons = title + 1;
    EXPECT_EQ(screen.ColourAt(buttons, "[ 3]"), MonColour::Active);
    EXPECT_EQ(screen.ColourAt(buttons, "  2 "), MonColour::Dim);
    EXPECT_EQ(screen.cells[buttons].find("[ 2]"), std::string::npos);
    const int x = screen.RowOf("  X ");
    EXPECT_NE(screen.cells[x].find("#####"), std::string::npos);
    EXPECT_EQ(screen.cells[x].find("-"), std::string::npos) << "a full axis fills its bar";
    EXPECT_NE(screen.cells[x].find("255 (0..255)"), std::string::npos);
    EXPECT_NE(screen.cells[screen.RowOf("  Hat ")].find(" E"), std::string::npos);
    EXPECT_EQ(screen.shown, 1);
}

TEST(WatchViewTest, AHatOutsideItsRangeIsCentred)
{
    CFakeScreen screen(80, 24);
    CMonWatchView view("banner");
    view.Draw(screen, {Pad(0, 0, 0, 8)});
    EXPECT_NE(screen.cells[screen.RowOf("  Hat ")].find("centred"), std::string::npos);
}

TEST(WatchViewTest, SixteenDevicesAt80x24ArePagedAndTheLogKeepsItsRows)
{
    std::vector<MonDevice> devices;
    for (uint32_t id = 0; id < 16; ++id)
        devices.push_back(Pad(id, 0, 0, 0));
    CMonWatchView view("banner");
    for (int i = 0; i < 10; ++i)
        view.Log("event " + std::to_string(i));
    CFakeScreen screen(80, 24);
    view.Draw(screen, devices);
    const int separator = screen.RowOf("=====");
    ASSERT_GT(separator, 2);
    // The newest log lines fill the rows below the separator; no panel reaches them.
    EXPECT_EQ(screen.RowOf("event 9"), 23);
    EXPECT_GT(screen.RowOf("event 9"), separator);
    for (uint32_t id = 0; id < 16; ++id)
    {
        const int row = screen.RowOf("Pad " + std::to_string(id) + " ");
        EXPECT_TRUE(row == -1 || row < separator) << id;
    }
    EXPECT_NE(screen.RowOf("page 1/"), -1);
    EXPECT_NE(screen.RowOf("Pad 0 "), -1);

    // Paging forward shows devices the first page did not, and stops at the last page.
    std::vector<bool> seen(16, false);
    for (int page = 0; page < 16; ++page)
    {
        for (uint32_t id = 0; id < 16; ++id)
            seen[id] = seen[id] || screen.RowOf("Pad " + std::to_string(id) + " ") != -1;
        EXPECT_TRUE(view.Key(MonKeyPageDown));
        view.Draw(screen, devices);
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 16);
    EXPECT_EQ(screen.RowOf("Pad 0 "), -1);
    EXPECT_TRUE(view.Key('p'));
    EXPECT_FALSE(view.Key('x'));
}

TEST(WatchViewTest, AWideScreenShowsTwoColumnsOfPanels)
{
    std::vector<MonDevice> devices;
    for (uint32_t id = 0; id < 6; ++id)
        devices.push_back(Pad(id, 0, 0, 0));
    CMonWatchView view("banner");
    CFakeScreen narrow(80, 24);
    view.Draw(narrow, devices);
    CFakeScreen wide(200, 24);
    view.Draw(wide, devices);
    int narrowShown = 0, wideShown = 0, rightColumn = 0;
    for (uint32_t id = 0; id < 6; ++id)
    {
        const std::string name = "Pad " + std::to_string(id) + " ";
        narrowShown += narrow.RowOf(name) != -1;
        const int row = wide.RowOf(name);
        wideShown += row != -1;
        rightColumn += row != -1 && wide.cells[row].find(name) >= 100;
    }
    EXPECT_LT(narrowShown, 6);
    EXPECT_EQ(wideShown, 6);
    EXPECT_GT(rightColumn, 0);
}
