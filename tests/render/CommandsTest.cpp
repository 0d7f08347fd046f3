// The command vocabulary, the label size and the job preamble, byte for byte.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/render/RenderFixture.h"

namespace {

constexpr long kBig = (1L << 32) + 5; // only the low 32 bits are printed

struct CommandCase {
    const char *name;
    std::function<int(CTSPLRenderClass &)> call;
    std::string expected;
};

std::string Captured(CTSPLRenderClass &r, const std::function<int(CTSPLRenderClass &)> &call,
                int *result) {
    StdoutCapture capture;
    *result = call(r);
    return capture.Finish();
}

} // namespace

TEST_F(RenderTest, EachCommandWritesItsTextAndReturnsItsLength) {
    const std::vector<CommandCase> cases = {
        {"cls", [](CTSPLRenderClass &x) { return x.OutPutCLSCommand(); }, "CLS\r\n"},
        {"cr", [](CTSPLRenderClass &x) { x.OutputCRCMD(); return 2; }, "\r\n"},
        {"size2", [](CTSPLRenderClass &x) { return x.OutPutSizeCommand(-4, 108); },
         "SIZE -4 dot,108 dot\r\n"},
        {"gap whole", [](CTSPLRenderClass &x) { return x.OutputGapCmd(30, 0); }, "GAP 3 mm,0 mm\r\n"},
        {"gap both", [](CTSPLRenderClass &x) { return x.OutputGapCmd(25, 15); },
         "GAP 2.5 mm,1.5 mm\r\n"},
        {"gap zero", [](CTSPLRenderClass &x) { return x.OutputGapCmd(0, 0); }, "GAP 0 mm,0 mm\r\n"},
        {"gap negative", [](CTSPLRenderClass &x) { return x.OutputGapCmd(-15, 20); },
         "GAP -1.5 mm,2 mm\r\n"},
        {"gap offset fraction", [](CTSPLRenderClass &x) { return x.OutputGapCmd(-20, -5); },
         "GAP -2 mm,-0.5 mm\r\n"},
        {"black line", [](CTSPLRenderClass &x) { return x.OutputBLineCmd(30, 5); },
         "GAP 3 mm,0.5 mm\r\n"},
        {"ribbon off", [](CTSPLRenderClass &x) { return x.OutputPaperTypeCmd(1); }, "SET RIBBON OFF\r\n"},
        {"ribbon on", [](CTSPLRenderClass &x) { return x.OutputPaperTypeCmd(2); }, "SET RIBBON ON\r\n"},
        {"ribbon bad", [](CTSPLRenderClass &x) { return x.OutputPaperTypeCmd(3); }, ""},
        {"peel off", [](CTSPLRenderClass &x) { return x.OutputPeelCmd(0); }, "SET PEEL OFF\r\n"},
        {"peel on", [](CTSPLRenderClass &x) { return x.OutputPeelCmd(1); }, "SET PEEL ON\r\n"},
        {"peel bad", [](CTSPLRenderClass &x) { return x.OutputPeelCmd(2); }, ""},
        {"tear off", [](CTSPLRenderClass &x) { return x.OutputTearCmd(0); }, "SET TEAR OFF\r\n"},
        {"tear on", [](CTSPLRenderClass &x) { return x.OutputTearCmd(1); }, "SET TEAR ON\r\n"},
        {"tear bad", [](CTSPLRenderClass &x) { return x.OutputTearCmd(-1); }, ""},
        {"cutter off", [](CTSPLRenderClass &x) { return x.OutputCutterCmd(0); }, "SET CUTTER OFF\r\n"},
        {"cutter 3", [](CTSPLRenderClass &x) { return x.OutputCutterCmd(3); }, "SET CUTTER 3\r\n"},
        {"cutter long", [](CTSPLRenderClass &x) { return x.OutputCutterCmd(kBig); },
         "SET CUTTER 5\r\n"},
        {"offset 0", [](CTSPLRenderClass &x) { return x.OutputFeedLenCmd(0); }, "OFFSET 0 mm\r\n"},
        {"offset 30", [](CTSPLRenderClass &x) { return x.OutputFeedLenCmd(30); }, "OFFSET 3 mm\r\n"},
        {"offset 25", [](CTSPLRenderClass &x) { return x.OutputFeedLenCmd(25); }, "OFFSET 2.5 mm\r\n"},
        {"offset -25", [](CTSPLRenderClass &x) { return x.OutputFeedLenCmd(-25); },
         "OFFSET -2.5 mm\r\n"},
        {"offset long", [](CTSPLRenderClass &x) { return x.OutputFeedLenCmd((1L << 32) * 10 + 70); },
         "OFFSET 7 mm\r\n"},
        {"reference", [](CTSPLRenderClass &x) { return x.OutPutREFERENCECommand({-3, 7}); },
         "REFERENCE -3,7\r\n"},
        {"direction", [](CTSPLRenderClass &x) { return x.OutPutDIRECTIONCommand(1, 0); },
         "DIRECTION 1,0\r\n"},
        {"density", [](CTSPLRenderClass &x) { return x.OutPutDensityCommand(8); }, "DENSITY 8\r\n"},
        {"print", [](CTSPLRenderClass &x) { return x.OutPutCopiesCommand(3); }, "PRINT 1,3\r\n"},
        {"print 0", [](CTSPLRenderClass &x) { return x.OutPutCopiesCommand(0); }, "PRINT 1,0\r\n"},
        {"print long", [](CTSPLRenderClass &x) { return x.OutPutCopiesCommand(kBig); },
         "PRINT 1,5\r\n"},
    };
    for (const CommandCase &c : cases) {
        int result = -1;
        std::string out = Captured(r, c.call, &result);
        EXPECT_EQ(out, c.expected) << c.name;
        EXPECT_EQ(result, (int)c.expected.size()) << c.name;
    }
}

