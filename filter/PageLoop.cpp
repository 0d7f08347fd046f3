// The page loop: settings and preamble on the first page, the one-page
// hold-back, the page buffer and the end of job.
#include "filter/PageLoop.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <stdio_ext.h>

#include <cups/cups.h>

#include "PageStore.h"
#include "log/ErrorReport.h"
#include "log/ILogManager.h"
#include "render/TSPLRenderClass.h"
#include "settings/NumberConv.h"

tagOEMCFG g_oemCfg;
_DEVMODE g_devMode;
_OEMPDEV g_oemPDEV;

namespace {

const char kSource[] = "rastovortspl";

// The page buffer's address as the log shows it: its low 32 bits.
unsigned int AddressLow32(const void *p) {
    return (unsigned int)(uintptr_t)p;
}

// The renderer keeps nothing between calls: a fresh one for every call, given
// the job's records and stream.
void Attach(CTSPLRenderClass &render, FILE *out) {
    render.SetOemCfgPointer(&g_oemCfg);
    render.SetDevModePointer(&g_devMode);
    render.SetOemPdevPointer(&g_oemPDEV);
    render.SetOutputStream(out);
}

int StartDoc(FILE *out) {
    CTSPLRenderClass render;
    Attach(render, out);
    return render.StartDocCMD();
}

int EmitHeldPage(FILE *out, int isLast) {
    CTSPLRenderClass render;
    Attach(render, out);
    return render.TransCommand(isLast);
}

void FreeHeldPage() {
    free(g_oemPDEV.bufStart);
    g_oemPDEV.bufStart = nullptr;
}

// The stream carries printer data only: once a write has failed, what is
// still buffered is dropped so that nothing follows the broken part.
int DropFailedOutput(tagPAGELOOP *loop) {
    if (!OutputStreamFailed(loop->out)) {
        return 0;
    }
    __fpurge(loop->out);
    ReportError("Unable to write the print data");
    loop->bOutputFailed = 1;
    loop->nStatus = 1;
    return 1;
}

// The job's settings come from the PPD and the first page header, once.
int StartJobSettings(tagPAGELOOP *loop, const cups_page_header2_t *header) {
    RVC_TRACE(kSource, 178, "Begin to initialize configures");
    InitalizeOemCfg(&g_oemCfg, loop->ppd, header);
    InitDevmode(&g_devMode, header);
    InitOemPDEV(&g_oemPDEV, header);
    RVC_TRACE(kSource, 182, "Initializing configures finish");
    int result = StartDoc(loop->out);
    RVC_TRACE(kSource, 190, "Result of StartDocCMD is %d", result);
    loop->firstLayout = loop->pageLayout;
    return DropFailedOutput(loop) ? 0 : 1;
}

// The held page goes out now that another page follows it; a page number
// without a buffer has nothing to emit. Only a failure to print the page
// (already reported) or to send it ends the job.
int HandOverHeldPage(tagPAGELOOP *loop) {
    if (g_oemPDEV.dwCurPageNum == 0 || g_oemPDEV.bufStart == nullptr) {
        return 1;
    }
    int result = EmitHeldPage(loop->out, 0);
    int failed = DropFailedOutput(loop);
    if (result == 0 || failed) {
        FreeHeldPage();
        loop->nStatus = 1;
        return 0;
    }
    return 1;
}

// Every page is stored in the first page's layout, which describes all pages
// to the renderer. One byte at least, so that an empty page still counts as
// held.
int AllocatePage(tagPAGELOOP *loop, const cups_page_header2_t *header) {
    const uint32_t size = loop->firstLayout.dwSize;
    g_oemPDEV.dwBufSize = size;
    g_oemPDEV.bufStart = (unsigned char *)calloc(size != 0 ? size : 1, 1);
    loop->pLine =
        (unsigned char *)calloc(header->cupsBytesPerLine != 0 ? header->cupsBytesPerLine : 1, 1);
    loop->dwStoredRows = 0;
    if (g_oemPDEV.bufStart == nullptr || loop->pLine == nullptr) {
        ReportError("Unable to allocate memory for the page");
        free(loop->pLine);
        loop->pLine = nullptr;
        FreeHeldPage();
        loop->nStatus = 1;
        return 0;
    }
    return 1;
}

} // namespace

void InitializeSetting(char *options, ppd_file_t *ppd) {
    ppdMarkDefaults(ppd);
    cups_option_t *parsed = nullptr;
    int count = cupsParseOptions(options, 0, &parsed);
    if (count > 0 && parsed != nullptr) {
        cupsMarkOptions(ppd, count, parsed);
        // libcups takes any option spelled "mirror" for the standard mirror
        // option and marks MirrorPrint instead, so the label's own "Mirror"
        // choice would never reach the job: mark it by its exact name.
        for (int i = 0; i < count; i++) {
            if (strcmp(parsed[i].name, "Mirror") == 0 && parsed[i].value != nullptr) {
                ppdMarkOption(ppd, "Mirror", parsed[i].value);
            }
        }
    }
    if (parsed != nullptr) {
        cupsFreeOptions(count > 0 ? count : 0, parsed);
    }
}

