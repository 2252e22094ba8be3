#include "MonCursesScreen.h"

#include <curses.h>

CMonCursesScreen::CMonCursesScreen()
{
    initscr();
    cbreak();
    noecho();
    nodelay(stdscr, TRUE);
    keypad(stdscr, TRUE);
    curs_set(0);
    if (has_colors())
    {
        start_color();
        use_default_colors();
        init_pair(1, COLOR_CYAN, -1);
        init_pair(2, COLOR_GREEN, -1);
        init_pair(3, COLOR_BLUE, -1);
        init_pair(4, COLOR_RED, -1);
    }
}

CMonCursesScreen::~CMonCursesScreen()
{
    endwin();
}

int CMonCursesScreen::Columns() const
{
    return COLS;
}

int CMonCursesScreen::Rows() const
{
    return LINES;
}

void CMonCursesScreen::Clear()
{
    erase();
}

void CMonCursesScreen::Text(int row, int column, const std::string& text, MonColour colour)
{
    if (row < 0 || row >= LINES || column < 0 || column >= COLS)
        return;
    attr_t attributes = A_NORMAL;
    switch (colour)
    {
        case MonColour::Title:
            attributes = A_BOLD | COLOR_PAIR(1);
            break;
        case MonColour::Active:
            attributes = A_BOLD | COLOR_PAIR(2);
            break;
        case MonColour::Dim:
            attributes = A_DIM | COLOR_PAIR(3);
            break;
        case MonColour::Alert:
            attributes = A_BOLD | COLOR_PAIR(4);
            break;
        default:
            break;
    }
    attron(attributes);
    mvaddnstr(row, column, text.c_str(), COLS - column);
    attroff(attributes);
}

void CMonCursesScreen::Show()
{
    refresh();
}

int CMonCursesScreen::ReadKey()
{
    const int key = getch();
    switch (key)
    {
        case ERR:
            return MonKeyNone;
        case KEY_PPAGE:
            return MonKeyPageUp;
        case KEY_NPAGE:
            return MonKeyPageDown;
        case KEY_RESIZE:
            return MonKeyResize;
        default:
            return key;
    }
}
