#include "filter/FilterJob.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "log/ILogManager.h"

volatile sig_atomic_t Canceled = 0;

namespace {

const char kLogFile[] = "/tmp/vortspl.log";

// The trace goes to a fresh /tmp/vortspl.log; start() returns once the
// logger's start-up lines are written.
void StartLogger() {
    remove(kLogFile);
    tslog::ILogManager *log = tslog::ILogManager::getInstance();
    log->setLoggerPath(0, "/tmp");
    log->setLoggerName(0, "vortspl");
    log->start();
}

// Standard input, or the file named by the seventh argument; -1 when it
// cannot be opened (reported).
int OpenInput(int argc, char *argv[], unsigned int waitSeconds) {
    if (argc != 7) {
        return 0;
    }
    int fd = open(argv[6], O_RDONLY);
    if (fd < 0) {
        fputs("ERROR: Unable to open raster file", stderr);
        if (waitSeconds != 0) {
            sleep(waitSeconds);
        }
    }
    return fd;
}

void CloseInput(int fd) {
    if (fd > 0) {
        close(fd);
    }
}

ppd_file_t *OpenPpd() {
    ppd_file_t *ppd = ppdOpenFile(getenv("PPD"));
    if (ppd == nullptr) {
        fputs("The PPD file could not be opened.", stderr);
        int line = 0;
        ppd_status_t status = ppdLastError(&line);
        fprintf(stderr, "%s on line %d.", ppdErrorString(status), line);
    }
    return ppd;
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

// A page's lines go into the page buffer as they arrive; a stream that ends
// early leaves the rest of the page white.
void ReadPageRows(cups_raster_t *raster, tagPAGELOOP *loop, const cups_page_header2_t &header) {
    for (uint32_t r = 0; r < header.cupsHeight; ++r) {
        if (cupsRasterReadPixels(raster, loop->pLine, header.cupsBytesPerLine) == 0) {
            break;
        }
        PageLoopStoreRow(loop, r, loop->pLine);
    }
    PageLoopEndPage(loop);
}

} // namespace

int ReadRasterJob(cups_raster_t *raster, ppd_file_t *ppd, unsigned int pageWaitSeconds) {
    tagPAGELOOP loop;
    PageLoopStart(&loop, ppd, stdout);
    cups_page_header2_t header;
    while (cupsRasterReadHeader2(raster, &header) && !Canceled) {
        if (!PageLoopBeginPage(&loop, &header)) {
            break;
        }
        ReadPageRows(raster, &loop, header);
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
    int status = PageLoopFinish(&loop);
    if (loop.nPageCount == 0) {
        fputs("No pages were found.", stderr);
    }
    return status;
}

void CancelJob(int signal) {
    (void)signal;
    Canceled = 1;
}

int RunFilterJob(int argc, char *argv[], unsigned int pageWaitSeconds, bool keepSignals) {
    Canceled = 0;
    clearerr(stdout);
    setbuf(stderr, nullptr);
    StartLogger();
    if (argc != 6 && argc != 7) {
        fputs("rastertovorcp job-id user title copies options [file]", stderr);
        return 1;
    }
    int fd = OpenInput(argc, argv, pageWaitSeconds);
    if (fd < 0) {
        return 1;
    }
    cups_raster_t *raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
    if (raster == nullptr) {
        fputs("cupsRasterOpen failed.", stderr);
        CloseInput(fd);
        return 1;
    }
    Canceled = 0;
    tagSIGNALSTATE savedSignals;
    InstallSignals(&savedSignals);

    int status = 1;
    ppd_file_t *ppd = OpenPpd();
    if (ppd != nullptr) {
        InitializeSetting(argv[5], ppd);
        status = ReadRasterJob(raster, ppd, pageWaitSeconds);
        ppdClose(ppd);
    }
    cupsRasterClose(raster);
    CloseInput(fd);
    clearerr(stdout);
    if (!keepSignals) {
        RestoreSignals(savedSignals);
    }
    return status;
}
