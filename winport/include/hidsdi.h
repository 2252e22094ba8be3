// <hidsdi.h> for the native build: the HidD_* device functions and
// HIDD_ATTRIBUTES, with the names, layouts and values of the Windows SDK.
// HidD_GetHidGuid lives with the parser; the device-side functions are
// implemented over the machine model.
#pragma once

#include "hidpi.h"
#include "hidusage.h"
#include "winport/basetypes.h"

#pragma pack(push, 4)

typedef struct _HIDD_CONFIGURATION
{
    PVOID cookie;
    ULONG size;
    ULONG RingBufferSize;
} HIDD_CONFIGURATION, *PHIDD_CONFIGURATION;

typedef struct _HIDD_ATTRIBUTES
{
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
} HIDD_ATTRIBUTES, *PHIDD_ATTRIBUTES;

#pragma pack(pop)

extern "C"
{
    // The device interface class of HID collections: {4D1E55B2-F16F-11CF-88CB-001111000030}.
    void NTAPI HidD_GetHidGuid(LPGUID HidGuid);
    // Hands out a copy of the collection's preparsed data; free it with HidD_FreePreparsedData.
    BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE HidDeviceObject, PHIDP_PREPARSED_DATA* PreparsedData);
    BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA PreparsedData);
    BOOLEAN NTAPI HidD_GetAttributes(HANDLE HidDeviceObject, PHIDD_ATTRIBUTES Attributes);
}
