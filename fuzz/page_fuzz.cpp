// Settings records and page images straight into the renderer: the job
// preamble, then the page emitted once or twice (not last, then last).
// The records are made as the job makes them: the device records from a
// page header the page loop accepts (24-bit colour or 8-bit grey, 1 to
// 32767 dpi), the label record with the values its
// initialisers can store (any PPD code text), and the page painted with
// rectangles of colour on white.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <cups/raster.h>

#include "fuzz/FuzzSupport.h"
#include "render/TSPLRenderClass.h"
#include "settings/devmode.h"
#include "settings/oemcfg.h"

namespace {

// What the initialisers store for a PPD code read as v.
int64_t Wide(int32_t v) { return (int64_t)v; }
int32_t Times(int32_t v, uint32_t k, uint32_t add) { return (int32_t)((uint32_t)v * k + add); }

void FillConfig(rvcfuzz::ByteReader &in, tagOEMCFG &c, int16_t xdpi, int16_t ydpi) {
    memset(&c, 0, sizeof(c));
    c.sHrzDir = Wide(in.Take<int8_t>());
    c.sVtcDir = Wide(in.Take<int8_t>());
    c.sHrzOffset = Wide(in.Take<int16_t>());
    c.sVtcOffset = Wide(in.Take<int16_t>());
    c.sDensity = Wide(in.Take<int32_t>());
    static const int16_t kRot[5][2] = {{0, 0}, {1, 1}, {1, 0}, {0, 1}, {0, 0}};
    const uint8_t rot = in.Take<uint8_t>() % 5;
    c.sRotation = kRot[rot][0];
    c.sRotate90 = kRot[rot][1];
    c.sMirror = in.Take<int16_t>();
    c.bNegative = in.Take<int8_t>();
    c.dwOperationAfterPrn = (uint64_t)Wide(in.Take<int8_t>());
    c.dwOperationModeAfterPrn = (uint64_t)Wide(in.Take<int8_t>());
    c.nBrightness = Times(in.Take<int32_t>(), 2, 0);
    c.nContrast = Times(in.Take<int32_t>(), 2, 0);
    c.sPaperType = in.Take<int8_t>();
    c.sLabelType = in.Take<int8_t>();
    c.GAPHeight = c.sBLineHeight = in.Take<int16_t>();
    c.GAPOffset = c.sBLineOffset = in.Take<int16_t>();
    c.sIntervalValue = in.Take<int16_t>();
    c.sFeedLen = (int16_t)Times(in.Take<int16_t>(), 10, 0);
    c.sHalftoneMethod = in.Take<int8_t>();
    c.sIsLineImaginary = in.Take<int8_t>();
    c.sMinImaginaryLineLen = in.Take<int16_t>();
    c.sBlackInterval = in.Take<int16_t>();
    c.sWhiteInterval = in.Take<int16_t>();
    c.nLevelsAdj = Times(in.Take<int16_t>(), 3, 300);
    c.sMaxOutputWidth = in.Take<int16_t>();
    c.sOutputXDPI = xdpi;
    c.sOutputYDPI = ydpi;
    c.sPaperMode = in.Take<int8_t>();
}

int16_t Resolution(uint8_t pick, uint16_t any) {
    switch (pick % 4) {
    case 0: return 203;
    case 1: return 300;
    case 2: return 600;
    default: return (int16_t)(1 + any % 32767);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    rvcfuzz::CaptureStandardOutput();
    rvcfuzz::StartSilentLogger();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    rvcfuzz::ByteReader in(data, size);
    cups_page_header2_t h;
    memset(&h, 0, sizeof(h));
    const bool grey = in.Take<uint8_t>() & 1;
    h.cupsWidth = 1 + in.Take<uint16_t>() % 400;
    h.cupsHeight = 1 + in.Take<uint16_t>() % 400;
    const uint8_t xpick = in.Take<uint8_t>();
    const uint8_t ypick = in.Take<uint8_t>();
    h.HWResolution[0] = (unsigned)Resolution(xpick, in.Take<uint16_t>());
    h.HWResolution[1] = (unsigned)Resolution(ypick, in.Take<uint16_t>());
    h.NumCopies = in.Take<uint8_t>() % 12;
    h.Collate = (in.Take<uint8_t>() & 1) ? CUPS_TRUE : CUPS_FALSE;
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = grey ? 8 : 24;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = grey ? CUPS_CSPACE_W : CUPS_CSPACE_RGB;
    h.cupsBytesPerLine = h.cupsWidth * (grey ? 1 : 3);
    // The page buffer as the page loop lays it out for such a header.
    const uint32_t bpp = grey ? 1 : 3;
    const uint32_t stride = ((h.cupsWidth * h.cupsBitsPerPixel + 31) >> 5) << 2;
    const uint32_t bufSize = stride * h.cupsHeight;

    tagOEMCFG cfg;
    FillConfig(in, cfg, (int16_t)h.HWResolution[0], (int16_t)h.HWResolution[1]);
    _DEVMODE dm;
    _OEMPDEV pdev;
    memset(&dm, 0, sizeof(dm));
    memset(&pdev, 0, sizeof(pdev));
    InitDevmode(&dm, &h);
    InitOemPDEV(&pdev, &h);
    pdev.dwPagePrinted = in.Take<uint8_t>();
    const uint8_t calls = in.Take<uint8_t>();

    // White page (padding zero), then rectangles: x, y, w, h, b, g, r.
    unsigned char *page = (unsigned char *)calloc(bufSize, 1);
    if (page == nullptr) {
        return 0;
    }
    for (uint32_t y = 0; y < h.cupsHeight; ++y) {
        memset(page + (size_t)y * stride, 255, h.cupsWidth * bpp);
    }
    while (in.RestSize() >= 7) {
        uint32_t x0 = in.Take<uint8_t>() * h.cupsWidth / 256;
        uint32_t y0 = in.Take<uint8_t>() * h.cupsHeight / 256;
        uint32_t w = 1 + in.Take<uint8_t>() * h.cupsWidth / 256;
        uint32_t hh = 1 + in.Take<uint8_t>() * h.cupsHeight / 256;
        unsigned char bgr[3] = {in.Take<uint8_t>(), in.Take<uint8_t>(), in.Take<uint8_t>()};
        for (uint32_t y = y0; y < y0 + hh && y < h.cupsHeight; ++y) {
            for (uint32_t x = x0; x < x0 + w && x < h.cupsWidth; ++x) {
                for (uint32_t k = 0; k < bpp; ++k) {
                    page[(size_t)y * stride + x * bpp + k] = bgr[k];
                }
            }
        }
    }

    {
        CTSPLRenderClass r;
        r.SetOemCfgPointer(&cfg);
        r.SetDevModePointer(&dm);
        r.SetOemPdevPointer(&pdev);
        r.StartDocCMD();
    }
    pdev.bufStart = page;
    pdev.dwBufSize = bufSize;
    const int emissions = 1 + (calls & 1);
    for (int i = 0; i < emissions; ++i) {
        pdev.dwCurPageNum = (uint32_t)(i + 1 + ((calls >> 1) & 1));
        CTSPLRenderClass r;
        r.SetOemCfgPointer(&cfg);
        r.SetDevModePointer(&dm);
        r.SetOemPdevPointer(&pdev);
        int result = r.TransCommand(i + 1 == emissions ? 1 : 0);
        if (result != 0 && result != 1) {
            abort();
        }
    }
    free(page);
    rvcfuzz::AbortOnMalformedOutput();
    return 0;
}
