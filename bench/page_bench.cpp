// The whole page path: TransCommand from a filled page buffer to the job
// data on standard output, which is redirected to a file (RVC_BENCH_OUT,
// default /tmp/rvc_page_bench.tspl). The settings come from the shipped PPD
// through the job's own option marking. Reported per page: the time, the
// raster bytes consumed per second, the heap the page needs on top of its
// buffer (peak_MB, against the aim limit_MB = 2.5 x buffer + 4 MB), the job
// data written and the label's ink share.
//
// The trace lines go to a fresh folder under RVC_BENCH_LOG_DIR (default
// /dev/shm, RAM-backed); run with RVC_BENCH_LOG_DIR=/tmp for the cost on a
// disk. The */log_off cases raise the logger's threshold so that no line is
// written at all.
#include "bench/LabelPages.h"
#include "filter/FilterJob.h"
#include "log/ILogManager.h"
#include "render/TSPLRenderClass.h"
#include "settings/devmode.h"
#include "settings/oemcfg.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <malloc.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

// The settings come from a PPD, whose API libcups marks deprecated.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>
#include <cups/raster.h>

// Heap accounting for the whole program: every allocation goes through
// these, so the peak of bytes in use during a page is exact.
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void __libc_free(void *);
}

namespace {
std::atomic<size_t> g_inUse{0};
std::atomic<size_t> g_peak{0};

void *Counted(void *p) {
    if (p != nullptr) {
        size_t now = g_inUse.fetch_add(malloc_usable_size(p)) + malloc_usable_size(p);
        size_t peak = g_peak.load(std::memory_order_relaxed);
        while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
        }
    }
    return p;
}
void Uncount(void *p) {
    if (p != nullptr) {
        g_inUse.fetch_sub(malloc_usable_size(p));
    }
}
} // namespace

extern "C" {
void *malloc(size_t n) {
    return Counted(__libc_malloc(n));
}
void *calloc(size_t n, size_t m) {
    return Counted(__libc_calloc(n, m));
}
void free(void *p) {
    Uncount(p);
    __libc_free(p);
}
void *realloc(void *p, size_t n) {
    Uncount(p);
    void *q = __libc_realloc(p, n);
    if (q == nullptr && p != nullptr && n != 0) {
        Counted(p); // the old block is still there
        return nullptr;
    }
    return Counted(q);
}
void *memalign(size_t a, size_t n) {
    return Counted(__libc_memalign(a, n));
}
void *aligned_alloc(size_t a, size_t n) {
    return Counted(__libc_memalign(a, n));
}
int posix_memalign(void **out, size_t a, size_t n) {
    void *p = Counted(__libc_memalign(a, n));
    if (p == nullptr) {
        return 12; // ENOMEM
    }
    *out = p;
    return 0;
}
}

namespace {

using rvcbench::Content;

std::string g_logDir;
std::string g_ppdDir;

std::string ExeDir() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) {
        return ".";
    }
    std::string p(buf, (size_t)n);
    return p.substr(0, p.rfind('/'));
}

void StartLogger() {
    const char *base = std::getenv("RVC_BENCH_LOG_DIR");
    std::string pattern =
        std::string(base != nullptr ? base : "/dev/shm") + "/rvc_page_bench_XXXXXX";
    char *made = mkdtemp(&pattern[0]);
    g_logDir = made != nullptr ? made : "/dev/shm";
    tslog::ILogManager *m = tslog::ILogManager::getInstance();
    m->setLoggerPath(0, g_logDir.c_str());
    m->setLoggerName(0, "vortspl");
    m->start();
}

const char *const kHalftone[] = {"",         "Threshold", "FloydSteinberg", "Bayer8",
                                 "Adaptive", "Ordered16", "Stucki",         "Screen15",
                                 "Bayer4",   "Screen8x16"};

struct Case {
    Content content;
    double widthIn, heightIn;
    int dpi;
    int method;   // 1..9, 4 = adaptive thresholding
    bool quarter; // one quarter turn
    bool mirror;
    bool logOff;
};

struct Job {
    tagOEMCFG cfg;
    _DEVMODE dm;
    _OEMPDEV pdev;
    rvcbench::PageImage page;
};