TEST_F(RenderTest, BitmapHeaderAlignsLeftToBytesAndClampsNegativeEdges) {
    const struct {
        tagRECT rect;
        const char *expected;
    } cases[] = {
        {{0, 0, 815, 99}, "BITMAP 0,0,102,100,0,"},
        {{16, 40, 111, 139}, "BITMAP 16,40,12,100,0,"},
        {{13, 40, 111, 139}, "BITMAP 8,40,13,100,0,"}, // one more byte than from 16
        {{713, 10, 808, 40}, "BITMAP 712,10,13,31,0,"},
        {{-5, -3, 15, 4}, "BITMAP 0,0,2,8,0,"}, // height from the unclamped top
    };
    for (const auto &c : cases) {
        tagRECT rect = c.rect;
        int result = -1;
        std::string out = Captured(r, [&](CTSPLRenderClass &x) { return x.OutPutBITMAPCommand(rect); },
                              &result);
        EXPECT_EQ(out, c.expected);
        EXPECT_EQ(result, (int)strlen(c.expected));
    }
}

TEST_F(RenderTest, CollationPrintsOneCopyPerCommand) {
    dm.dmCollate = 1;
    int result = -1;
    EXPECT_EQ(Captured(r, [](CTSPLRenderClass &x) { return x.OutPutCopiesCommand(3); }, &result),
              "PRINT 1,1\r\n");
}

TEST_F(RenderTest, WithoutConfigurationNothingIsWritten) {
    CTSPLRenderClass blank; // the constructor leaves the configuration unset
    blank.SetDevModePointer(&dm);
    blank.SetOemPdevPointer(&pdev);
    tagRECT rect = {0, 0, 7, 7};
    StdoutCapture capture;
    int sum = blank.OutPutCLSCommand() + blank.OutPutSizeCommand() + blank.OutPutSizeCommand(8, 8) +
              blank.OutputGapCmd(1, 1) + blank.OutputBLineCmd(1, 1) + blank.OutputPaperTypeCmd(1) +
              blank.OutputPeelCmd(1) + blank.OutputTearCmd(1) + blank.OutputCutterCmd(1) +
              blank.OutputFeedLenCmd(1) + blank.OutPutREFERENCECommand({0, 0}) +
              blank.OutPutDIRECTIONCommand(1, 0) + blank.OutPutDensityCommand(8) +
              blank.OutPutBITMAPCommand(rect) + blank.OutPutCopiesCommand(1) +
              blank.StartDocCMD();
    blank.OutputCRCMD();
    EXPECT_EQ(capture.Finish(), "");
    EXPECT_EQ(sum, 0);
    EXPECT_EQ(pdev.nSizeWidth, 0);
}

