// What every suite shares: scratch folders, raster streams from libcups'
// writer, the filter run in this process or as a process, golden files and
// TSPL read back through the viewer's reader.
#ifndef RVC_TESTS_SUPPORT_H
#define RVC_TESTS_SUPPORT_H

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <cups/raster.h>

#include "tools/tspl_job.h"

namespace rvt {

std::string SourceDir();
std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &data);
// The lines of tests/data/<name> that are neither empty nor "#" comments.
std::vector<std::string> CaseLines(const std::string &name);
// text cut at every separator; an empty last field counts.
std::vector<std::string> Split(const std::string &text, char separator);
// A shell command's exit status and everything it wrote.
std::pair<int, std::string> Shell(const std::string &command);
inline constexpr const char *kFilterLog = "/tmp/vortspl.log";

// A fresh folder, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// One raster page. colour(x, y) gives 0xRRGGBB; grey pages take its low
// byte. rows < height ends the page's data early.
struct Page {
    unsigned width = 64, height = 32;
    unsigned bitsPerColor = 8, bitsPerPixel = 24;
    cups_cspace_t space = CUPS_CSPACE_RGB;
    cups_order_t order = CUPS_ORDER_CHUNKED;
    unsigned xdpi = 203, ydpi = 203;
    unsigned copies = 1;
    unsigned bytesPerLine = 0; // 0: from the width
    int rows = -1;             // -1: all
    std::function<uint32_t(unsigned, unsigned)> colour = [](unsigned, unsigned) {
        return 0xffffffu;
    };
};
// Black inside the inclusive rectangle, white elsewhere.
Page InkPage(unsigned x0, unsigned y0, unsigned x1, unsigned y1, unsigned copies = 1);
// The pages as a CUPS raster stream (or, with CUPS_RASTER_WRITE_PWG, a PWG
// one).
std::string Raster(const std::vector<Page> &pages, cups_mode_t mode = CUPS_RASTER_WRITE);

// The test PPD (203 dpi, 3 mm gap, density 8, tear-off) with some defaults
// replaced, written into dir.
std::string Ppd(const TempDir &dir,
                const std::vector<std::pair<std::string, std::string>> &defs = {});

struct Result {
    int status = -1; // exit status; -1 when a signal ended it
    int signal = 0;
    std::string out, err;
};

// The job in this process: RunFilterJob with no page pause, the raster as
// a file argument, standard output and error captured.
Result RunJob(const std::string &raster, const std::string &options, const std::string &ppd);

enum class Out { Capture, DevFull, ClosedPipe };
struct Process {
    std::vector<std::string> args = {"rastertovorcp", "1", "user", "title", "1", ""};
    std::string ppd;   // empty: no PPD variable
    std::string input; // standard input
    Out out = Out::Capture;
    std::vector<std::string> env;
    unsigned long addressLimit = 0; // bytes of address space, 0: no limit
    // Replaces writing input: gets the input pipe and the pid, closes the pipe.
    std::function<void(int, pid_t)> feeder;
};
// The built rastertovorcp as the spooler runs it.
Result RunProcess(const Process &p);
void WriteAll(int fd, const std::string &data);

// Compares text with tests/data/<name>; RVC_UPDATE_GOLDEN=1 rewrites the
// file instead.
void ExpectGolden(const std::string &name, const std::string &text);
// Bytes as reviewable text: printable ASCII as is, CR LF as \r\n and a line
// break, everything else as \xHH.
std::string Escape(const std::string &bytes);

// The job read as a printer would; fails the test when it is malformed.
tsplview::Job ReadTspl(const std::string &job);

} // namespace rvt

#endif
