// Twin: the C runtime's wide-string functions as the library calls them: bounded copies, case,
// comparison, and wide printf's conversions. (A buffer too small for vswprintf_s is left out: Windows'
// default invalid-parameter handler ends the program there, Wine's returns -1.)
#include <windows.h>

#include "TwinReport.h"

#include <cstdarg>
#include <cstdio>

namespace
{

// Prints the text as hex code units, so both builds print it alike whatever their wchar type.
void Show(const char* name, const WCHAR* text, int result)
{
    std::printf("%s: result=%d text=", name, result);
    for (const WCHAR* p = text; *p; ++p)
        std::printf(*p < 0x80 && *p >= 0x20 ? "%c" : "\\x%04x", static_cast<unsigned>(*p));
    std::printf("\n");
}

int Format(WCHAR* buffer, size_t count, const WCHAR* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vswprintf_s(buffer, count, format, args);
    va_end(args);
    return n;
}

} // namespace

int main()
{
    WCHAR buffer[64];
    WCHAR small[6];

    Show("wcscpy_s", buffer, wcscpy_s(buffer, 64, TEXT("\\\\?\\hid#vid_045e&pid_028e#7&1a2b&0&0000")));
    Show("_wcsupr", _wcsupr(buffer), 0);
    Show("wcsncpy_s(count 3)", small, wcsncpy_s(small, 6, TEXT("abcdefgh"), 3));
    Show("wcsncpy_s(_TRUNCATE)", small, wcsncpy_s(small, 6, TEXT("abcdefgh"), _TRUNCATE));
    std::printf("_wcsicmp equal: %d\n", _wcsicmp(TEXT("HID#Vid_1"), TEXT("hid#vID_1")) == 0);
    std::printf("_wcsicmp order _ vs A: %d\n", _wcsicmp(TEXT("_"), TEXT("A")) < 0);
    std::printf("wcslen: %d\n", static_cast<int>(wcslen(TEXT("abc"))));

    Show("%s %ws", buffer, Format(buffer, 64, TEXT("[%s|%ws]"), TEXT("wide"), TEXT("ws")));
    Show("%hs %S", buffer, Format(buffer, 64, TEXT("[%hs|%S]"), "narrow", "capital"));
    Show("%d %u %x %X %08x", buffer,
         Format(buffer, 64, TEXT("%d %u %x %X %08x"), -5, 4000000000u, 0xbeefu, 0xbeefu, 0x1au));
    Show("%ld %I64d %lld", buffer,
         Format(buffer, 64, TEXT("%ld %I64d %lld"), static_cast<LONG>(-7), -9000000000LL, 9000000000LL));
    Show("%p", buffer, Format(buffer, 64, TEXT("%p"), reinterpret_cast<void*>(0xabc123)));
    Show("%5s|%-5s|%.2s", buffer,
         Format(buffer, 64, TEXT("%5s|%-5s|%.2s"), TEXT("ab"), TEXT("ab"), TEXT("abcdef")));
    Show("%c%hc%%", buffer, Format(buffer, 64, TEXT("%c%hc%%"), TEXT('W'), 'n'));
    Show("%s null", buffer, Format(buffer, 64, TEXT("%s"), static_cast<const WCHAR*>(nullptr)));
    Show("name %d", buffer, Format(buffer, 64, TEXT("Notify window %d"), 1));
    return 0;
}
