// The job and the page emission called inside the test process: repeated
// jobs start from fresh state, and an unready renderer prints nothing.
#include <gtest/gtest.h>

#include "filter/FilterJob.h"
#include "render/TSPLRenderClass.h"
#include "tests/filter/FilterTestSupport.h"

using namespace rvctest;

namespace {

// Runs fn with standard output sent to a file; returns what it wrote.
template <typename Fn> std::string CaptureStdout(const TempDir &dir, Fn fn) {
    std::string path = dir.File("out");
    fflush(stdout);
    int saved = dup(1);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 1);
    close(fd);
    fn();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    return ReadFile(path);
}

int RunJob(const std::string &raster, const std::string &options) {
    std::vector<std::string> args = {"rastertovorcp", "7", "user", "title", "1", options, raster};
    std::vector<char *> argv;
    for (std::string &a : args) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    return RunFilterJob((int)args.size(), argv.data(), 0);
}

TEST(InProcess, RepeatedJobsStartFromFreshState) {
    TempDir dir;
    setenv("PPD", FixturePpd().c_str(), 1);
    std::string raster = dir.File("job.ras");
    Page page;
    page.copies = 2;
    page.ink = Box(8, 4, 23, 11);
    WriteFile(raster, MakeRaster({page, page}));

    // Cutting method 3 counts labels across the job: a count left over from
    // the previous job would move the cuts.
    const char *options = "Mode=Cutter CutMethod=Interval Interval=I3";
    int status = -1;
    std::string first = CaptureStdout(dir, [&] { status = RunJob(raster, options); });
    ASSERT_EQ(status, 0);
    ASSERT_NE(first.find("BITMAP"), std::string::npos);
    EXPECT_EQ(ParseJob(first).error, "");

    // A stale cancel flag or stream error must not leak into the next job.
    Canceled = 1;
    std::string second = CaptureStdout(dir, [&] {
        fputs("x", stdout);
        status = RunJob(raster, options);
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(second, "x" + first);
    unsetenv("PPD");
}

TEST(InProcess, RefusedJobReleasesWhatItHeld) {
    TempDir dir;
    setenv("PPD", FixturePpd().c_str(), 1);
    std::string raster = dir.File("job.ras");
    Page good, bad;
    good.ink = Box(0, 0, 7, 1);
    bad.bitsPerPixel = 32;
    bad.colorSpace = CUPS_CSPACE_CMYK;
    WriteFile(raster, MakeRaster({good, bad}));
    signal(SIGTERM, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    int status = -1;
    std::string out = CaptureStdout(dir, [&] { status = RunJob(raster, ""); });
    // The sanitizer build finds any leak of the held page at exit.
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, Preamble(64, 33));
    // The caller's signal dispositions are back.
    struct sigaction term, pipe;
    sigaction(SIGTERM, nullptr, &term);
    sigaction(SIGPIPE, nullptr, &pipe);
    EXPECT_EQ(term.sa_handler, SIG_DFL);
    EXPECT_EQ(pipe.sa_handler, SIG_DFL);
    unsetenv("PPD");
}

TEST(InProcess, UnreadyRendererPrintsNothing) {
    TempDir dir;
    tagOEMCFG cfg;
    _DEVMODE dm;
    _OEMPDEV pdev;
    memset(&cfg, 0, sizeof(cfg));
    memset(&dm, 0, sizeof(dm));
    memset(&pdev, 0, sizeof(pdev));
    unsigned char pixels[48] = {0};
    struct Case {
        const char *name;
        bool config, buffer;
    } cases[] = {{"no configuration", false, true}, {"no page buffer", true, false}};
    for (const Case &c : cases) {
        pdev.bufStart = c.buffer ? pixels : nullptr;
        pdev.dwBufSize = sizeof(pixels);
        pdev.bmInfoHeader.biWidth = 4;
        pdev.bmInfoHeader.biHeight = 4;
        pdev.bmInfoHeader.biBitCount = 24;
        int result = -1;
        std::string out = CaptureStdout(dir, [&] {
            CTSPLRenderClass render;
            if (c.config) {
                render.SetOemCfgPointer(&cfg);
            }
            render.SetDevModePointer(&dm);
            render.SetOemPdevPointer(&pdev);
            result = render.TransCommand(1);
        });
        EXPECT_EQ(result, 0) << c.name;
        EXPECT_EQ(out, "") << c.name;
    }
}

} // namespace
