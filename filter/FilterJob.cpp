#include "filter/FilterJob.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <cups/cups.h>

#include "filter/PageStore.h"
#include "log/ILogManager.h"
#include "render/TSPLRenderClass.h"

// Header members of enumeration type hold whatever the stream carried; they
// are read as the 32-bit numbers they are stored as, since loading an
// enumeration outside its values is undefined.
template <typename E> static int RawEnum(const E &member) {
    static_assert(sizeof(E) == sizeof(int), "enumerations of the header are 32-bit");
    int v;
    memcpy(&v, &member, sizeof(v));
    return v;
}

tagOEMCFG g_oemCfg;
_DEVMODE g_devMode;
_OEMPDEV g_oemPDEV;
volatile sig_atomic_t Canceled = 0;

namespace {

const char kSource[] = "rastovortspl";
const char kLogFile[] = "/tmp/vortspl.log";

// The page buffer's address as the log shows it: its low 32 bits.
unsigned int Low32(const void *p) { return (unsigned int)(uintptr_t)p; }

void ResetJobState() {
    memset(&g_oemCfg, 0, sizeof(g_oemCfg));
    memset(&g_devMode, 0, sizeof(g_devMode));
    memset(&g_oemPDEV, 0, sizeof(g_oemPDEV));
    Canceled = 0;
    clearerr(stdout);
}

void Attach(CTSPLRenderClass &render) {
    render.SetOemCfgPointer(&g_oemCfg);
    render.SetDevModePointer(&g_devMode);
    render.SetOemPdevPointer(&g_oemPDEV);
}

int StartDoc() {
    CTSPLRenderClass render;
    Attach(render);
    return render.StartDocCMD();
}

int EmitHeldPage(int isLast) {
    CTSPLRenderClass render;
    Attach(render);
    return render.TransCommand(isLast);
}

void FreeHeldPage() {
    free(g_oemPDEV.bufStart);
    g_oemPDEV.bufStart = nullptr;
}

// Standard output carries printer data only: once a write has failed, what
// is still buffered is dropped so that nothing follows the broken part.
bool OutputFailed() {
    if (!ferror(stdout)) {
        return false;
    }
    __fpurge(stdout);
    fputs("\nERROR: Unable to write the print data\n", stderr);
    return true;
}

// The dispositions a job replaces, put back when it ends so that a caller
// running jobs in its own process keeps its handlers.
struct tagSIGNALSTATE {
    struct sigaction term;
    struct sigaction pipe;
};

void InstallSignals(tagSIGNALSTATE *saved) {
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = CancelJob;
    sigemptyset(&action.sa_mask);
    // Reads resume after the signal: a page being read is read to its end.
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, &saved->term);
    // A vanished reader makes writes fail instead of killing the filter.
    struct sigaction ignore;
    memset(&ignore, 0, sizeof(ignore));
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &saved->pipe);
}

void RestoreSignals(const tagSIGNALSTATE &saved) {
    sigaction(SIGTERM, &saved.term, nullptr);
    sigaction(SIGPIPE, &saved.pipe, nullptr);
}

} // namespace

void CancelJob(int signal) {
    (void)signal;
    Canceled = 1;
}

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

