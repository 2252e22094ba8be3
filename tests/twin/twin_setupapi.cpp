// Twin: SetupAPI's enumeration, the interface-detail size protocol and their last errors, over
// whatever HID devices the machine has (at least one; never their number).
#include <windows.h>

// mingw-w64's hid headers declare C functions without extern "C".
#ifdef _WIN32
extern "C"
{
#include <hidsdi.h>
}
#else
#include <hidsdi.h>
#endif
#include <setupapi.h>

#include "TwinReport.h"

#include <cstddef>
#include <vector>

int main()
{
    GUID hid;
    HidD_GetHidGuid(&hid);
    SetLastError(0);
    HDEVINFO none = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT);
    Report("GetClassDevs(null class)", none == INVALID_HANDLE_VALUE);

    HDEVINFO set = SetupDiGetClassDevsW(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    Note("GetClassDevs(hid) valid", set != INVALID_HANDLE_VALUE && set != nullptr);

    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    SetLastError(0);
    Report("EnumDeviceInterfaces(0)", SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 0, &iface));
    Note("interface flags active", (iface.Flags & SPINT_ACTIVE) != 0);
    SP_DEVICE_INTERFACE_DATA past{};
    past.cbSize = sizeof past;
    Report("EnumDeviceInterfaces(9999)", SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 9999, &past));

    SP_DEVICE_INTERFACE_DATA badIface{};
    badIface.cbSize = sizeof badIface + 1;
    Report("EnumDeviceInterfaces(bad cbSize)", SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 0, &badIface));
    GUID other = hid;
    other.Data1 ^= 0x1;
    Report("EnumDeviceInterfaces(other class)", SetupDiEnumDeviceInterfaces(set, nullptr, &other, 0, &past));

    DWORD size = 0;
    SetLastError(0);
    Report("Detail(size query)", SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, 0, &size, nullptr));
    Note("Detail size past header", size > offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath));
    Report("Detail(null buffer, size)",
           SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, size, nullptr, nullptr));

    std::vector<BYTE> buffer(size + 16);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = size;
    Report("Detail(cbSize = buffer size)",
           SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, size, nullptr, nullptr));
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    Report("Detail(buffer 2 bytes short)",
           SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, size - 2, nullptr, nullptr));
    Report("Detail(buffer of 4 bytes)",
           SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, 4, nullptr, nullptr));
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    SetLastError(0);
    Report("Detail(exact size)", SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, size, nullptr, &info));
    Note("path fills the size", size == offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                            (wcslen(detail->DevicePath) + 1) * sizeof(WCHAR));
    Note("path starts with \\\\?\\", detail->DevicePath[0] == '\\' && detail->DevicePath[1] == '\\' &&
                                         detail->DevicePath[2] == '?' && detail->DevicePath[3] == '\\');
    const GUID hidClass = {0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};
    Note("devinfo is of the HIDClass setup class", IsEqualGUID(info.ClassGuid, hidClass));

    SP_DEVINFO_DATA badInfo{};
    badInfo.cbSize = sizeof badInfo - 1;
    Report("EnumDeviceInfo(bad cbSize)", SetupDiEnumDeviceInfo(set, 0, &badInfo));
    Report("EnumDeviceInfo(9999)", SetupDiEnumDeviceInfo(set, 9999, &info));
    SetLastError(0);
    Report("EnumDeviceInfo(0)", SetupDiEnumDeviceInfo(set, 0, &info));

    DWORD needed = 0;
    Report("InstanceId(size query)", SetupDiGetDeviceInstanceIdW(set, &info, nullptr, 0, &needed));
    std::vector<WCHAR> id(needed + 1);
    SetLastError(0);
    Report("InstanceId(exact)", SetupDiGetDeviceInstanceIdW(set, &info, id.data(), needed, nullptr));
    Note("InstanceId size is length + 1", needed == wcslen(id.data()) + 1);
    Note("InstanceId starts with HID\\", id[0] == 'H' && id[1] == 'I' && id[2] == 'D' && id[3] == '\\');

    // SPDRP_INSTALL_STATE is left out: Wine does not answer it for its devices (Windows does, as a
    // REG_DWORD); the native tests cover it.
    DWORD type = 0;
    needed = 0;
    Report("Property(DEVICEDESC, size query)",
           SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_DEVICEDESC, &type, nullptr, 0, &needed));
    Note("DEVICEDESC needs bytes", needed > 0);

    SetLastError(0);
    Report("DestroyDeviceInfoList", SetupDiDestroyDeviceInfoList(set));
    Report("DestroyDeviceInfoList(again)", SetupDiDestroyDeviceInfoList(set));
    return 0;
}
