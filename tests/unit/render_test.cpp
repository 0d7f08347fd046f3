// The renderer's commands, preambles and page commands against golden files;
// the cutter's cuts over whole jobs through the viewer's printer model.
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>

#include <gtest/gtest.h>

#include "render/TSPLRenderClass.h"
#include "tests/support/Support.h"

namespace {

using Cases = std::vector<std::pair<std::string, std::string>>;

// A 4 x 6 inch label at 203 dpi, raster and printer alike, tear-off.
struct Records {
    tagOEMCFG cfg{};
    _DEVMODE dm{};
    _OEMPDEV pdev{};
    Records() {
        cfg.sOutputXDPI = cfg.sOutputYDPI = 203;
        cfg.sMaxOutputWidth = 104;
        cfg.sDensity = 8;
        cfg.dwOperationAfterPrn = 1;
        cfg.sLabelType = 1;
        cfg.GAPHeight = 30;
        dm.dmOrientation = 1;
        dm.dmPrintQuality = dm.dmYResolution = 203;
        pdev.srcGdiInfo.szlPhysSize = {812, 1218};
        pdev.sCurCopies = 1;
    }
    // One renderer call, as the filter makes it; its bytes and result.
    std::string Call(const std::function<int(CTSPLRenderClass &)> &fn, int *result = nullptr) {
        CTSPLRenderClass r;
        r.SetOemCfgPointer(&cfg);
        r.SetDevModePointer(&dm);
        r.SetOemPdevPointer(&pdev);
        int res = 0;
        std::string out = rvt::CaptureStdout([&] { res = fn(r); });
        if (result) {
            *result = res;
        }
        return out;
    }
};

TEST(Render, CommandsWriteTheirTextAndReturnItsLength) {
    const long big = (1L << 32) + 5; // only the low 32 bits are printed
    const std::vector<std::pair<std::string, std::function<int(CTSPLRenderClass &)>>> calls = {
        {"CLS", [](CTSPLRenderClass &r) { return r.OutPutCLSCommand(); }},
        {"CR", [](CTSPLRenderClass &r) { return r.OutputCRCMD(), 2; }},
        {"size -4,108", [](CTSPLRenderClass &r) { return r.OutPutSizeCommand(-4, 108); }},
        {"gap 30,0", [](CTSPLRenderClass &r) { return r.OutputGapCmd(30, 0); }},
        {"gap 25,15", [](CTSPLRenderClass &r) { return r.OutputGapCmd(25, 15); }},
        {"gap 0,0", [](CTSPLRenderClass &r) { return r.OutputGapCmd(0, 0); }},
        {"gap -15,20", [](CTSPLRenderClass &r) { return r.OutputGapCmd(-15, 20); }},
        {"gap -20,-5", [](CTSPLRenderClass &r) { return r.OutputGapCmd(-20, -5); }},
        {"black line 30,5", [](CTSPLRenderClass &r) { return r.OutputBLineCmd(30, 5); }},
        {"paper type 1", [](CTSPLRenderClass &r) { return r.OutputPaperTypeCmd(1); }},
        {"paper type 2", [](CTSPLRenderClass &r) { return r.OutputPaperTypeCmd(2); }},
        {"paper type 3", [](CTSPLRenderClass &r) { return r.OutputPaperTypeCmd(3); }},
        {"peel 0", [](CTSPLRenderClass &r) { return r.OutputPeelCmd(0); }},
        {"peel 1", [](CTSPLRenderClass &r) { return r.OutputPeelCmd(1); }},
        {"peel 2", [](CTSPLRenderClass &r) { return r.OutputPeelCmd(2); }},
        {"tear 0", [](CTSPLRenderClass &r) { return r.OutputTearCmd(0); }},
        {"tear 1", [](CTSPLRenderClass &r) { return r.OutputTearCmd(1); }},
        {"tear -1", [](CTSPLRenderClass &r) { return r.OutputTearCmd(-1); }},
        {"cutter 0", [](CTSPLRenderClass &r) { return r.OutputCutterCmd(0); }},
        {"cutter 3", [](CTSPLRenderClass &r) { return r.OutputCutterCmd(3); }},
        {"cutter 2^32+5", [=](CTSPLRenderClass &r) { return r.OutputCutterCmd(big); }},
        {"feed 0", [](CTSPLRenderClass &r) { return r.OutputFeedLenCmd(0); }},
        {"feed 30", [](CTSPLRenderClass &r) { return r.OutputFeedLenCmd(30); }},
        {"feed 25", [](CTSPLRenderClass &r) { return r.OutputFeedLenCmd(25); }},
        {"feed -25", [](CTSPLRenderClass &r) { return r.OutputFeedLenCmd(-25); }},
        {"feed 2^32*10+70",
         [](CTSPLRenderClass &r) { return r.OutputFeedLenCmd((1L << 32) * 10 + 70); }},
        {"reference -3,7",
         [](CTSPLRenderClass &r) {
             return r.OutPutREFERENCECommand({-3, 7});
         }},
        {"direction 1,0", [](CTSPLRenderClass &r) { return r.OutPutDIRECTIONCommand(1, 0); }},
        {"density 8", [](CTSPLRenderClass &r) { return r.OutPutDensityCommand(8); }},
        {"copies 3", [](CTSPLRenderClass &r) { return r.OutPutCopiesCommand(3); }},
        {"copies 0", [](CTSPLRenderClass &r) { return r.OutPutCopiesCommand(0); }},
        {"copies 2^32+5", [=](CTSPLRenderClass &r) { return r.OutPutCopiesCommand(big); }},
    };
    const tagRECT rects[] = {{0, 0, 815, 99},
                             {16, 40, 111, 139},
                             {13, 40, 111, 139},
                             {713, 10, 808, 40},
                             {-5, -3, 15, 4}};
    Cases out;
    Records rec;
    for (const auto &c : calls) {
        int result = -1;
        out.push_back({c.first, rec.Call(c.second, &result)});
        EXPECT_EQ(result, (int)out.back().second.size()) << c.first;
    }
    for (tagRECT rect : rects) {
        int result = -1;
        out.push_back(
            {"bitmap " + std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
                 std::to_string(rect.right) + "," + std::to_string(rect.bottom),
             rec.Call([&](CTSPLRenderClass &r) { return r.OutPutBITMAPCommand(rect); }, &result)});
        EXPECT_EQ(result, (int)out.back().second.size());
    }
    rec.dm.dmCollate = 1;
    out.push_back({"copies 3 collated",
                   rec.Call([](CTSPLRenderClass &r) { return r.OutPutCopiesCommand(3); })});
    rvt::ExpectGolden("commands.txt", rvt::Cases(out));
}

TEST(Render, LabelSizeAndPreambles) {
    struct Geometry {
        const char *name;
        int16_t rotate90, orientation, xdpi, ydpi, maxMm;
        int32_t cx, cy;
    };
    const Geometry sizes[] = {
        {"4x6 inch", 0, 1, 203, 203, 104, 812, 1218},
        {"wider than the head", 0, 1, 203, 203, 104, 1624, 1218},
        {"no maximum width", 0, 1, 203, 203, 0, 1624, 1218},
        {"turned", 1, 1, 203, 203, 200, 812, 1218},
        {"landscape turned back", 1, 2, 203, 203, 104, 812, 1218},
        {"300 dpi raster", 0, 1, 300, 300, 104, 1200, 1800},
        {"negative width", 0, 1, 203, 203, 104, -812, 1218},
        {"32-bit wrap", 0, 1, 1, 1, 0, 100000, 1},
        {"no x resolution", 0, 1, 0, 203, 104, 812, 1218},
        {"no y resolution", 0, 1, 203, 0, 104, 812, 1218},
    };
    Cases out;
    for (const Geometry &g : sizes) {
        Records rec;
        rec.cfg.sRotate90 = g.rotate90;
        rec.cfg.sMaxOutputWidth = g.maxMm;
        rec.dm.dmOrientation = g.orientation;
        rec.dm.dmPrintQuality = g.xdpi;
        rec.dm.dmYResolution = g.ydpi;
        if (std::string(g.name) == "32-bit wrap") {
            rec.cfg.sOutputXDPI = 30000;
            rec.cfg.sOutputYDPI = 1;
        }
        rec.pdev.srcGdiInfo.szlPhysSize = {g.cx, g.cy};
        int result = -1;
        std::string bytes =
            rec.Call([](CTSPLRenderClass &r) { return r.OutPutSizeCommand(); }, &result);
        EXPECT_EQ(result, (int)bytes.size()) << g.name;
        out.push_back({std::string("size, ") + g.name + " (kept " +
                           std::to_string(rec.pdev.nSizeWidth) + " x " +
                           std::to_string(rec.pdev.nSizeHeight) + ")",
                       bytes});
    }
    struct Preamble {
        const char *name;
        int16_t paperMode, labelType, paperType;
        uint64_t afterPrint;
        int16_t maxMm = 104, xdpi = 203;
    };
    const Preamble preambles[] = {
        {"gap 3 mm, tear-off", 0, 1, 0, 1},
        {"paper saving", 1, 1, 0, 1},
        {"no sensing", 0, 0, 0, 0},
        {"black line 3 mm, 0.5 mm", 0, 2, 0, 0},
        {"unknown sensing", 0, 7, 0, 0},
        {"ribbon", 0, 0, 2, 0},
        {"no ribbon", 0, 0, 1, 0},
        {"bad paper type stops", 0, 1, 3, 1},
        {"peel", 0, 0, 0, 2},
        {"tear", 0, 0, 0, 3},
        {"cutter", 0, 0, 0, 4},
        {"unknown action", 0, 0, 0, 5},
        {"no maximum width", 0, 0, 0, 0, 0},
        {"no resolution stops", 0, 1, 0, 1, 104, 0},
    };
    for (const Preamble &p : preambles) {
        Records rec;
        rec.cfg.sPaperMode = p.paperMode;
        rec.cfg.sLabelType = p.labelType;
        rec.cfg.sPaperType = p.paperType;
        rec.cfg.dwOperationAfterPrn = p.afterPrint;
        rec.cfg.sMaxOutputWidth = p.maxMm;
        rec.cfg.sBLineHeight = 30;
        rec.cfg.sBLineOffset = 5;
        rec.dm.dmPrintQuality = p.xdpi;
        int result = -1;
        std::string bytes = rec.Call([](CTSPLRenderClass &r) { return r.StartDocCMD(); }, &result);
        out.push_back({std::string("preamble, ") + p.name + " (result " + std::to_string(result) +
                           ", width " + std::to_string(rec.pdev.nSizeWidth) + ")",
                       bytes});
    }
    rvt::ExpectGolden("preambles.txt", rvt::Cases(out));
}

TEST(Render, NothingWithoutAConfiguration) {
    Records rec;
    tagRECT rect = {0, 0, 7, 7};
    int sum = 0;
    std::string out = rvt::CaptureStdout([&] {
        CTSPLRenderClass r; // the configuration stays unset
        r.SetDevModePointer(&rec.dm);
        r.SetOemPdevPointer(&rec.pdev);
        sum = r.OutPutCLSCommand() + r.OutPutSizeCommand() + r.OutPutSizeCommand(8, 8) +
              r.OutputGapCmd(1, 1) + r.OutputBLineCmd(1, 1) + r.OutputPaperTypeCmd(1) +
              r.OutputPeelCmd(1) + r.OutputTearCmd(1) + r.OutputCutterCmd(1) +
              r.OutputFeedLenCmd(1) + r.OutPutREFERENCECommand({0, 0}) +
              r.OutPutDIRECTIONCommand(1, 0) + r.OutPutDensityCommand(8) +
              r.OutPutBITMAPCommand(rect) + r.OutPutCopiesCommand(1) + r.StartDocCMD() +
              r.TransCommand(1);
        r.OutputCRCMD();
        // The bitmap is released all the same (the sanitizer build checks).
        r.OutPutPageCommands(rect, (unsigned char *)malloc(8), 8, 8, 1);
    });
    EXPECT_EQ(out, "");
    EXPECT_EQ(sum, 0);
}

TEST(Render, PreambleStopsAtTheCommandWhoseWriteFails) {
    // A file-size limit makes the GAP command's write fall short.
    signal(SIGXFSZ, SIG_IGN);
    setvbuf(stdout, nullptr, _IONBF, 0);
    rlimit old, limited;
    getrlimit(RLIMIT_FSIZE, &old);
    limited = old;
    limited.rlim_cur = 30;
    Records rec;
    int result = -1;
    std::string out = rec.Call(
        [&](CTSPLRenderClass &r) {
            setrlimit(RLIMIT_FSIZE, &limited);
            int res = r.StartDocCMD();
            setrlimit(RLIMIT_FSIZE, &old);
            return res;
        },
        &result);
    clearerr(stdout);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out, "CLS\r\nSIZE 816 dot,1219 dot\r\nGA");
}

