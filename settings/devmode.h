// Device mode and page-device state, derived from the first page header.
#ifndef RVC_SETTINGS_DEVMODE_H
#define RVC_SETTINGS_DEVMODE_H

#include <cstdint>

#include <cups/raster.h>

#include "settings/bitmap_types.h"

struct _DEVMODE {
    int16_t dmOrientation;
    int16_t dmPrintQuality;
    int16_t dmYResolution;
    int16_t dmCollate;
};

#pragma pack(push, 1)
// The members of the device-capabilities record that the filter uses.
struct tagGDIINFO {
    uint32_t ulVertRes;
    tagPOINT ptlPhysOffset;
    tagSIZE szlPhysSize;
};

struct _OEMPDEV {
    unsigned char *bufStart;
    uint32_t dwBufSize;
    tagBITMAPINFOHEADER bmInfoHeader;
    tagGDIINFO srcGdiInfo;
    uint32_t dwCurPageNum;
    int16_t sCurCopies;
    uint32_t dwPagePrinted;
    int32_t nSizeWidth;
    int32_t nSizeHeight;
};
#pragma pack(pop)

// Both do nothing when either pointer is null.
void InitDevmode(_DEVMODE *dm, const cups_page_header2_t *header);
void InitOemPDEV(_OEMPDEV *pdev, const cups_page_header2_t *header);

#endif
