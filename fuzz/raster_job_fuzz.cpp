// A raster stream through the whole job in process: argument handling, the
// page loop with its hold-back, the settings from the fixed 203 dpi PPD and
// every page's emission, without the wait after each page. The first input
// byte picks one of a few option strings; the rest is the raster stream.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

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

// Pages are allocated from what their headers claim, which a few bytes can
// make huge: inputs that claim more than a label's worth are not run.
bool WithinBudget(int fd) {
    lseek(fd, 0, SEEK_SET);
    cups_raster_t *r = cupsRasterOpen(fd, CUPS_RASTER_READ);
    if (r == nullptr) {
        return true; // the job's own open fails the same way
    }
    bool ok = true;
    cups_page_header2_t h;
    std::vector<unsigned char> line;
    // Every page is stored in and emitted from a buffer of the first page's
    // size: the work of a job grows with that size times the page count.
    uint64_t firstPixels = 0, work = 0;
    for (int pages = 0; ok && cupsRasterReadHeader2(r, &h); ++pages) {
        const uint64_t pixels = (uint64_t)h.cupsWidth * h.cupsHeight;
        const uint64_t bytes = (uint64_t)h.cupsBytesPerLine * h.cupsHeight;
        if (pages == 0) {
            firstPixels = pixels;
        }
        work += firstPixels + pixels / 8;
        if (pages >= 16 || work > (1u << 19) || bytes > (4u << 20) ||
            h.cupsBytesPerLine > (1u << 20) || h.NumCopies > 64) {
            ok = false;
            break;
        }
        line.resize(h.cupsBytesPerLine + 1);
        for (uint32_t y = 0; y < h.cupsHeight; ++y) {
            if (cupsRasterReadPixels(r, line.data(), h.cupsBytesPerLine) == 0) {
                break;
            }
        }
    }
    cupsRasterClose(r);
    return ok;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    rvcfuzz::CaptureStandardOutput();
    rvcfuzz::StartSilentLogger();
    std::string ppd = rvcfuzz::PpdDir() + "/rastertovorcp-203.ppd";
    setenv("PPD", ppd.c_str(), 1);
    g_rasterFd = memfd_create("rvc_fuzz_raster", 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1 || g_rasterFd < 0) {
        return 0;
    }
    const char *options = kOptions[data[0] % (sizeof(kOptions) / sizeof(kOptions[0]))];
    if (ftruncate(g_rasterFd, 0) != 0 ||
        pwrite(g_rasterFd, data + 1, size - 1, 0) != (ssize_t)(size - 1)) {
        return 0;
    }
    if (!WithinBudget(g_rasterFd)) {
        return -1; // not added to the corpus
    }
    std::string path = "/proc/self/fd/" + std::to_string(g_rasterFd);
    std::string opts = options;
    char *argv[] = {(char *)"rastertovorcp", (char *)"1", (char *)"fuzz", (char *)"title",
                    (char *)"1", &opts[0], &path[0], nullptr};
    int status = RunFilterJob(7, argv, 0);
    std::string out = rvcfuzz::TakeCapturedOutput();
    if (status != 0 && status != 1) {
        fprintf(stderr, "job status %d\n", status);
        abort();
    }
    std::string shape = rvcfuzz::CheckTsplShape(out);
    if (!shape.empty()) {
        fprintf(stderr, "malformed job data: %s\n", shape.c_str());
        abort();
    }
    return 0;
}
