// A window as the window manager keeps it.
#pragma once

#include "src/user32/WindowClass.h"

#include <windows.h>

#include <memory>
#include <string>

namespace winport::user32
{

class ThreadQueue;

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