TEST_F(RenderTest, LabelSizeFollowsPageGeometryAndMaximumWidth) {
    const struct {
        const char *name;
        int16_t rotate90, orientation, printQuality, yResolution, maxWidthMm;
        int32_t cx, cy;
        const char *expected;
        int32_t width, height;
    } cases[] = {
        {"4x6 inch", 0, 1, 203, 203, 104, 812, 1218, "SIZE 816 dot,1219 dot\r\n", 816, 1219},
        {"wider than max", 0, 1, 203, 203, 104, 1624, 1218, "SIZE 832 dot,1219 dot\r\n", 832, 1219},
        {"no max width", 0, 1, 203, 203, 0, 1624, 1218, "SIZE 1624 dot,1219 dot\r\n", 1624, 1219},
        {"turned", 1, 1, 203, 203, 200, 812, 1218, "SIZE 1224 dot,813 dot\r\n", 1224, 813},
        {"landscape turned back", 1, 2, 203, 203, 104, 812, 1218, "SIZE 816 dot,1219 dot\r\n", 816,
         1219},
        {"300 dpi raster", 0, 1, 300, 300, 104, 1200, 1800, "SIZE 816 dot,1219 dot\r\n", 816, 1219},
        // Compared unsigned: a negative width counts as too wide.
        {"negative width", 0, 1, 203, 203, 104, -812, 1218, "SIZE 832 dot,1219 dot\r\n", 832, 1219},
    };
    for (const auto &c : cases) {
        cfg.sRotate90 = c.rotate90;
        cfg.sMaxOutputWidth = c.maxWidthMm;
        dm.dmOrientation = c.orientation;
        dm.dmPrintQuality = c.printQuality;
        dm.dmYResolution = c.yResolution;
        pdev.srcGdiInfo.szlPhysSize = {c.cx, c.cy};
        int result = -1;
        EXPECT_EQ(Captured(r, [](CTSPLRenderClass &x) { return x.OutPutSizeCommand(); }, &result),
                  c.expected)
            << c.name;
        EXPECT_EQ(result, (int)strlen(c.expected)) << c.name;
        EXPECT_EQ(pdev.nSizeWidth, c.width) << c.name;
        EXPECT_EQ(pdev.nSizeHeight, c.height) << c.name;
    }
}

TEST_F(RenderTest, LabelSizeWrapsAt32BitsWithoutOverflow) {
    cfg.sOutputXDPI = 30000;
    cfg.sOutputYDPI = 1;
    cfg.sMaxOutputWidth = 0;
    dm.dmPrintQuality = 1;
    dm.dmYResolution = 1;
    pdev.srcGdiInfo.szlPhysSize = {100000, 1};
    int result = -1;
    // 30000 x 100000 keeps its low 32 bits: -1294967296, raised to -1294967288.
    EXPECT_EQ(Captured(r, [](CTSPLRenderClass &x) { return x.OutPutSizeCommand(); }, &result),
              "SIZE -1294967288 dot,2 dot\r\n");
}

TEST_F(RenderTest, ZeroResolutionGivesNoSize) {
    for (int which = 0; which < 2; ++which) {
        dm.dmPrintQuality = which == 0 ? 0 : 203;
        dm.dmYResolution = which == 0 ? 203 : 0;
        int result = -1;
        EXPECT_EQ(Captured(r, [](CTSPLRenderClass &x) { return x.OutPutSizeCommand(); }, &result), "");
        EXPECT_EQ(result, 0);
        EXPECT_EQ(pdev.nSizeWidth, 0);
        // The preamble stops after its CLS.
        EXPECT_EQ(Captured(r, [](CTSPLRenderClass &x) { return x.StartDocCMD(); }, &result), "CLS\r\n");
        EXPECT_EQ(result, 0);
    }
}