// One page's commands with a bitmap of the given rectangle.
std::string PageCommands(Records &rec, tagRECT rect, uint32_t number, int isLast) {
    const int widthBytes = (rect.right - rect.left + 1) / 8, height = rect.bottom - rect.top + 1;
    const unsigned length = (unsigned)(widthBytes * height);
    rec.pdev.dwCurPageNum = number;
    return rec.Call([&](CTSPLRenderClass &r) {
        unsigned char *bitmap = (unsigned char *)malloc(length);
        for (unsigned i = 0; i < length; ++i) {
            bitmap[i] = (unsigned char)(i * 7 + 1);
        }
        r.OutPutPageCommands(rect, bitmap, length, height, isLast);
        return 0;
    });
}

TEST(Render, PageCommands) {
    struct Case {
        const char *name;
        uint64_t after, method;
        int16_t copies, interval, paperMode;
        uint32_t number;
        int isLast;
        int16_t collate = 0, maxMm = 104, rotate90 = 0;
        int32_t cx = 812;
    };
    const Case cases[] = {
        {"tear-off, 2 copies", 1, 0, 2, 0, 0, 1, 0},
        {"paper saving", 1, 0, 2, 0, 1, 1, 0},
        {"paper saving, wider than the head", 1, 0, 2, 0, 1, 1, 0, 0, 104, 0, 1624},
        {"paper saving, no maximum width", 1, 0, 2, 0, 1, 1, 0, 0, 0, 0, 1624},
        {"paper saving, turned", 1, 0, 2, 0, 1, 1, 0, 0, 200, 1},
        {"paper saving, negative width", 1, 0, 2, 0, 1, 1, 0, 0, 104, 0, -812},
        {"cut every label, first page", 4, 1, 2, 0, 0, 1, 0},
        {"cut every label, later page", 4, 1, 2, 0, 0, 2, 1},
        {"cut at the end, one-page job", 4, 2, 3, 0, 0, 1, 1},
        {"cut at the end, first page", 4, 2, 2, 0, 0, 1, 0},
        {"cut every label by interval 1", 4, 3, 2, 1, 0, 2, 0},
        {"interval 3, no copies", 4, 3, 0, 3, 0, 2, 0},
        {"no interval, last page", 4, 3, 4, 0, 0, 2, 1},
        {"negative interval", 4, 3, 4, -2, 0, 2, 0},
        {"interval 3, collated", 4, 3, 5, 3, 0, 1, 0, 1},
        {"unknown cutting method", 4, 9, 4, 3, 0, 1, 0},
    };
    Cases out;
    {
        // The worked page: inked area (16, 40, 111, 139), 1200 bitmap bytes.
        Records rec;
        rec.pdev.sCurCopies = 2;
        out.push_back({"worked page", PageCommands(rec, {16, 40, 111, 139}, 1, 0)});
        rec.cfg.sPaperMode = 1;
        out.push_back({"worked page, paper saving", PageCommands(rec, {16, 40, 111, 139}, 1, 0)});
    }
    for (const Case &c : cases) {
        Records rec;
        rec.cfg.dwOperationAfterPrn = c.after;
        rec.cfg.dwOperationModeAfterPrn = c.method;
        rec.cfg.sIntervalValue = c.interval;
        rec.cfg.sPaperMode = c.paperMode;
        rec.cfg.sMaxOutputWidth = c.maxMm;
        rec.cfg.sRotate90 = c.rotate90;
        rec.dm.dmCollate = c.collate;
        rec.pdev.sCurCopies = c.copies;
        rec.pdev.srcGdiInfo.szlPhysSize.cx = c.cx;
        std::string bytes = PageCommands(rec, {16, 40, 23, 41}, c.number, c.isLast);
        out.push_back({std::string(c.name) + " (labels counted " +
                           std::to_string(rec.pdev.dwPagePrinted) + ")",
                       bytes});
    }
    rvt::ExpectGolden("page-commands.txt", rvt::Cases(out));
}

