// Option strings applied to the shipped PPDs as the job applies them
// (defaults, then the job's options), the label record filled from the
// marked choices, and a small page printed with the result. The first byte
// picks the PPD; the rest, up to a zero byte, is the option string.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <cups/ppd.h>
#include <cups/raster.h>

#include "filter/FilterJob.h"
#include "filter/PageStore.h"
#include "fuzz/FuzzSupport.h"
#include "render/TSPLRenderClass.h"
#include "settings/devmode.h"
#include "settings/oemcfg.h"

namespace {

ppd_file_t *g_ppd[2] = {nullptr, nullptr};
const unsigned kDpi[2] = {203, 300};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    rvcfuzz::CaptureStandardOutput();
    rvcfuzz::StartSilentLogger();
    const char *names[2] = {"/rastertovorcp-203.ppd", "/rastertovorcp-300.ppd"};
    for (int i = 0; i < 2; ++i) {
        g_ppd[i] = ppdOpenFile((rvcfuzz::PpdDir() + names[i]).c_str());
        if (g_ppd[i] == nullptr) {
            fprintf(stderr, "ppd_options_fuzz: cannot open %s%s\n", rvcfuzz::PpdDir().c_str(),
                    names[i]);
            abort();
        }
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const int which = data[0] & 1;
    std::string options(reinterpret_cast<const char *>(data + 1), size - 1);
    options = options.c_str(); // up to the first zero byte, as from argv
    ppd_file_t *ppd = g_ppd[which];
    InitializeSetting(&options[0], ppd);

    cups_page_header2_t h;
    memset(&h, 0, sizeof(h));
    h.cupsWidth = 96;
    h.cupsHeight = 64;
    h.HWResolution[0] = h.HWResolution[1] = kDpi[which];
    h.NumCopies = 1 + (data[0] >> 1) % 4;
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = 24;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = CUPS_CSPACE_RGB;
    h.cupsBytesPerLine = h.cupsWidth * 3;
    tagPAGELAYOUT layout;
    if (!DescribeRasterPage(&h, 1, &layout)) {
        abort();
    }

    tagOEMCFG cfg;
    _DEVMODE dm;
    _OEMPDEV pdev;
    InitalizeOemCfg(&cfg, ppd, &h);
    InitDevmode(&dm, &h);
    InitOemPDEV(&pdev, &h);
    {
        CTSPLRenderClass r;
        r.SetOemCfgPointer(&cfg);
        r.SetDevModePointer(&dm);
        r.SetOemPdevPointer(&pdev);
        r.StartDocCMD();
    }
    // A grey ramp, a black bar and a long line: every setting has something
    // to act on.
    unsigned char *page = (unsigned char *)calloc(layout.dwSize, 1);
    for (uint32_t y = 0; y < h.cupsHeight; ++y) {
        unsigned char *row = page + (size_t)y * layout.dwStride;
        for (uint32_t x = 0; x < h.cupsWidth; ++x) {
            unsigned char v = (unsigned char)(x * 255 / h.cupsWidth);
            if (y >= 40 && y < 48) {
                v = 0;
            } else if (y == 56) {
                v = x < 90 ? 0 : 255;
            } else if (y < 8) {
                v = 255;
            }
            row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = v;
        }
    }
    pdev.bufStart = page;
    pdev.dwBufSize = layout.dwSize;
    pdev.dwCurPageNum = 1;
    {
        CTSPLRenderClass r;
        r.SetOemCfgPointer(&cfg);
        r.SetDevModePointer(&dm);
        r.SetOemPdevPointer(&pdev);
        r.TransCommand(1);
    }
    free(page);
    rvcfuzz::AbortOnMalformedOutput();
    return 0;
}
