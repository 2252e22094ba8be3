// <hidpddi.h> for the native build: the driver-side entry points of the HID
// parser, HidP_GetCollectionDescription and HidP_FreeCollectionDescription,
// with the DDK's names and layouts. Native only; mingw-w64 has no such header.
#pragma once

#include "hidpi.h"
#include "winport/basetypes.h"

typedef enum _POOL_TYPE
{
    NonPagedPool,
    PagedPool
} POOL_TYPE;

typedef struct _HIDP_COLLECTION_DESC
{
    USAGE UsagePage;
    USAGE Usage;
    UCHAR CollectionNumber;
    UCHAR Reserved[15];
    USHORT InputLength;
    USHORT OutputLength;
    USHORT FeatureLength;
    USHORT PreparsedDataLength;
    PHIDP_PREPARSED_DATA PreparsedData;
} HIDP_COLLECTION_DESC, *PHIDP_COLLECTION_DESC;

typedef struct _HIDP_REPORT_IDS
{
    UCHAR ReportID;
    UCHAR CollectionNumber;
    USHORT InputLength;
    USHORT OutputLength;
    USHORT FeatureLength;
} HIDP_REPORT_IDS, *PHIDP_REPORT_IDS;

typedef struct _HIDP_GETCOLDESC_DBG
{
    ULONG BreakOffset;
    ULONG ErrorCode;
    ULONG Args[6];
} HIDP_GETCOLDESC_DBG, *PHIDP_GETCOLDESC_DBG;

typedef struct _HIDP_DEVICE_DESC
{
    HIDP_COLLECTION_DESC* CollectionDesc;
    ULONG CollectionDescLength;
    HIDP_REPORT_IDS* ReportIDs;
    ULONG ReportIDsLength;
    HIDP_GETCOLDESC_DBG Dbg;
} HIDP_DEVICE_DESC, *PHIDP_DEVICE_DESC;

extern "C"
{
    // Parses a report descriptor into one preparsed-data block per top-level
    // collection, plus the report-ID table. On failure nothing is left allocated
    // and Dbg.BreakOffset holds the offset of the offending item. Release a
    // successful result with HidP_FreeCollectionDescription.
    NTSTATUS NTAPI HidP_GetCollectionDescription(PHIDP_REPORT_DESCRIPTOR ReportDesc, ULONG DescLength,
                                                 POOL_TYPE PoolType, PHIDP_DEVICE_DESC DeviceDescription);
    VOID NTAPI HidP_FreeCollectionDescription(PHIDP_DEVICE_DESC DeviceDescription);

    // winport extension for the device side: a preparsed-data block holds no
    // pointers, so a copy is PreparsedDataLength bytes made with memcpy.
    // WinportHidP_CopyPreparsedData returns such a copy (NULL when out of memory or when
    // the source is not preparsed data); WinportHidP_FreePreparsedData releases it and
    // returns FALSE for anything that is not a block it handed out.
    PHIDP_PREPARSED_DATA NTAPI WinportHidP_CopyPreparsedData(PHIDP_PREPARSED_DATA PreparsedData);
    BOOLEAN NTAPI WinportHidP_FreePreparsedData(PHIDP_PREPARSED_DATA PreparsedData);
}
