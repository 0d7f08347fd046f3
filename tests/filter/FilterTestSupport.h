// Raster streams from libcups' writer, the built filter run as a process,
// and the TSPL the tests expect.
#ifndef RVC_TESTS_FILTER_FILTERTESTSUPPORT_H
#define RVC_TESTS_FILTER_FILTERTESTSUPPORT_H

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <cups/raster.h>

namespace rvctest {

// The test's environment names the trees; the build's own paths stand in
// when it does not.
inline std::string SourceDir() {
    const char *d = getenv("RVC_SOURCE_DIR");
    return d ? d : RVC_TEST_SOURCE_DIR;
}
inline std::string BinaryDir() {
    const char *d = getenv("RVC_BINARY_DIR");
    return d ? d : RVC_TEST_BINARY_DIR;
}
inline std::string FilterPath() { return BinaryDir() + "/filter/rastertovorcp"; }
inline std::string FixturePpd() { return SourceDir() + "/tests/filter/label203.ppd"; }
inline const char *LogPath() { return "/tmp/vortspl.log"; }

inline std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const std::string &path, const std::string &data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

// The fixture PPD with other default choices, written into path. (Job
// options cannot choose "Mirror": libcups marks a job's mirror option as
// "MirrorPrint".)
inline std::string PpdWithDefaults(const std::string &path,
                                   const std::vector<std::pair<std::string, std::string>> &defs) {
    std::string ppd = ReadFile(FixturePpd());
    for (const auto &d : defs) {
        std::string key = "*Default" + d.first + ": ";
        size_t at = ppd.find(key);
        if (at != std::string::npos) {
            size_t eol = ppd.find('\n', at);
            ppd.replace(at, eol - at, key + d.second);
        }
    }
    WriteFile(path, ppd);
    return path;
}

// A scratch folder removed with the fixture.
class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/rvc-filter-XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string File(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// One raster page: the ink function says which pixels are black (the rest
// is white); rowsWritten below height truncates the page.
struct Page {
    unsigned width = 64;
    unsigned height = 32;
    unsigned bitsPerPixel = 24;
    unsigned bitsPerColor = 8;
    cups_cspace_t colorSpace = CUPS_CSPACE_RGB;
    cups_order_t colorOrder = CUPS_ORDER_CHUNKED;
    unsigned resolution = 203;
    int yResolution = -1; // -1: same as resolution
    unsigned copies = 1;
    unsigned bytesPerLine = 0; // 0: computed
    int rowsWritten = -1;      // -1: all
    std::function<bool(unsigned, unsigned)> ink = [](unsigned, unsigned) { return false; };
    // Raw pixel bytes of a line, overriding ink when set.
    std::function<void(unsigned, unsigned char *)> line;
};

inline std::function<bool(unsigned, unsigned)> Box(unsigned x0, unsigned y0, unsigned x1,
                                                   unsigned y1) {
    return [=](unsigned x, unsigned y) { return x >= x0 && x <= x1 && y >= y0 && y <= y1; };
}

inline void FillHeader(const Page &p, cups_page_header2_t *h) {
    memset(h, 0, sizeof(*h));
    h->HWResolution[0] = p.resolution;
    h->HWResolution[1] = p.yResolution < 0 ? p.resolution : (unsigned)p.yResolution;
    h->PageSize[0] = p.width * 72 / (p.resolution ? p.resolution : 72);
    h->PageSize[1] = p.height * 72 / (p.resolution ? p.resolution : 72);
    h->NumCopies = p.copies;
    h->cupsWidth = p.width;
    h->cupsHeight = p.height;
    h->cupsBitsPerColor = p.bitsPerColor;
    h->cupsBitsPerPixel = p.bitsPerPixel;
    h->cupsBytesPerLine =
        p.bytesPerLine ? p.bytesPerLine : (unsigned)(((uint64_t)p.width * p.bitsPerPixel + 7) / 8);
    h->cupsColorOrder = p.colorOrder;
    h->cupsColorSpace = p.colorSpace;
    h->cupsNumColors = p.bitsPerPixel / (p.bitsPerColor ? p.bitsPerColor : 1);
    strcpy(h->MediaClass, "PwgRaster");
}

// The stream libcups' writer makes for the pages (uncompressed unless
// asked); stopAfterRows cuts the last page's pixels after that many rows.
inline std::string MakeRaster(const std::vector<Page> &pages,
                              cups_mode_t mode = CUPS_RASTER_WRITE) {
    char tmpl[] = "/tmp/rvc-raster-XXXXXX";
    int fd = mkstemp(tmpl);
    cups_raster_t *r = cupsRasterOpen(fd, mode);
    for (const Page &p : pages) {
        cups_page_header2_t h;
        FillHeader(p, &h);
        if (!cupsRasterWriteHeader2(r, &h)) {
            fprintf(stderr, "raster header refused by the writer\n");
        }
        std::vector<unsigned char> line(h.cupsBytesPerLine);
        unsigned rows = p.rowsWritten < 0 ? p.height : (unsigned)p.rowsWritten;
        unsigned bpp = p.bitsPerPixel / 8;
        for (unsigned y = 0; y < rows; ++y) {
            if (p.line) {
                p.line(y, line.data());
            } else {
                for (unsigned x = 0; x < p.width; ++x) {
                    unsigned char v = p.ink(x, y) ? 0 : 255;
                    for (unsigned k = 0; k < bpp; ++k) {
                        line[x * bpp + k] = v;
                    }
                }
            }
            cupsRasterWritePixels(r, line.data(), h.cupsBytesPerLine);
        }
    }
    cupsRasterClose(r);
    close(fd);
    std::string data = ReadFile(tmpl);
    unlink(tmpl);
    return data;
}

enum class Out { Capture, DevFull, ClosedPipe };

struct Job {
    std::vector<std::string> args = {"rastertovorcp", "1", "user", "title", "1", ""};
    std::string ppd = FixturePpd(); // empty: PPD unset
    std::string input;              // raster bytes for standard input
    std::string inputFile;          // when set, passed as argv[6]
    Out out = Out::Capture;
    rlim_t addressLimit = 0; // RLIMIT_AS for the filter, 0: none
    std::vector<std::string> extraEnv;
    // Called with the write end of the input pipe and the child's pid; it
    // owns the writing (and closes the descriptor). Input is ignored then.
    std::function<void(int, pid_t)> feeder;
};

struct Result {
    int status = -1;    // exit status, -1 when killed by a signal
    int signal = 0;     // the killing signal
    std::string out;    // standard output
    std::string err;    // standard error
    double seconds = 0; // run time
};

inline Result RunFilter(const Job &run) {
    TempDir dir;
    std::string outPath = dir.File("stdout"), errPath = dir.File("stderr");
    int inPipe[2];
    if (pipe(inPipe) != 0) {
        return {};
    }
    int outPipe[2] = {-1, -1};
    if (run.out == Out::ClosedPipe && pipe(outPipe) != 0) {
        return {};
    }
    std::vector<std::string> env = {"LC_ALL=C", "PATH=/usr/bin:/bin"};
    if (!run.ppd.empty()) {
        env.push_back("PPD=" + run.ppd);
    }
    // The sanitizers' settings pass through unless the run sets its own.
    for (const char *keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        bool own = false;
        for (const std::string &e : run.extraEnv) {
            own = own || e.rfind(std::string(keep) + "=", 0) == 0;
        }
        if (getenv(keep) && !own) {
            env.push_back(std::string(keep) + "=" + getenv(keep));
        }
    }
    for (const std::string &e : run.extraEnv) {
        env.push_back(e);
    }
    std::vector<char *> argv, envp;
    for (const std::string &a : run.args) {
        argv.push_back(const_cast<char *>(a.c_str()));
    }
    argv.push_back(nullptr);
    for (const std::string &e : env) {
        envp.push_back(const_cast<char *>(e.c_str()));
    }
    envp.push_back(nullptr);
    std::string filter = FilterPath();

    // No line of an earlier run may be mistaken for one of this run.
    unlink(LogPath());
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(inPipe[0], 0);
        close(inPipe[0]);
        close(inPipe[1]);
        int out = -1;
        if (run.out == Out::Capture) {
            out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        } else if (run.out == Out::DevFull) {
            out = open("/dev/full", O_WRONLY);
        } else {
            close(outPipe[0]); // no reader is left
            out = outPipe[1];
        }
        dup2(out, 1);
        close(out);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(err, 2);
        close(err);
        if (run.addressLimit != 0) {
            struct rlimit lim = {run.addressLimit, run.addressLimit};
            setrlimit(RLIMIT_AS, &lim);
        }
        execve(filter.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(inPipe[0]);
    if (run.out == Out::ClosedPipe) {
        close(outPipe[0]);
        close(outPipe[1]);
    }
    if (run.feeder) {
        run.feeder(inPipe[1], pid);
    } else {
        // A writer that stops early (the filter gave up) must not kill the test.
        signal(SIGPIPE, SIG_IGN);
        size_t done = 0;
        while (done < run.input.size()) {
            ssize_t n = write(inPipe[1], run.input.data() + done, run.input.size() - done);
            if (n <= 0) {
                break;
            }
            done += (size_t)n;
        }
        close(inPipe[1]);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    Result res;
    res.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(wstatus)) {
        res.status = WEXITSTATUS(wstatus);
    } else if (WIFSIGNALED(wstatus)) {
        res.signal = WTERMSIG(wstatus);
    }
    res.out = ReadFile(outPath);
    res.err = ReadFile(errPath);
    return res;
}

// Writes everything to fd, ignoring a reader that went away.
inline void WriteAll(int fd, const std::string &data) {
    signal(SIGPIPE, SIG_IGN);
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n <= 0) {
            return;
        }
        done += (size_t)n;
    }
}

// Polls the log file for a text, up to the given time.
inline bool WaitForLog(const std::string &text, double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (ReadFile(LogPath()).find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// ---- The TSPL the tests expect -------------------------------------------

const char kTearOff[] = "SET TEAR OFF\r\nSET PEEL OFF\r\nSET CUTTER OFF\r\n";
const char kCutter[] = "SET TEAR OFF\r\nSET PEEL OFF\r\n";
const char kSetupTail[] = "DIRECTION 1,0\r\nREFERENCE 0,0\r\nDENSITY 8\r\nOFFSET 0 mm\r\n";

// The fixture PPD's defaults: 3 mm gap, density 8, no feed; the post-print
// commands as given (tear-off by default).
inline std::string Preamble(int width, int height, const std::string &after = kTearOff) {
    return "CLS\r\nSIZE " + std::to_string(width) + " dot," + std::to_string(height) +
           " dot\r\nGAP 3 mm,0 mm\r\n" + kSetupTail + after;
}

// Paper-saving mode: no label size in the preamble.
inline std::string SavingPreamble() {
    return std::string("CLS\r\nGAP 0 mm,0 mm\r\n") + kSetupTail + kTearOff;
}

// The packed bitmap of an output area: bit 7 first, 0 = dot.
struct Bitmap {
    int x = 0, y = 0, widthBytes = 0, height = 0;
    std::string data;
};

// Unmirrored: the area's columns left..right (right + 1 - left a multiple
// of 8), rows top..bottom, with dot(x, y) in output coordinates.
inline Bitmap Pack(int left, int top, int right, int bottom,
                   const std::function<bool(int, int)> &dot) {
    Bitmap b;
    b.x = left;
    b.y = top;
    b.widthBytes = (right - left + 1) / 8;
    b.height = bottom - top + 1;
    b.data.assign((size_t)b.widthBytes * b.height, '\xff');
    for (int r = 0; r < b.height; ++r) {
        for (int i = 0; i < right - left + 1; ++i) {
            if (dot(left + i, top + r)) {
                b.data[(size_t)r * b.widthBytes + i / 8] &= (char)~(0x80 >> (i % 8));
            }
        }
    }
    return b;
}

inline std::string Block(const Bitmap &b, int copies) {
    return "BITMAP " + std::to_string(b.x) + "," + std::to_string(b.y) + "," +
           std::to_string(b.widthBytes) + "," + std::to_string(b.height) + ",0," + b.data +
           "\r\nPRINT 1," + std::to_string(copies) + "\r\n";
}

inline std::string PageOut(const Bitmap &b, int copies) { return "CLS\r\n" + Block(b, copies); }

// Walks a TSPL job: every BITMAP header must be followed by exactly its
// payload and CR LF. Returns false with a reason otherwise; counts commands.
struct JobShape {
    int cls = 0, bitmaps = 0, prints = 0;
    std::string error;
};

inline JobShape ParseJob(const std::string &job) {
    JobShape s;
    size_t pos = 0;
    while (pos < job.size()) {
        size_t eol = job.find("\r\n", pos);
        if (job.compare(pos, 7, "BITMAP ") == 0) {
            int x, y, w, h, m, used = 0;
            if (sscanf(job.c_str() + pos, "BITMAP %d,%d,%d,%d,%d,%n", &x, &y, &w, &h, &m, &used) !=
                    5 ||
                used == 0) {
                s.error = "bad BITMAP header at " + std::to_string(pos);
                return s;
            }
            size_t end = pos + used + (size_t)w * h;
            if (end + 2 > job.size() || job.compare(end, 2, "\r\n") != 0) {
                s.error = "BITMAP payload length differs from its header at " + std::to_string(pos);
                return s;
            }
            ++s.bitmaps;
            pos = end + 2;
            continue;
        }
        if (eol == std::string::npos) {
            s.error = "unterminated command at " + std::to_string(pos);
            return s;
        }
        if (job.compare(pos, 5, "CLS\r\n") == 0) {
            ++s.cls;
        } else if (job.compare(pos, 6, "PRINT ") == 0) {
            ++s.prints;
        }
        pos = eol + 2;
    }
    return s;
}

inline int Count(const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) {
        ++n;
    }
    return n;
}

} // namespace rvctest

#endif
