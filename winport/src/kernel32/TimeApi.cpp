// kernel32: the tick count, read from the machine's clock.
#include <windows.h>

#include "src/kernel32/Clock.h"

extern "C" DWORD WINAPI GetTickCount(void)
{
    return winport::kernel32::Clock::Instance().TickCount();
}

extern "C" ULONGLONG WINAPI GetTickCount64(void)
{
    return winport::kernel32::Clock::Instance().NowMs();
}