bool SetUp(const Case &c, Job &job, std::string &error) {
    std::string ppdPath =
        g_ppdDir + (c.dpi == 300 ? "/rastertovorcp-300.ppd" : "/rastertovorcp-203.ppd");
    ppd_file_t *ppd = ppdOpenFile(ppdPath.c_str());
    if (ppd == nullptr) {
        error = "cannot open " + ppdPath + " (set RVC_PPD_DIR)";
        return false;
    }
    std::string options = std::string("Halftone=") + kHalftone[c.method] +
                          " Rotation=" + (c.quarter ? "Rotate90CCW" : "None") +
                          " Mirror=" + (c.mirror ? "On" : "Off");
    InitializeSetting(&options[0], ppd);
    job.page = rvcbench::MakePage(c.content, c.widthIn, c.heightIn, c.dpi);
    cups_page_header2_t h;
    memset(&h, 0, sizeof(h));
    h.cupsWidth = (unsigned)job.page.width;
    h.cupsHeight = (unsigned)job.page.height;
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = 24;
    h.cupsBytesPerLine = h.cupsWidth * 3;
    h.cupsColorSpace = CUPS_CSPACE_RGB;
    h.HWResolution[0] = h.HWResolution[1] = (unsigned)c.dpi;
    h.NumCopies = 1;
    InitalizeOemCfg(&job.cfg, ppd, &h);
    InitDevmode(&job.dm, &h);
    InitOemPDEV(&job.pdev, &h);
    ppdClose(ppd);
    CTSPLRenderClass r;
    r.SetOemCfgPointer(&job.cfg);
    r.SetDevModePointer(&job.dm);
    r.SetOemPdevPointer(&job.pdev);
    r.StartDocCMD();
    job.pdev.bufStart = job.page.bgr.data();
    job.pdev.dwBufSize = (uint32_t)job.page.bgr.size();
    job.pdev.dwCurPageNum = 1;
    return true;
}

void RunPage(benchmark::State &state, Case c) {
    auto job = std::make_unique<Job>();
    std::string error;
    if (!SetUp(c, *job, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    tslog::ILogManager *log = tslog::ILogManager::getInstance();
    if (c.logOff) {
        log->setLoggerLevel(0, 9);
    }
    size_t extra = 0;
    long written = 0;
    int pages = 0;
    fflush(stdout);
    lseek(1, 0, SEEK_SET);
    for (auto _ : state) {
        const size_t before = g_inUse.load();
        g_peak.store(before);
        CTSPLRenderClass r;
        r.SetOemCfgPointer(&job->cfg);
        r.SetDevModePointer(&job->dm);
        r.SetOemPdevPointer(&job->pdev);
        r.TransCommand(0);
        fflush(stdout);
        const size_t peak = g_peak.load() - before;
        extra = peak > extra ? peak : extra;
        if (++pages == 1) {
            written = lseek(1, 0, SEEK_CUR);
        }
        if ((pages & 63) == 0) {
            state.PauseTiming();
            lseek(1, 0, SEEK_SET);
            if (ftruncate(1, 0) != 0) {
                state.SkipWithError("cannot truncate the output file");
            }
            state.ResumeTiming();
        }
    }
    if (c.logOff) {
        log->setLoggerLevel(0, tslog::LOG_DEBUG);
    }
    const double mb = 1024.0 * 1024.0;
    const double buf = (double)job->pdev.dwBufSize;
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)job->pdev.dwBufSize);
    state.counters["buf_MB"] = buf / mb;
    state.counters["peak_MB"] = ((double)extra + buf) / mb;
    state.counters["limit_MB"] = (2.5 * buf + 4 * mb) / mb;
    state.counters["out_KB"] = (double)written / 1024.0;
    state.counters["ink_pct"] = 100.0 * job->page.inkShare;
}

// An output stream onto a C stream.
class FileBuf : public std::streambuf {
  public:
    explicit FileBuf(FILE *f) : m_file(f) {}

  protected:
    int overflow(int c) override { return c == EOF || fputc(c, m_file) != EOF ? c : EOF; }
    std::streamsize xsputn(const char *s, std::streamsize n) override {
        return (std::streamsize)fwrite(s, 1, (size_t)n, m_file);
    }
    int sync() override { return fflush(m_file); }

  private:
    FILE *m_file;
};

std::string Name(const Case &c) {
    std::string n = "Page/";
    n += c.content == Content::Dense ? "dense" : "label";
    n += c.widthIn == 4 ? "_4x6" : "_2x1";
    n += "/" + std::to_string(c.dpi) + "dpi/";
    n += c.method == 4 ? std::string("adaptive")
                       : "m" + std::to_string(c.method) + "_" + kHalftone[c.method];
    n += c.quarter ? "/rot90" : "/rot0";
    if (c.mirror) {
        n += "/mirror";
    }
    if (c.logOff) {
        n += "/log_off";
    }
    return n;
}

void Register() {
    std::vector<Case> cases;
    const Content L = Content::Label, D = Content::Dense;
    for (int m = 1; m <= 9; ++m) {
        cases.push_back({L, 4, 6, 203, m, false, false, false});
    }
    for (int m : {1, 4}) {
        cases.push_back({L, 4, 6, 203, m, true, false, false});
        cases.push_back({L, 4, 6, 203, m, false, true, false});
        cases.push_back({L, 4, 6, 203, m, false, false, true});
        cases.push_back({L, 4, 6, 300, m, false, false, false});
        cases.push_back({L, 4, 6, 300, m, true, false, false});
        cases.push_back({L, 2, 1, 203, m, false, false, false});
    }
    for (int m : {1, 2, 4, 6}) {
        cases.push_back({D, 4, 6, 203, m, false, false, false});
    }
    for (const Case &c : cases) {
        benchmark::RegisterBenchmark(Name(c).c_str(), RunPage, c)->Unit(benchmark::kMillisecond);
    }
}

} // namespace

