// A window and a window class as the window manager keeps them.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace winport::user32
{

class ThreadQueue;

struct WindowClass
{
    std::u16string name;
    HINSTANCE instance;
    WNDPROC proc;
    ATOM atom;
    int windowCount = 0;
};

struct Window
{
    HWND hwnd;
    std::shared_ptr<WindowClass> windowClass;
    std::u16string title;
    bool messageOnly;
    DWORD threadId;
    std::shared_ptr<ThreadQueue> queue;
};

} // namespace winport::user32
