// The live view's surface over ncurses (native build): ncurses keeps the screen's last state and sends
// only the cells that changed, so a redraw does not flicker. The constructor takes the terminal, the
// destructor gives it back as it was.
#pragma once

#include "MonScreen.h"

class CMonCursesScreen : public CMonScreen
{
public:
    CMonCursesScreen();
    ~CMonCursesScreen() override;
    CMonCursesScreen(const CMonCursesScreen&) = delete;
    CMonCursesScreen& operator=(const CMonCursesScreen&) = delete;

    int Columns() const override;
    int Rows() const override;
    void Clear() override;
    void Text(int row, int column, const std::string& text, MonColour colour) override;
    void Show() override;
    int ReadKey() override;
};
