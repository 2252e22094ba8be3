// A registered window class as the window manager keeps it.
#pragma once

#include <windows.h>

#include <string>

namespace winport::user32
{

struct WindowClass
{
    std::u16string name; // as registered; looked up without regard to case
    HINSTANCE instance;
    WNDPROC proc;
    ATOM atom;
    int windowCount = 0;
};

} // namespace winport::user32
