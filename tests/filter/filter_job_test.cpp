// The filter process end to end: start-up, arguments, the page loop with
// its hold-back, cancellation and the end of job.
#include <gtest/gtest.h>

#include "tests/filter/FilterTestSupport.h"

using namespace rvctest;

namespace {

const char kCutOnce[] = "Mode=Cutter CutMethod=Job";

Page InkPage(unsigned x0, unsigned y0, unsigned x1, unsigned y1, unsigned copies = 1) {
    Page p;
    p.copies = copies;
    p.ink = Box(x0, y0, x1, y1);
    return p;
}

// The log lines of the trace with the given text, in file order.
std::vector<std::string> LogLines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(LogPath()));
    for (std::string line; std::getline(in, line);) {
        if (line.find(text) != std::string::npos) {
            lines.push_back(line);
        }
    }
    return lines;
}

TEST(FilterJob, OnePageIsEmittedAsTheLastAtTheEnd) {
    Job run;
    run.args[5] = kCutOnce;
    run.input = MakeRaster({InkPage(8, 4, 23, 11, 3)});
    Result r = RunFilter(run);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Finish print operation.");
    Bitmap b = Pack(8, 4, 23, 11, [](int, int) { return true; });
    // The last page switches the cutter on for its copies.
    EXPECT_EQ(r.out, Preamble(64, 33, kCutter) + "CLS\r\nSET CUTTER 3\r\n" + Block(b, 3));
}

TEST(FilterJob, LogShowsEveryStepWithItsLine) {
    Job run;
    run.input = MakeRaster({InkPage(8, 4, 23, 11)});
    Result r = RunFilter(run);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string log = ReadFile(LogPath());
    SCOPED_TRACE("log:\n" + log);
    const char *expected[] = {
        "******************************Start Page 1 ****************************** "
        "rastovortspl:30\r\n",
        " Duplex = 0 rastovortspl:31\r\n",
        " HWResolution = [ 203 203 ] rastovortspl:32\r\n",
        " ImagingBoundingBox = [ 0 0 0 0 ] rastovortspl:33\r\n",
        " Margins = [ 0 0 ] rastovortspl:34\r\n",
        " ManualFeed = 0 rastovortspl:35\r\n",
        " MediaPosition = 0 rastovortspl:36\r\n",
        " NumCopies = 1 rastovortspl:37\r\n",
        " Orientation = 0 rastovortspl:38\r\n",
        " PageSize = [ 22 11 ] rastovortspl:39\r\n",
        " cupsWidth = 64 rastovortspl:40\r\n",
        " cupsHeight = 32 rastovortspl:41\r\n",
        " cupsMediaType = 0 rastovortspl:42\r\n",
        " cupsBitsPerColor = 8 rastovortspl:43\r\n",
        " cupsBitsPerPixel = 24 rastovortspl:44\r\n",
        " cupsBytesPerLine = 192 rastovortspl:45\r\n",
        " cupsColorOrder = 0 rastovortspl:46\r\n",
        " cupsColorSpace = 1 rastovortspl:47\r\n",
        " cupsCompression = 0 rastovortspl:48\r\n",
        " Begin to initialize configures rastovortspl:178\r\n",
        " Initializing configures finish rastovortspl:182\r\n",
        " Result of StartDocCMD is 1 rastovortspl:190\r\n",
        " curPage is 0, bufStart is 0x0 rastovortspl:193\r\n",
        // The only page goes out at the end of the job.
        " EndDoc, bufStart is 0x",
        " Method TransCommand in TSPLRenderClass:",
        " biWidth:64, biHeight:32, dwDataBuf2Len:0 TSPLRenderClass:",
    };
    size_t at = 0;
    for (const char *line : expected) {
        size_t found = log.find(line, at);
        EXPECT_NE(found, std::string::npos) << "missing or out of order: " << line;
        if (found != std::string::npos) {
            at = found;
        }
    }
    std::vector<std::string> end = LogLines("EndDoc, bufStart is 0x");
    ASSERT_EQ(end.size(), 1u);
    EXPECT_NE(end[0].find(" rastovortspl:247\r"), std::string::npos);
    // A page is held at the end: its address is not null.
    EXPECT_EQ(end[0].find("bufStart is 0x0 "), std::string::npos);
}

