// A raster stream through the whole job in process: the page loop with its
// hold-back, the settings from the 203 dpi PPD and every page's emission,
// without the pause after each page. The first byte picks an option string;
// the rest is the raster stream.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

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

int g_rasterFd = -1;

// Every page is stored in a buffer of the first page's size, which a few
// bytes of header can make huge: inputs claiming more than a small label's
// worth of work are not run (large pages are the tests' business).
bool WithinBudget() {
    lseek(g_rasterFd, 0, SEEK_SET);
    cups_raster_t *r = cupsRasterOpen(g_rasterFd, CUPS_RASTER_READ);
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
    rvcfuzz::Start(); // the job's own start leaves the log file closed
    // The 203 dpi model's PPD without its list of media sizes, which the
    // filter never reads: every job opens it, and the sizes were most of
    // the parsing.
    std::ifstream in(rvcfuzz::PpdDir() + "/rastertovorcp-203.ppd");
    std::string ppd;
    for (std::string line; std::getline(in, line);)
        if (line.rfind("*PageSize ", 0) && line.rfind("*PageRegion ", 0) &&
            line.rfind("*ImageableArea ", 0) && line.rfind("*PaperDimension ", 0))
            ppd += line + "\n";
    const int ppdFd = memfd_create("rvc_fuzz_ppd", 0);
    if (write(ppdFd, ppd.data(), ppd.size()) != (ssize_t)ppd.size())
        abort();
    setenv("PPD", ("/proc/self/fd/" + std::to_string(ppdFd)).c_str(), 1);
    g_rasterFd = memfd_create("rvc_fuzz_raster", 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1 || ftruncate(g_rasterFd, 0) != 0 ||
        pwrite(g_rasterFd, data + 1, size - 1, 0) != (ssize_t)(size - 1)) {
        return 0;
    }
    if (!WithinBudget()) {
        return -1; // not added to the corpus
    }
    std::string path = "/proc/self/fd/" + std::to_string(g_rasterFd);
    std::string options = kOptions[data[0] % (sizeof(kOptions) / sizeof(kOptions[0]))];
    char *argv[] = {(char *)"rastertovorcp",
                    (char *)"1",
                    (char *)"fuzz",
                    (char *)"title",
                    (char *)"1",
                    &options[0],
                    &path[0],
                    nullptr};
    if (RunFilterJob(7, argv, 0) > 1)
        abort();
    rvcfuzz::CheckJobData();
    return 0;
}
