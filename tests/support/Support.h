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
// ECMAScript patterns, here so that the tests' own files need not compile
// <regex>: the text with every match replaced; the number of matches; the
// first group of the first match ("" without one).
std::string RegexReplace(const std::string &text, const std::string &pattern,
                         const std::string &with);
long RegexCount(const std::string &text, const std::string &pattern);
std::string RegexGroup(const std::string &text, const std::string &pattern);
// A log line's time and thread, as the logger writes them.
constexpr char kStampPattern[] = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d{4,}\] )";

// The job read as a printer would; fails the test when it is malformed.
tsplview::Job ReadTspl(const std::string &job);

// Loopback sockets: a connection to 127.0.0.1:port; whether fd becomes
// ready for events within ms; what a peer sends until it ends the
// connection (or stays silent for 2 s).
int Connect(int port);
bool Ready(int fd, short events, int ms);
std::string ReadToEnd(int fd);

// The simulated TSPL printer (tspl-printer) on free loopback ports, with
// its PNGs and record in out(); SIGTERM ends it.
class Sim {
  public:
    explicit Sim(const std::string &args);
    ~Sim();
    Sim(const Sim &) = delete;
    Sim &operator=(const Sim &) = delete;
    // Its exit status once it has ended, within 2 s; -1 when it has not.
    int Wait();
    // A command on the control channel and its answer.
    std::string Control(const std::string &command);
    // Polls the control channel until its status line holds text.
    void WaitFor(const std::string &text);
    // One job on a connection of its own; the status answers it got.
    std::string Print(const std::string &bytes);
    // The picture hashes of the labels job n printed, one per label.
    std::vector<std::string> Labels(int job) const;
    int port() const { return port_; }
    std::string Uri() const { return "socket://127.0.0.1:" + std::to_string(port_); }
    std::string Record() const { return ReadFile(out_ + "/record.txt"); }
    const std::string &out() const { return out_; }
    const TempDir &dir() const { return dir_; }

  private:
    TempDir dir_;
    std::string out_ = dir_ / "out";
    pid_t pid_ = -1;
    int port_ = 0, controlPort_ = 0, control_ = -1;
};

} // namespace rvt

#endif
