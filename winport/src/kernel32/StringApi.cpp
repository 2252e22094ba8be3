// kernel32: UTF-16 to UTF-8, the one conversion winport and the companions use on the native build.
#include <windows.h>

#include <string>

namespace
{

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80)
        out.push_back(static_cast<char>(c));
    else if (c < 0x800)
        out.append({static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))});
    else if (c < 0x10000)
        out.append({static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                    static_cast<char>(0x80 | (c & 0x3F))});
    else
        out.append({static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
                    static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))});
}

// Encodes count units of text; false at an unpaired surrogate when strict.
bool EncodeUtf8(const char16_t* text, size_t count, bool strict, std::string& out)
{
    for (size_t i = 0; i < count; ++i)
    {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (c >= 0xD800 && c <= 0xDFFF)
        {
            if (strict)
                return false;
            c = kReplacement;
        }
        AppendUtf8(out, c);
    }
    return true;
}

} // namespace

extern "C" int WINAPI WideCharToMultiByte(UINT codePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                          int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                          LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar)
{
    // UTF-8 takes no default character, as on Windows.
    if (codePage != CP_UTF8 || lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 ||
        cbMultiByte < 0 || (cbMultiByte > 0 && lpMultiByteStr == nullptr) || lpDefaultChar != nullptr ||
        lpUsedDefaultChar != nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if ((dwFlags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) != 0)
    {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    // -1: the text and its terminator.
    size_t count = cchWideChar == -1 ? std::char_traits<char16_t>::length(lpWideCharStr) + 1
                                     : static_cast<size_t>(cchWideChar);
    std::string out;
    if (!EncodeUtf8(lpWideCharStr, count, (dwFlags & WC_ERR_INVALID_CHARS) != 0, out))
    {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (cbMultiByte == 0)
        return static_cast<int>(out.size());
    if (out.size() > static_cast<size_t>(cbMultiByte))
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    out.copy(lpMultiByteStr, out.size());
    return static_cast<int>(out.size());
}