TEST(FilterJob, ThreePagesAreEmittedOnePageLate) {
    Job run;
    run.args[5] = kCutOnce;
    run.input = MakeRaster({InkPage(0, 0, 7, 1, 2), InkPage(8, 2, 15, 3, 2), InkPage(16, 4, 23, 5, 2)});
    Result r = RunFilter(run);
    SCOPED_TRACE("log:\n" + ReadFile(LogPath()));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Finish print operation.Finish print operation.Finish print operation.");
    auto all = [](int, int) { return true; };
    std::string expected = Preamble(64, 33, kCutter) + "CLS\r\nSET CUTTER OFF\r\n" +
                           Block(Pack(0, 0, 7, 1, all), 2) + "CLS\r\n" +
                           Block(Pack(8, 2, 15, 3, all), 2) + "CLS\r\nSET CUTTER 2\r\n" +
                           Block(Pack(16, 4, 23, 5, all), 2);
    EXPECT_EQ(r.out, expected);

    std::vector<std::string> held = LogLines(" curPage is ");
    ASSERT_EQ(held.size(), 3u);
    EXPECT_NE(held[0].find("curPage is 0, bufStart is 0x0 rastovortspl:193"), std::string::npos);
    EXPECT_NE(held[1].find("curPage is 1, bufStart is 0x"), std::string::npos);
    EXPECT_NE(held[2].find("curPage is 2, bufStart is 0x"), std::string::npos);
    EXPECT_EQ(LogLines("Method TransCommand in").size(), 3u);
    EXPECT_EQ(LogLines("Begin to initialize configures").size(), 1u);
}

TEST(FilterJob, FileArgumentIsReadLikeStandardInput) {
    TempDir dir;
    std::string path = dir.File("job.ras");
    WriteFile(path, MakeRaster({InkPage(8, 4, 23, 11)}));
    Job run;
    run.args.push_back(path);
    Result r = RunFilter(run);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, Preamble(64, 33) +
                         PageOut(Pack(8, 4, 23, 11, [](int, int) { return true; }), 1));
}

TEST(FilterJob, EmptyStreamFindsNoPages) {
    Job run;
    run.input = MakeRaster({});
    Result r = RunFilter(run);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "No pages were found.");
    EXPECT_EQ(LogLines("EndDoc, bufStart is 0x0 rastovortspl:247").size(), 1u);
    EXPECT_TRUE(LogLines("Start Page").empty());
}

TEST(FilterJob, CancelWhilePageTwoIsReadEmitsItAsTheLast) {
    // Page 2 has ink before and after the point where the stream pauses.
    Page p1 = InkPage(0, 0, 7, 1, 2);
    Page p2 = InkPage(8, 2, 15, 3, 2);
    p2.ink = [](unsigned x, unsigned y) { return x >= 8 && x <= 15 && (y == 2 || y == 30); };
    Page p3 = InkPage(16, 4, 23, 5, 2);
    std::string full = MakeRaster({p1, p2, p3});
    Page partial = p2;
    partial.rowsWritten = 10;
    std::string prefix = MakeRaster({p1, partial});
    ASSERT_EQ(full.compare(0, prefix.size(), prefix), 0);

    Job run;
    run.args[5] = kCutOnce;
    run.feeder = [&](int fd, pid_t pid) {
        WriteAll(fd, prefix);
        // Page 2's header has been read once its hand-over is logged; the
        // filter then waits for the rest of its lines.
        EXPECT_TRUE(WaitForLog("curPage is 1, bufStart", 10));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(pid, SIGTERM);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        WriteAll(fd, full.substr(prefix.size()));
        close(fd);
    };
    Result r = RunFilter(run);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Finish print operation.");
    auto all = [](int, int) { return true; };
    Bitmap b2 = Pack(8, 2, 15, 30, [](int, int y) { return y == 2 || y == 30; });
    EXPECT_EQ(r.out, Preamble(64, 33, kCutter) + "CLS\r\nSET CUTTER OFF\r\n" +
                         Block(Pack(0, 0, 7, 1, all), 2) + "CLS\r\nSET CUTTER 2\r\n" +
                         Block(b2, 2));
    EXPECT_TRUE(LogLines("Start Page 3").empty());
}

TEST(FilterJob, TruncatedPageIsPrintedWithWhiteRows) {
    Page p = InkPage(0, 2, 7, 5);
    p.height = 100;
    p.rowsWritten = 10;
    Job run;
    run.input = MakeRaster({p});
    Result r = RunFilter(run);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Finish print operation.");
    // Rows 10 to 99 never came: they are paper, not a black block.
    EXPECT_EQ(r.out,
              Preamble(64, 101) + PageOut(Pack(0, 2, 7, 5, [](int, int) { return true; }), 1));
}