int RunFilterJob(int argc, char *argv[], unsigned int pageWaitSeconds, bool keepSignals) {
    ResetJobState();
    setbuf(stderr, nullptr);
    remove(kLogFile);

    tslog::ILogManager *log = tslog::ILogManager::getInstance();
    log->setLoggerPath(0, "/tmp");
    log->setLoggerName(0, "vortspl");
    log->start();

    if (argc != 6 && argc != 7) {
        fputs("rastertovorcp job-id user title copies options [file]", stderr);
        return 1;
    }

    int fd = 0;
    if (argc == 7) {
        fd = open(argv[6], O_RDONLY);
        if (fd < 0) {
            fputs("ERROR: Unable to open raster file", stderr);
            if (pageWaitSeconds != 0) {
                sleep(pageWaitSeconds);
            }
            return 1;
        }
    }

    cups_raster_t *raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
    if (raster == nullptr) {
        fputs("cupsRasterOpen failed.", stderr);
        if (fd != 0) {
            close(fd);
        }
        return 1;
    }

    Canceled = 0;
    tagSIGNALSTATE savedSignals;
    InstallSignals(&savedSignals);

    const char *ppdPath = getenv("PPD");
    ppd_file_t *ppd = ppdOpenFile(ppdPath);
    if (ppd == nullptr) {
        fputs("The PPD file could not be opened.", stderr);
        int line = 0;
        ppd_status_t status = ppdLastError(&line);
        fprintf(stderr, "%s on line %d.", ppdErrorString(status), line);
        cupsRasterClose(raster);
        if (fd != 0) {
            close(fd);
        }
        if (!keepSignals) {
            RestoreSignals(savedSignals);
        }
        return 1;
    }

    InitializeSetting(argv[5], ppd);

    int status = 0;
    bool outputFailed = false;
    int pageCount = 0;
    cups_page_header2_t header;
    memset(&header, 0, sizeof(header));
    // Every page is stored in the layout of the first, which describes all
    // pages to the renderer.
    tagPAGELAYOUT firstLayout;
    memset(&firstLayout, 0, sizeof(firstLayout));
    char message[256];

    for (;;) {
        cups_page_header2_t next;
        if (!cupsRasterReadHeader2(raster, &next) || Canceled) {
            break;
        }
        memcpy(&header, &next, sizeof(header));
        const int n = ++pageCount;
        StartPage(ppd, &header, n);

        tagPAGELAYOUT layout;
        if (!DescribeRasterPage(&header, n == 1, &layout, message, sizeof(message))) {
            // Nothing of a refused page is printed, nor the page held before it.
            fputs(message, stderr);
            FreeHeldPage();
            status = 1;
            break;
        }

        if (n == 1) {
            RVC_TRACE(kSource, 178, "Begin to initialize configures");
            InitalizeOemCfg(&g_oemCfg, ppd, &header);
            InitDevmode(&g_devMode, &header);
            InitOemPDEV(&g_oemPDEV, &header);
            RVC_TRACE(kSource, 182, "Initializing configures finish");
            int result = StartDoc();
            RVC_TRACE(kSource, 190, "Result of StartDocCMD is %d", result);
            firstLayout = layout;
            if (OutputFailed()) {
                outputFailed = true;
                status = 1;
                break;
            }
        }

        RVC_TRACE(kSource, 193, "curPage is %d, bufStart is 0x%x", (int)g_oemPDEV.dwCurPageNum,
                  Low32(g_oemPDEV.bufStart));

        // The held page goes out now that another page follows it; a page
        // number without a buffer has nothing to emit.
        if (g_oemPDEV.dwCurPageNum != 0 && g_oemPDEV.bufStart != nullptr) {
            int result = EmitHeldPage(0);
            bool failed = OutputFailed();
            if (result == 0 || failed) {
                // Only a failure to print the page (already reported) or to
                // send it makes the emission fail: the job ends here.
                FreeHeldPage();
                outputFailed = failed;
                status = 1;
                break;
            }
        }
        g_oemPDEV.dwCurPageNum = (uint32_t)n;
        FreeHeldPage();

        g_oemPDEV.dwBufSize = firstLayout.dwSize;
        // One byte at least, so that an empty page still counts as held.
        g_oemPDEV.bufStart =
            (unsigned char *)calloc(firstLayout.dwSize != 0 ? firstLayout.dwSize : 1, 1);
        unsigned char *line = (unsigned char *)calloc(
            header.cupsBytesPerLine != 0 ? header.cupsBytesPerLine : 1, 1);
        if (g_oemPDEV.bufStart == nullptr || line == nullptr) {
            fputs("\nERROR: Unable to allocate memory for the page\n", stderr);
            free(line);
            FreeHeldPage();
            status = 1;
            break;
        }

        uint32_t stored = 0;
        if (header.cupsHeight != 0) {
            const CRowStore store(firstLayout, layout);
            for (uint32_t r = 0; r < header.cupsHeight; ++r) {
                if (cupsRasterReadPixels(raster, line, header.cupsBytesPerLine) == 0) {
                    break;
                }
                // Rows beyond the first page's height are read and cut off.
                if (r < firstLayout.dwHeight) {
                    store.Store(g_oemPDEV.bufStart + (size_t)r * firstLayout.dwStride, line);
                    stored = r + 1;
                }
            }
        }
        WhiteRows(g_oemPDEV.bufStart, firstLayout, stored);
        free(line);

        if (Canceled == 1) {
            break;
        }
        fputs("Finish print operation.", stderr);
        if (Canceled) {
            break;
        }
        if (pageWaitSeconds != 0) {
            sleep(pageWaitSeconds);
        }
    }

    RVC_TRACE(kSource, 247, "EndDoc, bufStart is 0x%x", Low32(g_oemPDEV.bufStart));
    if (g_oemPDEV.bufStart != nullptr) {
        if (EmitHeldPage(1) == 0) {
            status = 1;
        }
        if (OutputFailed()) {
            outputFailed = true;
            status = 1;
        }
        FreeHeldPage();
    }

    ppdClose(ppd);
    cupsRasterClose(raster);
    if (fd != 0) {
        close(fd);
    }

    if (pageCount == 0) {
        fputs("No pages were found.", stderr);
    }
    if (!outputFailed && (fflush(stdout) != 0 || ferror(stdout))) {
        __fpurge(stdout);
        clearerr(stdout);
        fputs("\nERROR: Unable to write the print data\n", stderr);
        status = 1;
    }
    clearerr(stdout);
    if (!keepSignals) {
        RestoreSignals(savedSignals);
    }
    return status;
}
