#include "src/dinput8/HidControllers.h"

#include "src/devices/SimulatedDevices.h"

#include <hidpi.h>
#include <hidsdi.h>

namespace winport::dinput8
{

namespace
{

bool IsGameController(USHORT usagePage, USHORT usage)
{
    return usagePage == 0x01 && (usage == 0x04 || usage == 0x05 || usage == 0x08);
}

// A stable instance GUID per device instance, as DirectInput keeps one per device.
GUID InstanceGuid(DWORD devInst)
{
    return GUID{devInst, 0x4B56, 0x4849, {'D', 'I', 'N', 'S', 'T', 0, 0, 0}};
}

} // namespace

std::vector<GameController> HidGameControllers()
{
    DWORD savedError = GetLastError();
    std::vector<GameController> controllers;
    for (const auto& record : devices::SimulatedDevices::Instance().PresentInterfaces())
    {
        HANDLE file = CreateFileW(record.path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            continue;
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        HIDP_CAPS caps{};
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof(attributes);
        if (HidD_GetPreparsedData(file, &preparsed) &&
            HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS && HidD_GetAttributes(file, &attributes) &&
            IsGameController(caps.UsagePage, caps.Usage))
        {
            std::u16string name = record.friendlyName        ? *record.friendlyName
                                  : record.deviceDescription ? *record.deviceDescription
                                                             : u"HID Game Controller";
            controllers.push_back(GameController{InstanceGuid(record.devInst), name, attributes.VendorID,
                                                 attributes.ProductID, caps.Usage});
        }
        if (preparsed)
            HidD_FreePreparsedData(preparsed);
        CloseHandle(file);
    }
    SetLastError(savedError);
    return controllers;
}

} // namespace winport::dinput8
