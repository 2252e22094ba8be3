// kernel32: the tick count, read from the machine's clock.
#include <windows.h>

#include "machine/Machine.h"

extern "C" DWORD WINAPI GetTickCount(void)
{
    return winport::machine::Machine::Instance().GetClock().TickCount();
}

extern "C" ULONGLONG WINAPI GetTickCount64(void)
{
    return winport::machine::Machine::Instance().GetClock().NowMs();
}
