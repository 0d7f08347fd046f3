// The built rastertovorcp as the spooler runs it: arguments, exit statuses
// and messages, the log file, failed writes, memory and cancellation; and
// tspl-view as a user runs it.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/Support.h"

namespace {

using rvt::Out;
using rvt::Process;
using rvt::Result;

Process Job(const rvt::TempDir &dir, const std::vector<rvt::Page> &pages) {
    Process p;
    p.ppd = rvt::Ppd(dir);
    p.input = rvt::Raster(pages);
    return p;
}

// A message in the spooler's form: on a line of its own.
bool HasError(const std::string &err, const std::string &text) {
    return err.find("\nERROR: " + text) != std::string::npos && err.back() == '\n';
}

TEST(Process, PrintsFromStandardInputOrAFileAndLogsDurably) {
    rvt::TempDir dir;
    Process p = Job(dir, {rvt::InkPage(8, 4, 23, 11)});
    Result fromStdin = rvt::RunProcess(p);
    EXPECT_EQ(fromStdin.status, 0);
    EXPECT_EQ(fromStdin.err, "Finish print operation.");
    EXPECT_EQ(rvt::ReadTspl(fromStdin.out).labels.size(), 1u);
    // The log starts with the logger's two lines and ends with the job's
    // last trace, all on disk when the process has gone.
    const std::string log = rvt::ReadFile(rvt::kFilterLog);
    for (const char *line :
         {"LOG_ALARM -----------------  tslog thread started!",
          "LOG_ALARM logger id=0 key=Main name=vortspl path=/tmp/", "EndDoc, bufStart is 0x"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");

    rvt::WriteFile(dir / "job.ras", p.input);
    p.args.push_back(dir / "job.ras");
    p.input.clear();
    Result fromFile = rvt::RunProcess(p);
    EXPECT_EQ(fromFile.status, 0);
    EXPECT_EQ(fromFile.out, fromStdin.out);
}

TEST(Process, StartUpFailures) {
    rvt::TempDir dir;
    const std::string raster = rvt::Raster({rvt::InkPage(0, 0, 7, 1)}), ppd = rvt::Ppd(dir);
    const std::string usage = "rastertovorcp job-id user title copies options [file]";
    const std::vector<std::string> args = {"rastertovorcp",        "1", "u", "t", "1", "",
                                           "/nonexistent/job.ras", "x"};
    const struct {
        size_t argc;
        std::string ppd, input, err;
    } cases[] = {
        {1, ppd, raster, usage},
        {5, ppd, raster, usage},
        {8, ppd, raster, usage},
        {6, ppd, "", "cupsRasterOpen failed."},
        {6, "", raster, "The PPD file could not be opened.NULL PPD file pointer on line 0."},
        {6, "/nonexistent/x.ppd", raster,
         "The PPD file could not be opened.Unable to open PPD file on line 0."},
        {7, ppd, raster, "ERROR: Unable to open raster file"},
    };
    for (const auto &c : cases) {
        Process p;
        p.args.assign(args.begin(), args.begin() + c.argc), p.ppd = c.ppd, p.input = c.input;
        const auto start = std::chrono::steady_clock::now();
        Result r = rvt::RunProcess(p);
        // A raster file that cannot be opened fails after a pause.
        EXPECT_TRUE(c.argc != 7 ||
                    std::chrono::steady_clock::now() - start >= std::chrono::seconds(1));
        EXPECT_EQ(r.status, 1) << c.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "") << c.err;
        // The logger was started before anything was looked at.
        EXPECT_NE(rvt::ReadFile(rvt::kFilterLog).find("tslog thread started"), std::string::npos);
    }
}

// A full device, a reader gone or a page too large for memory: one error,
// no signal, and nothing read or printed past the failure.
TEST(Process, ResourceFailuresEndTheJobWithOneError) {
    rvt::TempDir dir;
    const rvt::Page small = rvt::InkPage(0, 0, 7, 1);
    rvt::Page large = rvt::InkPage(0, 0, 799, 199), huge = small;
    large.width = 800, large.height = 200;
    huge.width = huge.height = 8000, huge.rows = 0;
    const char *write = "Unable to write the print data";
    const struct {
        const char *name;
        Out out;
        std::vector<rvt::Page> pages;
        const char *error;
    } cases[] = {
        {"full device, final flush", Out::DevFull, {small}, write},
        {"full device, during the job", Out::DevFull, {large, large, large}, write},
        {"vanished reader", Out::ClosedPipe, {large, large, large}, write},
        {"page too large", Out::Capture, {huge}, "Unable to allocate memory"},
    };
    for (const auto &c : cases) {
        Process p = Job(dir, c.pages);
        p.out = c.out;
        if (c.pages[0].width == 8000) {
#if defined(__SANITIZE_ADDRESS__)
            // The sanitizer reserves more address space than any limit
            // allows; its own allocation limit stands in.
            p.env.push_back("ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:"
                            "max_allocation_size_mb=100");
#else
            p.addressLimit = 150ul << 20;
#endif
        }
        Result r = rvt::RunProcess(p);
        EXPECT_EQ(r.signal, 0) << c.name;
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_TRUE(HasError(r.err, c.error)) << c.name << ": " << r.err;
        EXPECT_EQ(r.err.find("ERROR:"), r.err.rfind("ERROR:")) << c.name;
        // Nothing more is read once page 1 could not be sent.
        EXPECT_EQ(r.err.find("Finish print operation."), r.err.rfind("Finish print operation."))
            << c.name;
        EXPECT_EQ(r.out.find("BITMAP"), std::string::npos) << c.name;
    }
}

TEST(Process, CancelWhilePageTwoIsReadEmitsItAsTheLast) {
    rvt::TempDir dir;
    // Page 2 has ink before and after the point where the stream pauses.
    rvt::Page p2 = rvt::InkPage(8, 2, 15, 3, 2), partial;
    p2.colour = [](unsigned x, unsigned y) {
        return x >= 8 && x <= 15 && (y == 2 || y == 30) ? 0u : 0xffffffu;
    };
    partial = p2;
    partial.rows = 10;
    const std::string full =
        rvt::Raster({rvt::InkPage(0, 0, 7, 1, 2), p2, rvt::InkPage(16, 4, 23, 5, 2)});
    const std::string prefix = rvt::Raster({rvt::InkPage(0, 0, 7, 1, 2), partial});
    ASSERT_EQ(full.compare(0, prefix.size(), prefix), 0);
    Process p = Job(dir, {});
    p.args[5] = "Mode=Cutter CutMethod=EndOfJob";
    p.feeder = [&](int fd, pid_t pid) {
        rvt::WriteAll(fd, prefix);
        // Page 2's header has been read once it is logged; the filter then
        // waits for the rest of its lines.
        for (int i = 0;
             i < 500 && rvt::ReadFile(rvt::kFilterLog).find("curPage is 1") == std::string::npos;
             ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(pid, SIGTERM);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        rvt::WriteAll(fd, full.substr(prefix.size()));
        close(fd);
    };
    Result r = rvt::RunProcess(p);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Finish print operation.");
    tsplview::Job job = rvt::ReadTspl(r.out);
    ASSERT_EQ(job.labels.size(), 2u);
    // Page 2 is whole, and the cut that ends the job follows it.
    EXPECT_EQ(job.labels[1].inkTop, 2);
    EXPECT_EQ(job.labels[1].inkBottom, 30);
    EXPECT_EQ(job.labels[1].cutsAfter, std::vector<long>({4}));
    EXPECT_EQ(rvt::ReadFile(rvt::kFilterLog).find("Start Page 3"), std::string::npos);
}

// tspl-view as a user runs it: the pictures it writes, its summary and its
// statuses.
TEST(ViewerCli, PicturesSummaryAndStatuses) {
    rvt::TempDir dir;
    const std::string label = "SIZE 16 dot,4 dot\r\nCLS\r\nBITMAP 8,1,1,1,0,\x3f\r\nPRINT 1,3\r\n";
    rvt::WriteFile(dir / "good.tspl", label);
    rvt::WriteFile(dir / "bad.tspl", label + "CLS\r\nBITMAP 0,0,2,2,0,\xff");
    const struct {
        const char *args;
        int status;
        const char *said;
    } cases[] = {
        {"good.tspl -o out -s 3", 0, "\npng: out/good-001-x3.png\n"},
        {"--check good.tspl", 0, "good.tspl: valid, 3 label(s), 0 cut(s)\n"},
        {"--check bad.tspl", 1, "byte 77: BITMAP payload is short"},
        {"-o b bad.tspl", 1, "b/bad-001-x3.png\n"},
        {"-s 0 good.tspl", 2, "scale must be"},
        {"missing.tspl", 3, "cannot open"},
        {"-o /dev/null/x good.tspl", 3, "cannot create folder"},
        {"--check < good.tspl", 0, "stdin: valid"},
    };
    for (const auto &c : cases) {
        auto [st, said] = rvt::Shell("cd " + dir.path() + " && " RVC_VIEWER_EXE " " + c.args);
        EXPECT_EQ(st, c.status) << c.args << "\n" << said;
        EXPECT_NE(said.find(c.said), std::string::npos) << c.args << "\n" << said;
    }
    // 16 x 4 dots at scale 3: the PNG header's width and height.
    EXPECT_EQ(rvt::ReadFile(dir / "out/good-001-x3.png").substr(16, 8),
              std::string("\0\0\0\x30\0\0\0\x0c", 8));
}

} // namespace