// The label as a job for the process-level runs: --write-raster=FILE writes
// a CUPS raster stream of --pages=N copies of the 4 x 6 in label at --dpi=D;
// --write-ppm=FILE writes the same picture as an image file.
int WriteJobFiles(int argc, char **argv) {
    std::string raster, ppm;
    int pages = 20, dpi = 203;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--write-raster=", 0) == 0) {
            raster = a.substr(15);
        } else if (a.rfind("--write-ppm=", 0) == 0) {
            ppm = a.substr(12);
        } else if (a.rfind("--pages=", 0) == 0) {
            pages = std::atoi(a.c_str() + 8);
        } else if (a.rfind("--dpi=", 0) == 0) {
            dpi = std::atoi(a.c_str() + 6);
        }
    }
    rvcbench::PageImage img = rvcbench::MakePage(Content::Label, 4, 6, dpi);
    if (!ppm.empty()) {
        FILE *f = fopen(ppm.c_str(), "wb");
        if (f == nullptr) {
            return 1;
        }
        fprintf(f, "P6\n%d %d\n255\n", img.width, img.height);
        for (int y = 0; y < img.height; ++y) {
            const unsigned char *row = &img.bgr[(size_t)y * img.stride];
            for (int x = 0; x < img.width; ++x) {
                const unsigned char rgb[3] = {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
                fwrite(rgb, 1, 3, f);
            }
        }
        fclose(f);
    }
    if (!raster.empty()) {
        int fd = open(raster.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        cups_raster_t *r = fd < 0 ? nullptr : cupsRasterOpen(fd, CUPS_RASTER_WRITE_COMPRESSED);
        if (r == nullptr) {
            return 1;
        }
        cups_page_header2_t h;
        memset(&h, 0, sizeof(h));
        h.cupsWidth = (unsigned)img.width;
        h.cupsHeight = (unsigned)img.height;
        h.cupsBitsPerColor = 8;
        h.cupsBitsPerPixel = 24;
        h.cupsBytesPerLine = h.cupsWidth * 3;
        h.cupsColorSpace = CUPS_CSPACE_RGB;
        h.HWResolution[0] = h.HWResolution[1] = (unsigned)dpi;
        h.PageSize[0] = 288;
        h.PageSize[1] = 432;
        h.NumCopies = 1;
        std::vector<unsigned char> line(h.cupsBytesPerLine);
        for (int p = 0; p < pages; ++p) {
            cupsRasterWriteHeader2(r, &h);
            for (int y = 0; y < img.height; ++y) {
                const unsigned char *row = &img.bgr[(size_t)y * img.stride];
                for (int x = 0; x < img.width; ++x) {
                    line[3 * x] = row[3 * x + 2];
                    line[3 * x + 1] = row[3 * x + 1];
                    line[3 * x + 2] = row[3 * x];
                }
                cupsRasterWritePixels(r, line.data(), h.cupsBytesPerLine);
            }
        }
        cupsRasterClose(r);
        close(fd);
    }
    return 0;
}

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], "--write-", 8) == 0) {
            return WriteJobFiles(argc, argv);
        }
    }
    // The report goes to the original standard output (a copy of the
    // descriptor, so that a file it names keeps one position); the job data
    // to the file.
    FILE *report = fdopen(dup(1), "w");
    FileBuf consoleBuf(report);
    std::ostream console(&consoleBuf);
    const char *outPath = std::getenv("RVC_BENCH_OUT");
    std::string out = outPath != nullptr ? outPath : "/tmp/rvc_page_bench.tspl";
    int fd = open(out.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || report == nullptr) {
        std::cerr << "page_bench: cannot open " << out << " or the console\n";
        return 1;
    }
    fflush(stdout);
    dup2(fd, 1);
    close(fd);

    const char *ppdDir = std::getenv("RVC_PPD_DIR");
    g_ppdDir = ppdDir != nullptr ? ppdDir : ExeDir() + "/../ppd";
    StartLogger();
    Register();
    benchmark::Initialize(&argc, argv);
    benchmark::ConsoleReporter reporter;
    reporter.SetOutputStream(&console);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    console.flush();
    fclose(report);
    tslog::ILogManager::getInstance()->stop();
    std::string logFile = g_logDir + "/vortspl.log";
    remove(logFile.c_str());
    rmdir(g_logDir.c_str());
    remove(out.c_str());
    return 0;
}