TEST(FilterJob, FivePixelWidePage) {
    Page p;
    p.width = 5;
    p.height = 8;
    p.ink = Box(4, 1, 4, 3);
    Job run;
    run.input = MakeRaster({p});
    Result r = RunFilter(run);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, Preamble(8, 9) + PageOut(Pack(0, 1, 7, 3, [](int x, int) { return x == 4; }), 1));
    EXPECT_EQ(LogLines("cupsBytesPerLine = 15 rastovortspl:45").size(), 1u);
}

TEST(FilterJob, WrongArgumentCountGivesTheUsage) {
    for (size_t count : {size_t(1), size_t(5), size_t(8)}) {
        Job run;
        run.args = {"rastertovorcp", "1", "user", "title", "1", "", "/dev/null", "extra"};
        run.args.resize(count);
        run.input = MakeRaster({InkPage(0, 0, 7, 1)});
        Result r = RunFilter(run);
        EXPECT_EQ(r.status, 1) << count;
        EXPECT_EQ(r.err, "rastertovorcp job-id user title copies options [file]") << count;
        EXPECT_EQ(r.out, "") << count;
        // The logger was started before the arguments were looked at.
        EXPECT_FALSE(ReadFile(LogPath()).empty()) << count;
    }
}

TEST(FilterJob, UnreadableFileFailsAfterAPause) {
    Job run;
    run.args.push_back("/nonexistent/job.ras");
    Result r = RunFilter(run);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: Unable to open raster file");
    EXPECT_EQ(r.out, "");
    EXPECT_GE(r.seconds, 1.0);
}

TEST(FilterJob, StreamWithoutRasterSyncFails) {
    Job run;
    run.input = "";
    Result r = RunFilter(run);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "cupsRasterOpen failed.");
    EXPECT_EQ(r.out, "");
}

TEST(FilterJob, MissingPpdIsReportedWithItsError) {
    struct Case {
        std::string ppd;
        std::string err;
    } cases[] = {
        {"", "The PPD file could not be opened.NULL PPD file pointer on line 0."},
        {"/nonexistent/x.ppd", "The PPD file could not be opened.Unable to open PPD file on line 0."},
    };
    for (const Case &c : cases) {
        Job run;
        run.ppd = c.ppd;
        run.input = MakeRaster({InkPage(0, 0, 7, 1)});
        Result r = RunFilter(run);
        EXPECT_EQ(r.status, 1) << c.ppd;
        EXPECT_EQ(r.err, c.err) << c.ppd;
        EXPECT_EQ(r.out, "") << c.ppd;
    }
}

TEST(FilterJob, JobOptionsOverrideThePpdDefaults) {
    Job run;
    run.args[5] = "Density=D12 MediaType=None";
    run.input = MakeRaster({InkPage(8, 4, 23, 11)});
    Result r = RunFilter(run);
    EXPECT_EQ(r.status, 0);
    std::string preamble = "CLS\r\nSIZE 64 dot,33 dot\r\nDIRECTION 1,0\r\nREFERENCE 0,0\r\n"
                           "DENSITY 12\r\nOFFSET 0 mm\r\n" +
                           std::string(kTearOff);
    EXPECT_EQ(r.out.substr(0, preamble.size()), preamble);
}

TEST(FilterJob, ShippedPpdsPrintAPage) {
    for (unsigned dpi : {203u, 300u}) {
        Page p;
        p.width = 400;
        p.height = 300;
        p.resolution = dpi;
        p.ink = [](unsigned x, unsigned y) { return (x / 10 + y / 10) % 3 == 0; };
        Job run;
        run.ppd = BinaryDir() + "/ppd/rastertovorcp-" + std::to_string(dpi) + ".ppd";
        run.input = MakeRaster({p});
        Result r = RunFilter(run);
        EXPECT_EQ(r.status, 0) << dpi << ": " << r.err;
        EXPECT_EQ(r.err, "Finish print operation.") << dpi;
        JobShape shape = ParseJob(r.out);
        EXPECT_EQ(shape.error, "") << dpi;
        EXPECT_EQ(shape.cls, 2) << dpi; // the preamble's and the page's
        EXPECT_EQ(shape.bitmaps, 1) << dpi;
        EXPECT_EQ(shape.prints, 1) << dpi;
        EXPECT_EQ(r.out.rfind("CLS\r\nSIZE 400 dot,301 dot\r\n", 0), 0u) << dpi;
    }
}

} // namespace
