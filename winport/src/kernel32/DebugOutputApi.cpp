// kernel32: debug output goes to the machine's debug-output sink (see Machine.h).
#include <windows.h>

#include "machine/Machine.h"

#include <string>

extern "C" VOID WINAPI OutputDebugStringW(LPCWSTR lpOutputString)
{
    if (lpOutputString != nullptr)
        winport::machine::Machine::Instance().WriteDebugOutput(lpOutputString);
}

extern "C" VOID WINAPI OutputDebugStringA(LPCSTR lpOutputString)
{
    if (lpOutputString == nullptr)
        return;
    std::u16string wide;
    for (const char* p = lpOutputString; *p; ++p)
        wide.push_back(static_cast<unsigned char>(*p));
    winport::machine::Machine::Instance().WriteDebugOutput(wide.c_str());
}
