// Twin: WideCharToMultiByte to UTF-8, the conversion winport's debug output and KvCommon's log use.
// Left out: a lpUsedDefaultChar with CP_UTF8, which Wine accepts and Windows' documentation refuses
// (ERROR_INVALID_PARAMETER, as the native tests check).
#include <windows.h>

#include <cstdio>

namespace
{

// Converts text (count units, -1: up to its terminator) into a buffer of size bytes and prints the
// result, the last error and the bytes written.
void Convert(const char* name, const WCHAR* text, int count, int size, DWORD flags = 0)
{
    char buffer[32] = {};
    SetLastError(0);
    int result =
        WideCharToMultiByte(CP_UTF8, flags, text, count, size > 0 ? buffer : nullptr, size, nullptr, nullptr);
    DWORD error = GetLastError();
    std::printf("%s: result=%d error=%lu bytes=", name, result, static_cast<unsigned long>(error));
    for (int i = 0; i < result && size > 0; ++i)
        std::printf("%02x", static_cast<unsigned char>(buffer[i]));
    std::printf("\n");
}

} // namespace

int main()
{
    // "Aé€" and U+1F600 as a surrogate pair.
    const WCHAR mixed[] = {0x41, 0xE9, 0x20AC, 0xD83D, 0xDE00, 0};
    Convert("size query with terminator", mixed, -1, 0);
    Convert("whole text with terminator", mixed, -1, 32);
    Convert("counted text without terminator", mixed, 5, 32);
    Convert("buffer one byte short", mixed, -1, 10);
    const WCHAR lone[] = {0x41, 0xD800, 0x42, 0};
    Convert("unpaired surrogate", lone, -1, 32);
    Convert("unpaired surrogate, strict", lone, -1, 32, WC_ERR_INVALID_CHARS);
    Convert("zero count", mixed, 0, 32);
    Convert("unknown flag", mixed, -1, 32, 0x1);
    return 0;
}
