// kernel32: debug output goes to the process's debug-output sink (DebugOutput.h).
#include <windows.h>

#include "src/kernel32/DebugOutput.h"

#include <string>

using winport::kernel32::DebugOutput;

extern "C" VOID WINAPI OutputDebugStringW(LPCWSTR lpOutputString)
{
    if (lpOutputString != nullptr)
        DebugOutput::Instance().Write(lpOutputString);
}

extern "C" VOID WINAPI OutputDebugStringA(LPCSTR lpOutputString)
{
    if (lpOutputString == nullptr)
        return;
    std::u16string wide;
    for (const char* p = lpOutputString; *p; ++p)
        wide.push_back(static_cast<unsigned char>(*p));
    DebugOutput::Instance().Write(wide.c_str());
}
