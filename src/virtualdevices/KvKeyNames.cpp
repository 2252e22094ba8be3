#include "KvKeyNames.h"

#include <array>

const WCHAR NO_KEY_NAME[] = TEXT("???");

namespace
{
constexpr DWORD LAST_NAMED_CODE = 0xED;

struct KeyName
{
    DWORD code;
    LPCWSTR name;
};

// Every named code, in code order; the codes left out have no name.
constexpr KeyName keyNames[] = {
    {0x01, TEXT("ESCAPE")},
    {0x02, TEXT("1")},
    {0x03, TEXT("2")},
    {0x04, TEXT("3")},
    {0x05, TEXT("4")},
    {0x06, TEXT("5")},
    {0x07, TEXT("6")},
    {0x08, TEXT("7")},
    {0x09, TEXT("8")},
    {0x0A, TEXT("9")},
    {0x0B, TEXT("0")},
    {0x0C, TEXT("MINUS")},
    {0x0D, TEXT("EQUALS")},
    {0x0E, TEXT("BACK")},
    {0x0F, TEXT("TAB")},
    {0x10, TEXT("Q")},
    {0x11, TEXT("W")},
    {0x12, TEXT("E")},
    {0x13, TEXT("R")},
    {0x14, TEXT("T")},
    {0x15, TEXT("Y")},
    {0x16, TEXT("U")},
    {0x17, TEXT("I")},
    {0x18, TEXT("O")},
    {0x19, TEXT("P")},
    {0x1A, TEXT("LBRACKET")},
    {0x1B, TEXT("RBRACKET")},
    {0x1C, TEXT("RETURN")},
    {0x1D, TEXT("LCONTROL")},
    {0x1E, TEXT("A")},
    {0x1F, TEXT("S")},
    {0x20, TEXT("D")},
    {0x21, TEXT("F")},
    {0x22, TEXT("G")},
    {0x23, TEXT("H")},
    {0x24, TEXT("J")},
    {0x25, TEXT("K")},
    {0x26, TEXT("L")},
    {0x27, TEXT("SEMICOLON")},
    {0x28, TEXT("APOSTROPHE")},
    {0x29, TEXT("GRAVE")},
    {0x2A, TEXT("LSHIFT")},
    {0x2B, TEXT("BACKSLASH")},
    {0x2C, TEXT("Z")},
    {0x2D, TEXT("X")},
    {0x2E, TEXT("C")},
    {0x2F, TEXT("V")},
    {0x30, TEXT("B")},
    {0x31, TEXT("N")},
    {0x32, TEXT("M")},
    {0x33, TEXT("COMMA")},
    {0x34, TEXT("PERIOD")},
    {0x35, TEXT("SLASH")},
    {0x36, TEXT("RSHIFT")},
    {0x37, TEXT("MULTIPLY")},
    {0x38, TEXT("LMENU")},
    {0x39, TEXT("SPACE")},
    {0x3A, TEXT("CAPITAL")},
    {0x3B, TEXT("F1")},
    {0x3C, TEXT("F2")},
    {0x3D, TEXT("F3")},
    {0x3E, TEXT("F4")},
    {0x3F, TEXT("F5")},
    {0x40, TEXT("F6")},
    {0x41, TEXT("F7")},
    {0x42, TEXT("F8")},
    {0x43, TEXT("F9")},
    {0x44, TEXT("F10")},
    {0x45, TEXT("NUMLOCK")},
    {0x46, TEXT("SCROLL")},
    {0x47, TEXT("NUMPAD7")},
    {0x48, TEXT("NUMPAD8")},
    {0x49, TEXT("NUMPAD9")},
    {0x4A, TEXT("SUBTRACT")},
    {0x4B, TEXT("NUMPAD4")},
    {0x4C, TEXT("NUMPAD5")},
    {0x4D, TEXT("NUMPAD6")},
    {0x4E, TEXT("ADD")},
    {0x4F, TEXT("NUMPAD1")},
    {0x50, TEXT("NUMPAD2")},
    {0x51, TEXT("NUMPAD3")},
    {0x52, TEXT("NUMPAD0")},
    {0x53, TEXT("DECIMAL")},
    {0x56, TEXT("OEM_102")},
    {0x57, TEXT("F11")},
    {0x58, TEXT("F12")},
    {0x64, TEXT("F13")},
    {0x65, TEXT("F14")},
    {0x66, TEXT("F15")},
    {0x70, TEXT("KANA")},
    {0x73, TEXT("ABNT_C1")},
    {0x79, TEXT("CONVERT")},
    {0x7B, TEXT("NOCONVERT")},
    {0x7D, TEXT("YEN")},
    {0x7E, TEXT("ABNT_C2")},
    {0x8D, TEXT("NUMPADEQUALS")},
    {0x90, TEXT("PREVTRACK")},
    {0x91, TEXT("AT")},
    {0x92, TEXT("COLON")},
    {0x93, TEXT("UNDERLINE")},
    {0x94, TEXT("KANJI")},
    {0x95, TEXT("STOP")},
    {0x96, TEXT("AX")},
    {0x97, TEXT("UNLABELED")},
    {0x99, TEXT("NEXTTRACK")},
    {0x9C, TEXT("NUMPADENTER")},
    {0x9D, TEXT("RCONTROL")},
    {0xA0, TEXT("MUTE")},
    {0xA1, TEXT("CALCULATOR")},
    {0xA2, TEXT("PLAYPAUSE")},
    {0xA4, TEXT("MEDIASTOP")},
    {0xAE, TEXT("VOLUMEDOWN")},
    {0xB0, TEXT("VOLUMEUP")},
    {0xB2, TEXT("WEBHOME")},
    {0xB3, TEXT("NUMPADCOMMA")},
    {0xB5, TEXT("DIVIDE")},
    {0xB7, TEXT("SYSRQ")},
    {0xB8, TEXT("RMENU")},
    {0xC5, TEXT("PAUSE")},
    {0xC7, TEXT("HOME")},
    {0xC8, TEXT("UP")},
    {0xC9, TEXT("PRIOR")},
    {0xCB, TEXT("LEFT")},
    {0xCD, TEXT("RIGHT")},
    {0xCF, TEXT("END")},
    {0xD0, TEXT("DOWN")},
    {0xD1, TEXT("NEXT")},
    {0xD2, TEXT("INSERT")},
    {0xD3, TEXT("DELETE")},
    {0xDB, TEXT("LWIN")},
    {0xDC, TEXT("RWIN")},
    {0xDD, TEXT("APPS")},
    {0xDE, TEXT("POWER")},
    {0xDF, TEXT("SLEEP")},
    {0xE3, TEXT("WAKE")},
    {0xE5, TEXT("WEBSEARCH")},
    {0xE6, TEXT("WEBFAVORITES")},
    {0xE7, TEXT("WEBREFRESH")},
    {0xE8, TEXT("WEBSTOP")},
    {0xE9, TEXT("WEBFORWARD")},
    {0xEA, TEXT("WEBBACK")},
    {0xEB, TEXT("MYCOMPUTER")},
    {0xEC, TEXT("MAIL")},
    {0xED, TEXT("MEDIASELECT")},
};
static_assert(sizeof(keyNames) / sizeof(keyNames[0]) == 144, "144 named key codes");

// Indexed by code, so a lookup is one array read; built by the compiler.
constexpr std::array<LPCWSTR, LAST_NAMED_CODE + 1> BuildTable()
{
    std::array<LPCWSTR, LAST_NAMED_CODE + 1> table{};
    for (const KeyName& key : keyNames)
        table[key.code] = key.name;
    return table;
}

constexpr std::array<LPCWSTR, LAST_NAMED_CODE + 1> nameByCode = BuildTable();
} // namespace

LPCWSTR GetVirtualKeyboardKeyName(DWORD keyCode)
{
    if (keyCode - 1 > LAST_NAMED_CODE - 1)
        return NO_KEY_NAME;
    const LPCWSTR name = nameByCode[keyCode];
    return name != nullptr ? name : NO_KEY_NAME;
}