void StartPage(const ppd_file_t *ppd, const cups_page_header2_t *h, int page) {
    (void)ppd;
    RVC_TRACE(kSource, 30,
              "******************************Start Page %d ******************************", page);
    RVC_TRACE(kSource, 31, "Duplex = %d", RawEnum(h->Duplex));
    RVC_TRACE(kSource, 32, "HWResolution = [ %d %d ]", (int)h->HWResolution[0],
              (int)h->HWResolution[1]);
    RVC_TRACE(kSource, 33, "ImagingBoundingBox = [ %d %d %d %d ]", (int)h->ImagingBoundingBox[0],
              (int)h->ImagingBoundingBox[1], (int)h->ImagingBoundingBox[2],
              (int)h->ImagingBoundingBox[3]);
    RVC_TRACE(kSource, 34, "Margins = [ %d %d ]", (int)h->Margins[0], (int)h->Margins[1]);
    RVC_TRACE(kSource, 35, "ManualFeed = %d", RawEnum(h->ManualFeed));
    RVC_TRACE(kSource, 36, "MediaPosition = %d", (int)h->MediaPosition);
    RVC_TRACE(kSource, 37, "NumCopies = %d", (int)h->NumCopies);
    RVC_TRACE(kSource, 38, "Orientation = %d", RawEnum(h->Orientation));
    RVC_TRACE(kSource, 39, "PageSize = [ %d %d ]", (int)h->PageSize[0], (int)h->PageSize[1]);
    RVC_TRACE(kSource, 40, "cupsWidth = %d", (int)h->cupsWidth);
    RVC_TRACE(kSource, 41, "cupsHeight = %d", (int)h->cupsHeight);
    RVC_TRACE(kSource, 42, "cupsMediaType = %d", (int)h->cupsMediaType);
    RVC_TRACE(kSource, 43, "cupsBitsPerColor = %d", (int)h->cupsBitsPerColor);
    RVC_TRACE(kSource, 44, "cupsBitsPerPixel = %d", (int)h->cupsBitsPerPixel);
    RVC_TRACE(kSource, 45, "cupsBytesPerLine = %d", (int)h->cupsBytesPerLine);
    RVC_TRACE(kSource, 46, "cupsColorOrder = %d", RawEnum(h->cupsColorOrder));
    RVC_TRACE(kSource, 47, "cupsColorSpace = %d", RawEnum(h->cupsColorSpace));
    RVC_TRACE(kSource, 48, "cupsCompression = %d", (int)h->cupsCompression);
}

void PageLoopStart(tagPAGELOOP *loop, ppd_file_t *ppd, FILE *out) {
    memset(&g_oemCfg, 0, sizeof(g_oemCfg));
    memset(&g_devMode, 0, sizeof(g_devMode));
    memset(&g_oemPDEV, 0, sizeof(g_oemPDEV));
    memset(loop, 0, sizeof(*loop));
    loop->ppd = ppd;
    loop->out = out;
}

int PageLoopBeginPage(tagPAGELOOP *loop, const cups_page_header2_t *header) {
    const int n = ++loop->nPageCount;
    StartPage(loop->ppd, header, n);
    if (!DescribeRasterPage(header, n == 1, &loop->pageLayout)) {
        // Nothing of a refused page is printed, nor the page held before it.
        FreeHeldPage();
        loop->nStatus = 1;
        return 0;
    }
    if (n == 1 && !StartJobSettings(loop, header)) {
        return 0;
    }
    RVC_TRACE(kSource, 193, "curPage is %d, bufStart is 0x%x", (int)g_oemPDEV.dwCurPageNum,
              AddressLow32(g_oemPDEV.bufStart));
    if (!HandOverHeldPage(loop)) {
        return 0;
    }
    g_oemPDEV.dwCurPageNum = (uint32_t)n;
    FreeHeldPage();
    return AllocatePage(loop, header);
}

void PageLoopStoreRow(tagPAGELOOP *loop, uint32_t y, const unsigned char *pixels) {
    // Rows beyond the first page's height are cut off.
    if (g_oemPDEV.bufStart == nullptr || y >= loop->firstLayout.dwHeight) {
        return;
    }
    const tagPAGELAYOUT &layout = loop->firstLayout;
    WhiteRows(g_oemPDEV.bufStart, layout, loop->dwStoredRows, y);
    const CRowStore store(layout, loop->pageLayout);
    store.Store(g_oemPDEV.bufStart + (size_t)y * layout.dwStride, pixels);
    if (y >= loop->dwStoredRows) {
        loop->dwStoredRows = y + 1;
    }
}

void PageLoopEndPage(tagPAGELOOP *loop) {
    if (g_oemPDEV.bufStart != nullptr) {
        WhiteRows(g_oemPDEV.bufStart, loop->firstLayout, loop->dwStoredRows,
                  loop->firstLayout.dwHeight);
    }
    free(loop->pLine);
    loop->pLine = nullptr;
}

int PageLoopFinish(tagPAGELOOP *loop) {
    RVC_TRACE(kSource, 247, "EndDoc, bufStart is 0x%x", AddressLow32(g_oemPDEV.bufStart));
    free(loop->pLine);
    loop->pLine = nullptr;
    if (g_oemPDEV.bufStart != nullptr) {
        if (EmitHeldPage(loop->out, 1) == 0) {
            loop->nStatus = 1;
        }
        DropFailedOutput(loop);
        FreeHeldPage();
    }
    if (!loop->bOutputFailed && (fflush(loop->out) != 0 || ferror(loop->out))) {
        __fpurge(loop->out);
        clearerr(loop->out);
        ReportError("Unable to write the print data");
        loop->nStatus = 1;
    }
    return loop->nStatus;
}
