// Option strings applied to the shipped PPDs as the job applies them
// (defaults, then the job's options), the label record filled from the
// marked choices, and a small page printed with the result. The first byte
// picks the PPD and the copies; the rest, up to a zero byte, is the options.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <cups/ppd.h>

#include "filter/FilterJob.h"
#include "fuzz/FuzzSupport.h"

namespace {
ppd_file_t *g_ppd[2];
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    rvcfuzz::Start();
    for (int i = 0; i < 2; ++i) {
        g_ppd[i] = ppdOpenFile(
            (rvcfuzz::PpdDir() + (i ? "/rastertovorcp-300.ppd" : "/rastertovorcp-203.ppd"))
                .c_str());
        if (g_ppd[i] == nullptr)
            abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    ppd_file_t *ppd = g_ppd[data[0] & 1];
    std::string options(std::string((const char *)data + 1, size - 1).c_str()); // as from argv
    InitializeSetting(&options[0], ppd);
    cups_page_header2_t h;
    memset(&h, 0, sizeof(h));
    h.cupsWidth = 64, h.cupsHeight = 48;
    h.HWResolution[0] = h.HWResolution[1] = data[0] & 1 ? 300 : 203;
    h.NumCopies = 1 + (data[0] >> 1) % 4;
    h.cupsBitsPerColor = 8, h.cupsBitsPerPixel = 24, h.cupsBytesPerLine = 64 * 3;
    tagOEMCFG cfg;
    _DEVMODE dm;
    _OEMPDEV pdev;
    InitalizeOemCfg(&cfg, ppd, &h);
    InitDevmode(&dm, &h);
    InitOemPDEV(&pdev, &h);
    // A grey ramp, a black bar and a line of 60 dots (longer than the
    // shortest dashed line): every setting has something to act on. Rows
    // are blue-green-red, 192 bytes.
    std::vector<unsigned char> page(192 * 48);
    for (unsigned y = 0; y < 48; ++y)
        for (unsigned x = 0; x < 64; ++x)
            memset(&page[y * 192 + 3 * x],
                   y < 6                                        ? 255
                   : (y >= 30 && y < 36) || (y == 42 && x < 60) ? 0
                                                                : x * 4,
                   3);
    rvcfuzz::PrintPage(cfg, dm, pdev, page, 1, 1);
    return 0;
}