TEST_F(RenderTest, PreambleVariants) {
    const std::string head = "CLS\r\nSIZE 816 dot,1219 dot\r\n";
    const std::string tail = "DIRECTION 1,0\r\nREFERENCE 0,0\r\nDENSITY 8\r\nOFFSET 0 mm\r\n";
    const std::string tearPeelCut = "SET TEAR OFF\r\nSET PEEL OFF\r\nSET CUTTER OFF\r\n";
    const struct {
        const char *name;
        int16_t paperMode, labelType, paperType;
        uint64_t afterPrint;
        int result;
        std::string expected;
    } cases[] = {
        {"example", 0, 1, 0, 1, 1, head + "GAP 3 mm,0 mm\r\n" + tail + tearPeelCut},
        {"paper saving", 1, 1, 0, 1, 1, "CLS\r\nGAP 0 mm,0 mm\r\n" + tail + tearPeelCut},
        {"no sensing", 0, 0, 0, 0, 1, head + tail},
        {"black line", 0, 2, 0, 0, 1, head + "GAP 3 mm,0.5 mm\r\n" + tail},
        {"unknown sensing", 0, 7, 0, 0, 1, head + "GAP 0 mm,0 mm\r\n" + tail},
        {"ribbon", 0, 0, 2, 0, 1, head + "SET RIBBON ON\r\n" + tail},
        {"bad ribbon stops", 0, 1, 3, 1, 0, head + "GAP 3 mm,0 mm\r\n"},
        {"peel", 0, 0, 0, 2, 1, head + tail + "SET TEAR OFF\r\nSET PEEL ON\r\nSET CUTTER OFF\r\n"},
        {"tear", 0, 0, 0, 3, 1, head + tail + "SET TEAR ON\r\nSET PEEL OFF\r\nSET CUTTER OFF\r\n"},
        {"cutter", 0, 0, 0, 4, 1, head + tail + "SET TEAR OFF\r\nSET PEEL OFF\r\n"},
        {"unknown action", 0, 0, 0, 5, 1, head + tail},
    };
    for (const auto &c : cases) {
        SetUp();
        cfg.sPaperMode = c.paperMode;
        cfg.sLabelType = c.labelType;
        cfg.sPaperType = c.paperType;
        cfg.dwOperationAfterPrn = c.afterPrint;
        cfg.GAPHeight = 30;
        cfg.sBLineHeight = 30;
        cfg.sBLineOffset = 5;
        int result = -1;
        EXPECT_EQ(Captured(r, [](CTSPLRenderClass &x) { return x.StartDocCMD(); }, &result), c.expected)
            << c.name;
        EXPECT_EQ(result, c.result) << c.name;
        EXPECT_EQ(pdev.nSizeWidth, c.paperMode ? 0 : 816) << c.name;
    }
}

TEST_F(RenderTest, PreambleStopsOnAFullDevice) {
    fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    setvbuf(stdout, nullptr, _IONBF, 0); // every write reaches the device at once
    dup2(full, STDOUT_FILENO);
    int cls = r.OutPutCLSCommand();
    int preamble = r.StartDocCMD();
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(full);
    clearerr(stdout);
    EXPECT_EQ(cls, 0);
    EXPECT_EQ(preamble, 0);
}

TEST_F(RenderTest, PreambleStopsAtTheCommandWhoseWriteFails) {
    // A file-size limit makes the write of the GAP command fall short.
    signal(SIGXFSZ, SIG_IGN);
    cfg.sLabelType = 1;
    cfg.GAPHeight = 30;
    rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    setvbuf(stdout, nullptr, _IONBF, 0);
    int result = -1;
    std::string out;
    {
        StdoutCapture capture;
        rlimit limited = old;
        limited.rlim_cur = 30;
        setrlimit(RLIMIT_FSIZE, &limited);
        result = r.StartDocCMD();
        setrlimit(RLIMIT_FSIZE, &old);
        out = capture.Finish();
    }
    clearerr(stdout);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out, "CLS\r\nSIZE 816 dot,1219 dot\r\nGA");
}
