// Device mode and page-device state from the first page header.
#include "settings/devmode.h"
#include "log/ILogManager.h"
#include "settings/NumberConv.h"

#include <cstring>

namespace {

const char *const kTraceFile = "InitalizeOemCfg";

} // namespace

void InitDevmode(_DEVMODE *dm, const cups_page_header2_t *header) {
    if (dm == NULL || header == NULL)
        return;
    dm->dmOrientation = 0;
    dm->dmPrintQuality = 0;
    dm->dmYResolution = 0;
    dm->dmCollate = 0;

    dm->dmPrintQuality = Low16(header->HWResolution[0]);
    dm->dmYResolution = Low16(header->HWResolution[1]);
    // Always portrait: the user's rotation lives in the label configuration.
    dm->dmOrientation = 1;
    dm->dmCollate = Low16((uint32_t)RawEnum(header->Collate));

    RVC_TRACE(kTraceFile, 477, "Init dmPrintQuality: %d, dmYResolution: %d",
              (int)dm->dmPrintQuality, (int)dm->dmYResolution);
    RVC_TRACE(kTraceFile, 478, "Init dmOrientation: %d", (int)dm->dmOrientation);
    RVC_TRACE(kTraceFile, 479, "Init dmCollate: %d", (int)dm->dmCollate);
}

void InitOemPDEV(_OEMPDEV *pdev, const cups_page_header2_t *header) {
    if (pdev == NULL || header == NULL)
        return;
    // No page is held until the page loop allocates one.
    pdev->bufStart = NULL;

    pdev->bmInfoHeader.biBitCount = (uint16_t)header->cupsBitsPerPixel;
    pdev->bmInfoHeader.biWidth = (int32_t)header->cupsWidth;
    pdev->srcGdiInfo.szlPhysSize.cx = (int32_t)header->cupsWidth;
    pdev->bmInfoHeader.biHeight = (int32_t)header->cupsHeight;
    pdev->srcGdiInfo.szlPhysSize.cy = (int32_t)header->cupsHeight;
    pdev->srcGdiInfo.ulVertRes = header->cupsHeight;
    pdev->sCurCopies = Low16(header->NumCopies);

    pdev->dwPagePrinted = 0;
    pdev->dwCurPageNum = 0;
    pdev->srcGdiInfo.ptlPhysOffset.x = 0;
    pdev->srcGdiInfo.ptlPhysOffset.y = 0;

    RVC_TRACE(kTraceFile, 515, "Init bmInfoHeader.biWidth: %d", (int)pdev->bmInfoHeader.biWidth);
    RVC_TRACE(kTraceFile, 516, "Init bmInfoHeader.biHeight: %d", (int)pdev->bmInfoHeader.biHeight);
    RVC_TRACE(kTraceFile, 517, "Init bmInfoHeader.biBitCount: %d",
              (int)pdev->bmInfoHeader.biBitCount);
    RVC_TRACE(kTraceFile, 519, "Init sCurCopies: %d", (int)pdev->sCurCopies);
    RVC_TRACE(kTraceFile, 520, "Init dwPagePrinted: %d", (int)pdev->dwPagePrinted);
    RVC_TRACE(kTraceFile, 521, "Init dwCurPageNum: %d", (int)pdev->dwCurPageNum);
    RVC_TRACE(kTraceFile, 522, "Init srcGdiInfo.szlPhysSize.cx: %d",
              (int)pdev->srcGdiInfo.szlPhysSize.cx);
    RVC_TRACE(kTraceFile, 523, "Init srcGdiInfo.szlPhysSize.cy: %d",
              (int)pdev->srcGdiInfo.szlPhysSize.cy);
    RVC_TRACE(kTraceFile, 524, "Init srcGdiInfo.ptlPhysOffset.x: %d",
              (int)pdev->srcGdiInfo.ptlPhysOffset.x);
    RVC_TRACE(kTraceFile, 525, "Init srcGdiInfo.ptlPhysOffset.y: %d",
              (int)pdev->srcGdiInfo.ptlPhysOffset.y);
    RVC_TRACE(kTraceFile, 526, "Init srcGdiInfo.ulVertRes: %d", (int)pdev->srcGdiInfo.ulVertRes);
}

static_assert(sizeof(_OEMPDEV) == 90, "the page-device record is byte-packed");
