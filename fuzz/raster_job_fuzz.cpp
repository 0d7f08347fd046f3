// A raster stream through the job's raster reader in process: the header
// checks, the page loop with its hold-back, the settings from the 203 dpi
// PPD and every page's emission, without the pause after each page. The
// first byte picks an option string; the rest is the raster stream.
#include <sys/types.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <cups/ppd.h>
#include <cups/raster.h>

#include "filter/FilterJob.h"
#include "fuzz/FuzzSupport.h"

namespace {

const char *const kOptions[] = {
    "",
    "Halftone=Adaptive",
    "Halftone=FloydSteinberg Rotation=Rotate90CW",
    "Halftone=Stucki Mirror=On",
    "Halftone=Screen15 Rotation=Rotate180 NegativeFilm=On",
    "Mode=Cutter CutMethod=Interval Interval=3 IsToDashed=On MinLength=5mm",
    "SavePaper=On Mirror=On HorizontalOffset=Left HorizontalOffsetValue=2mm",
    "Halftone=Screen8x16 Rotation=Rotate90CCW Brightness=m20 Contrast=30 Levels=Gamma045",
};

// Opened once: parsing it was most of an input's time, and every job marks
// its defaults and options afresh.
ppd_file_t *g_ppd = nullptr;

// The input's raster bytes, read by libcups as from the job's file.
struct tagSTREAM {
    const uint8_t *data;
    size_t left;
};

ssize_t ReadStream(void *ctx, unsigned char *buf, size_t bytes) {
    tagSTREAM *s = static_cast<tagSTREAM *>(ctx);
    bytes = bytes < s->left ? bytes : s->left;
    memcpy(buf, s->data, bytes);
    s->data += bytes;
    s->left -= bytes;
    return (ssize_t)bytes;
}

// Every page is stored in a buffer of the first page's size, which a few
// bytes of header can make huge: inputs claiming more than a small label's
// worth of work are not run (large pages are the tests' business).
bool WithinBudget(tagSTREAM s) {
    cups_raster_t *r = cupsRasterOpenIO(ReadStream, &s, CUPS_RASTER_READ);
    if (r == nullptr) {
        return true; // the job's own open fails the same way
    }
    cups_page_header2_t h;
    uint64_t first = 0, work = 0;
    bool ok = true;
    for (int pages = 0; ok && cupsRasterReadHeader2(r, &h); ++pages) {
        const uint64_t pixels = (uint64_t)h.cupsWidth * h.cupsHeight;
        first = pages == 0 ? pixels : first;
        work += first + pixels / 8;
        ok = pages < 6 && work <= (1u << 14) &&
             (uint64_t)h.cupsBytesPerLine * h.cupsHeight <= (1u << 15) &&
             h.cupsBytesPerLine <= (1u << 13) && h.NumCopies <= 64;
        std::vector<unsigned char> line(ok ? h.cupsBytesPerLine + 1 : 0);
        for (uint32_t y = 0;
             ok && y < h.cupsHeight && cupsRasterReadPixels(r, line.data(), h.cupsBytesPerLine);
             ++y) {
        }
    }
    cupsRasterClose(r);
    return ok;
}

} // namespace

// libcups sizes and clears a line buffer from each header before any check
// of ours can look at it; under the address sanitizer a header claiming
// gigabytes would cost a clearing of gigabytes. Such claims fail to allocate
// instead (a header read that fails), far above anything within budget.
extern "C" const char *__asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=32";
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    rvcfuzz::Start();
    g_ppd = ppdOpenFile((rvcfuzz::PpdDir() + "/rastertovorcp-203.ppd").c_str());
    if (g_ppd == nullptr)
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    tagSTREAM stream = {data + 1, size - 1};
    if (!WithinBudget(stream))
        return -1; // not added to the corpus
    std::string options = kOptions[data[0] % (sizeof(kOptions) / sizeof(kOptions[0]))];
    InitializeSetting(&options[0], g_ppd);
    cups_raster_t *raster = cupsRasterOpenIO(ReadStream, &stream, CUPS_RASTER_READ);
    if (raster != nullptr) { // else the job fails before any output
        if (ReadRasterJob(raster, g_ppd, 0) > 1)
            abort();
        cupsRasterClose(raster);
    }
    rvcfuzz::CheckJobData();
    return 0;
}
