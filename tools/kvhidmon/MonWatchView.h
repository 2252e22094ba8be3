// The live view of `kvhidmon watch`: one panel per device (axes as bars with value and range, buttons as
// a grid that lights, hats as a direction, reports per second), a log of arrivals, removals and script
// changes, and pages when the panels do not fit. Fits 80x24; a wider screen gets two columns of panels,
// a taller one more panels and more log.
#pragma once

#include "MonDeviceModel.h"
#include "MonScreen.h"

#include <chrono>
#include <deque>
#include <string>
#include <vector>

class CMonWatchView
{
public:
    explicit CMonWatchView(std::string banner) : m_banner(std::move(banner)) {}

    // A log line, stamped with the seconds since the view began.
    void Log(const std::string& line, MonColour colour = MonColour::Normal);
    // Paging keys; true when the key was one.
    bool Key(int key);
    void Draw(CMonScreen& screen, const std::vector<MonDevice>& devices);

    // Rows a device's panel takes at the given width.
    static int PanelHeight(const MonDevice& device, int width);

private:
    // Draws the panel at (row, column) within width and maxRows; returns the rows it needs.
    static int DrawPanel(CMonScreen& screen, int row, int column, int width, int maxRows,
                         const MonDevice& device);
    // Splits the devices into pages of panels that fit rows x columns of panels.
    static std::vector<std::vector<size_t>> Pages(const std::vector<MonDevice>& devices, int rows, int width,
                                                  int panelColumns);

    std::string m_banner;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::deque<std::pair<std::string, MonColour>> m_log;
    int m_page = 0;
};
