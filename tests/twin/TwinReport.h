// Output helpers shared by the twin programs: every line is a status both builds must print alike.
#pragma once

#include <windows.h>

#include <cstdio>

// "name: result=<r> error=<e>", the error read right after the call.
inline void Report(const char* name, unsigned long result)
{
    unsigned long error = GetLastError();
    std::printf("%s: result=%lu error=%lu\n", name, result, error);
}

inline void Note(const char* name, bool value)
{
    std::printf("%s: %s\n", name, value ? "yes" : "no");
}
