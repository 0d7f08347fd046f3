// A job through the job's raster reader in process: the job's options
// applied to the shipped PPD of the stream's resolution, the header checks,
// the page loop with its hold-back and every page's emission, without the
// pause after each page. The input is the option string, a zero byte, then
// the raster stream; an input without a zero byte is all options.
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

// The 203 and the 300 dpi PPD, opened once: parsing them was most of an
// input's time, and every job marks its defaults and options afresh.
ppd_file_t *g_ppd[2];

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
// worth of work are not run (large pages are the tests' business). xdpi
// gets the first page's horizontal resolution.
bool WithinBudget(tagSTREAM s, unsigned &xdpi) {
    cups_raster_t *r = cupsRasterOpenIO(ReadStream, &s, CUPS_RASTER_READ);
    if (r == nullptr) {
        return true; // the job's own open fails the same way
    }
    cups_page_header2_t h;
    uint64_t first = 0, work = 0;
    bool ok = true;
    for (int pages = 0; ok && cupsRasterReadHeader2(r, &h); ++pages) {
        const uint64_t pixels = (uint64_t)h.cupsWidth * h.cupsHeight;
        if (pages == 0)
            first = pixels, xdpi = h.HWResolution[0];
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
    std::string options((const char *)data, strnlen((const char *)data, size));
    const size_t skip = options.size() < size ? options.size() + 1 : size;
    tagSTREAM stream = {data + skip, size - skip};
    unsigned xdpi = 0;
    if (!WithinBudget(stream, xdpi))
        return -1; // not added to the corpus
    ppd_file_t *ppd = g_ppd[xdpi == 300];
    InitializeSetting(&options[0], ppd);
    cups_raster_t *raster = cupsRasterOpenIO(ReadStream, &stream, CUPS_RASTER_READ);
    if (raster != nullptr) { // else the job fails before any output
        if (ReadRasterJob(raster, ppd, 0) > 1)
            abort();
        cupsRasterClose(raster);
    }
    rvcfuzz::CheckJobData();
    return 0;
}
