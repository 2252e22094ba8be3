// The drawing surface of the live view: a grid of character cells drawn a frame at a time, and the
// keyboard. ncurses stands behind it natively, the console's virtual-terminal sequences on Windows.
#pragma once

#include <string>

enum class MonColour
{
    Normal,
    Title,  // headings and the key help
    Active, // a lit button, a bar's filled part
    Dim,    // a button not pressed, a bar's empty part
    Alert   // log lines of removals
};

enum MonKey : int
{
    MonKeyNone = -1,
    MonKeyPageUp = 0x1000,
    MonKeyPageDown,
    MonKeyResize
};

class CMonScreen
{
public:
    virtual ~CMonScreen() = default;

    virtual int Columns() const = 0;
    virtual int Rows() const = 0;
    // A frame: Clear, then Text calls, then Show, which puts on the terminal only what changed.
    virtual void Clear() = 0;
    // Text cut at the right edge; rows and columns outside the screen are ignored.
    virtual void Text(int row, int column, const std::string& text, MonColour colour = MonColour::Normal) = 0;
    virtual void Show() = 0;
    // A key typed since the last call, a MonKey, or MonKeyNone.
    virtual int ReadKey() = 0;
};
