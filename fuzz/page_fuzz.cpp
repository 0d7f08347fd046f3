// Settings records and a page image straight into the renderer: the job
// preamble, then the page emitted once or twice (not last, then last). The
// device records come from a header the page loop accepts (24-bit colour or
// 8-bit grey, 1 to 32767 dpi), the label record holds what its initialisers
// can store, and the page is rectangles of colour on white.
#include <cstdlib>
#include <cstring>
#include <vector>

#include <cups/raster.h>

#include "fuzz/FuzzSupport.h"

namespace {

// PPD codes are stored scaled: tenths, doubled, levels as 3v + 300.
int32_t Scaled(int32_t v, uint32_t k, uint32_t add) {
    return (int32_t)((uint32_t)v * k + add);
}

void FillConfig(rvcfuzz::ByteReader &in, tagOEMCFG &c, int16_t xdpi, int16_t ydpi) {
    memset(&c, 0, sizeof(c));
    c.sHrzDir = in.Take<int8_t>(), c.sVtcDir = in.Take<int8_t>();
    c.sHrzOffset = in.Take<int16_t>(), c.sVtcOffset = in.Take<int16_t>();
    c.sDensity = in.Take<int32_t>();
    static const int16_t kRotation[5][2] = {{0, 0}, {1, 1}, {1, 0}, {0, 1}, {0, 0}};
    const uint8_t rot = in.Take<uint8_t>() % 5;
    c.sRotation = kRotation[rot][0], c.sRotate90 = kRotation[rot][1];
    c.sMirror = in.Take<int16_t>(), c.bNegative = in.Take<int8_t>();
    c.dwOperationAfterPrn = (uint64_t)(int64_t)in.Take<int8_t>();
    c.dwOperationModeAfterPrn = (uint64_t)(int64_t)in.Take<int8_t>();
    c.nBrightness = Scaled(in.Take<int32_t>(), 2, 0),
    c.nContrast = Scaled(in.Take<int32_t>(), 2, 0);
    c.sPaperType = in.Take<int8_t>(), c.sLabelType = in.Take<int8_t>();
    c.GAPHeight = c.sBLineHeight = in.Take<int16_t>();
    c.GAPOffset = c.sBLineOffset = in.Take<int16_t>();
    c.sIntervalValue = in.Take<int16_t>();
    c.sFeedLen = (int16_t)Scaled(in.Take<int16_t>(), 10, 0);
    c.sHalftoneMethod = in.Take<int8_t>(), c.sIsLineImaginary = in.Take<int8_t>();
    c.sMinImaginaryLineLen = in.Take<int16_t>();
    c.sBlackInterval = in.Take<int16_t>(), c.sWhiteInterval = in.Take<int16_t>();
    c.nLevelsAdj = Scaled(in.Take<int16_t>(), 3, 300);
    c.sMaxOutputWidth = in.Take<int16_t>();
    c.sOutputXDPI = xdpi, c.sOutputYDPI = ydpi;
    c.sPaperMode = in.Take<int8_t>();
}

unsigned Resolution(uint8_t pick, uint16_t any) {
    static const unsigned kCommon[3] = {203, 300, 600};
    return pick % 4 < 3 ? kCommon[pick % 4] : 1 + any % 32767;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    rvcfuzz::Start();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    rvcfuzz::ByteReader in(data, size);
    cups_page_header2_t h;
    memset(&h, 0, sizeof(h));
    const bool grey = in.Take<uint8_t>() & 1;
    h.cupsWidth = 1 + in.Take<uint16_t>() % 160;
    h.cupsHeight = 1 + in.Take<uint16_t>() % 160;
    const uint8_t xpick = in.Take<uint8_t>(), ypick = in.Take<uint8_t>();
    h.HWResolution[0] = Resolution(xpick, in.Take<uint16_t>());
    h.HWResolution[1] = Resolution(ypick, in.Take<uint16_t>());
    h.NumCopies = in.Take<uint8_t>() % 12;
    h.Collate = (in.Take<uint8_t>() & 1) ? CUPS_TRUE : CUPS_FALSE;
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = grey ? 8 : 24;
    const uint32_t bpp = grey ? 1 : 3, stride = ((h.cupsWidth * h.cupsBitsPerPixel + 31) >> 5) << 2;
    tagOEMCFG cfg;
    FillConfig(in, cfg, (int16_t)h.HWResolution[0], (int16_t)h.HWResolution[1]);
    _DEVMODE dm{};
    _OEMPDEV pdev{};
    InitDevmode(&dm, &h);
    InitOemPDEV(&pdev, &h);
    pdev.dwPagePrinted = in.Take<uint8_t>();
    const uint8_t calls = in.Take<uint8_t>();
    // A white page (padding zero), then up to 16 rectangles: x, y, w, h, b, g, r.
    std::vector<unsigned char> page((size_t)stride * h.cupsHeight, 0);
    for (uint32_t y = 0; y < h.cupsHeight; ++y)
        memset(&page[(size_t)y * stride], 255, h.cupsWidth * bpp);
    for (int rects = 0; rects < 16 && in.RestSize() >= 7; ++rects) {
        const uint32_t x0 = in.Take<uint8_t>() * h.cupsWidth / 256,
                       y0 = in.Take<uint8_t>() * h.cupsHeight / 256;
        const uint32_t w = 1 + in.Take<uint8_t>() * h.cupsWidth / 256,
                       hh = 1 + in.Take<uint8_t>() * h.cupsHeight / 256;
        const unsigned char bgr[3] = {in.Take<uint8_t>(), in.Take<uint8_t>(), in.Take<uint8_t>()};
        for (uint32_t y = y0; y < y0 + hh && y < h.cupsHeight; ++y)
            for (uint32_t x = x0; x < x0 + w && x < h.cupsWidth; ++x)
                memcpy(&page[(size_t)y * stride + x * bpp], bgr, bpp);
    }
    rvcfuzz::PrintPage(cfg, dm, pdev, page, 1 + (calls & 1), 1 + ((calls >> 1) & 1));
    return 0;
}