// Whole jobs over a grid of method, copies, interval and page count: the
// viewer's printer model says where the cuts fall.
TEST(Render, CutsFallWhereTheMethodPlacesThem) {
    for (int method : {1, 2, 3, 7}) {
        for (int16_t copies : {0, 1, 2, 5}) {
            for (int16_t interval : {0, 1, 3}) {
                for (uint32_t pages : {1u, 4u}) {
                    SCOPED_TRACE(testing::Message()
                                 << "method " << method << " copies " << copies << " interval "
                                 << interval << " pages " << pages);
                    Records rec;
                    rec.cfg.dwOperationAfterPrn = 4;
                    rec.cfg.dwOperationModeAfterPrn = (uint64_t)method;
                    rec.cfg.sIntervalValue = interval;
                    rec.pdev.sCurCopies = copies;
                    std::string job = "SIZE 64 dot,64 dot\r\n";
                    for (uint32_t n = 1; n <= pages; ++n) {
                        job += PageCommands(rec, {16, 40, 23, 41}, n, n == pages);
                    }
                    tsplview::Job printed = rvt::ReadTspl(job);
                    const long labels = printed.totalLabels;
                    std::set<long> cuts, expected;
                    for (const tsplview::Label &l : printed.labels) {
                        cuts.insert(l.cutsAfter.begin(), l.cutsAfter.end());
                    }
                    const bool one = method == 3 && interval > 0 && copies <= 1;
                    EXPECT_EQ(labels, long(pages) * (one ? 1 : copies));
                    EXPECT_EQ(rec.pdev.dwPagePrinted, (uint32_t)labels);
                    if (method == 1 && copies > 0) {
                        for (long i = 1; i <= labels; ++i)
                            expected.insert(i);
                    } else if (method == 2 && copies > 0) {
                        expected.insert(labels);
                    } else if (method == 3 && interval > 0) {
                        // No copies still prints one label, judged by the
                        // count before it: the cut lands one label late.
                        for (long i = copies > 0 ? interval : 1; i <= labels; i += interval)
                            expected.insert(i);
                        expected.insert(labels);
                    } else if (method == 3) {
                        for (long i = labels - copies + 1; i <= labels; ++i)
                            expected.insert(i);
                    }
                    EXPECT_EQ(cuts, expected);
                }
            }
        }
    }
}

} // namespace
