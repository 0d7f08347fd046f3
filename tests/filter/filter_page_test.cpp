// Page emission through the filter process, byte for byte: blank and
// one-row pages, rotation, offsets, mirroring, paper saving and grey input.
#include <gtest/gtest.h>

#include "tests/filter/FilterTestSupport.h"

using namespace rvctest;

namespace {

auto All = [](int, int) { return true; };

Result Print(const std::vector<Page> &pages, const std::string &options = "",
             const std::string &ppd = FixturePpd()) {
    Job run;
    run.args[5] = options;
    run.ppd = ppd;
    run.input = MakeRaster(pages);
    Result r = RunFilter(run);
    EXPECT_EQ(ParseJob(r.out).error, "");
    return r;
}

Page Sized(unsigned w, unsigned h, std::function<bool(unsigned, unsigned)> ink,
           unsigned copies = 1) {
    Page p;
    p.width = w;
    p.height = h;
    p.copies = copies;
    p.ink = std::move(ink);
    return p;
}

TEST(PageEmission, BlankPageWritesNothing) {
    Result r = Print({Sized(64, 32, Box(0, 0, 7, 1)), Sized(64, 32, Box(99, 99, 99, 99)),
                      Sized(64, 32, Box(8, 2, 15, 3))});
    EXPECT_EQ(r.status, 0);
    // Page 3's CLS follows page 1's PRINT directly.
    EXPECT_EQ(r.out, Preamble(64, 33) + PageOut(Pack(0, 0, 7, 1, All), 1) +
                         PageOut(Pack(8, 2, 15, 3, All), 1));
}

TEST(PageEmission, InkInOneOutputRowIsSkippedAsBlank) {
    struct Case {
        const char *name;
        Page page;
    } cases[] = {
        {"single raster row", Sized(64, 32, Box(3, 7, 40, 7))},
        {"inked area (16, 0, 111, 0)", Sized(128, 16, Box(16, 0, 111, 0))},
    };
    for (const Case &c : cases) {
        Result r = Print({c.page});
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_EQ(r.out, Preamble((int)c.page.width, (int)c.page.height + 1)) << c.name;
    }
}

TEST(PageEmission, RotationChoiceTwoIsAHalfTurn) {
    auto ink = [](unsigned x, unsigned y) {
        return (x >= 8 && x <= 15 && y >= 4 && y <= 9) || (x == 16 && y == 4);
    };
    Result r = Print({Sized(64, 32, ink)}, "Rotation=R180");
    EXPECT_EQ(r.status, 0);
    // Source (x, y) lands on (63 - x, 31 - y): x 47..55, y 22..27.
    Bitmap b = Pack(40, 22, 55, 27, [&](int x, int y) { return ink(63 - x, 31 - y); });
    EXPECT_EQ(r.out, Preamble(64, 33) + PageOut(b, 1));
}

TEST(PageEmission, OffsetsMoveTheInkInDots) {
    struct Case {
        const char *options;
        Page page;
        int dx, dy;
        Bitmap expected;
    } cases[] = {
        // 3 mm at 203 dpi: truncate(24.48) = 24 dots down.
        {"VerticalOffset=Plus VerticalOffsetValue=Mm3", Sized(64, 64, Box(16, 2, 23, 5)), 0, 24,
         Pack(16, 26, 23, 29, All)},
        // 5 mm to the left: truncate(40.46) = 40 dots.
        {"HorizontalOffset=Minus HorizontalOffsetValue=Mm5", Sized(64, 64, Box(48, 2, 55, 5)),
         -40, 0, Pack(8, 2, 15, 5, All)},
        // A direction other than 0 or 1 means no offset.
        {"HorizontalOffset=None HorizontalOffsetValue=Mm5", Sized(64, 64, Box(48, 2, 55, 5)), 0,
         0, Pack(48, 2, 55, 5, All)},
    };
    for (const Case &c : cases) {
        Result r = Print({c.page}, c.options);
        EXPECT_EQ(r.status, 0) << c.options;
        EXPECT_EQ(r.out, Preamble(64, 65) + PageOut(c.expected, 1)) << c.options;
    }
}

TEST(PageEmission, MirroredPageOnALabel816DotsWide) {
    // Inked area (8, 10, 103, 40), with a notch so that the mirror shows.
    auto ink = [](unsigned x, unsigned y) {
        return x >= 8 && x <= 103 && y >= 10 && y <= 40 && !(x < 20 && y < 15);
    };
    TempDir dir;
    Result r = Print({Sized(812, 50, ink)}, "",
                     PpdWithDefaults(dir.File("m.ppd"), {{"Mirror", "On"}}));
    EXPECT_EQ(r.status, 0);
    std::string data(13 * 31, '\xff');
    for (int row = 0; row < 31; ++row) {
        // The source pixel of column 103 is the first bit of each row.
        for (int j = 0; j < 96; ++j) {
            if (ink(103 - j, 10 + row)) {
                data[row * 13 + j / 8] &= (char)~(0x80 >> (j % 8));
            }
        }
    }
    EXPECT_EQ(r.out, Preamble(816, 51) + "CLS\r\nBITMAP 712,10,13,31,0," + data +
                         "\r\nPRINT 1,1\r\n");
}

TEST(PageEmission, PrintedAreaWithCopies) {
    Page p = Sized(812, 150, Box(16, 40, 111, 139), 2);
    std::string bitmap(1200, '\0');
    Result r = Print({p});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, Preamble(816, 151) + "CLS\r\nBITMAP 16,40,12,100,0," + bitmap +
                         "\r\nPRINT 1,2\r\n");

    // Paper saving: each label as long as its print, the bitmap at its top.
    Result saving = Print({p}, "SavePaper=On");
    EXPECT_EQ(saving.status, 0);
    EXPECT_EQ(saving.out, SavingPreamble() + "CLS\r\nSIZE 816 dot,108 dot\r\nBITMAP 16,0,12,100,0," +
                              bitmap + "\r\nPRINT 1,2\r\n");
}

TEST(PageEmission, MirroredPaperSavingPrintsFlushLeft) {
    Page p = Sized(64, 16, Box(8, 2, 23, 5));
    TempDir dir;
    Result r = Print({p}, "SavePaper=On", PpdWithDefaults(dir.File("m.ppd"), {{"Mirror", "On"}}));
    EXPECT_EQ(r.status, 0);
    // No preamble size: the mirror axis is 0, Q = (-23, 2, -8, 5).
    std::string data(2 * 4, '\0');
    EXPECT_EQ(r.out, SavingPreamble() + "CLS\r\nSIZE 64 dot,12 dot\r\nBITMAP 0,0,2,4,0," + data +
                         "\r\nPRINT 1,1\r\n");
}

TEST(PageEmission, GreyAndOtherRgbSpacesPrintLikeRgb) {
    auto ink = [](unsigned x, unsigned y) { return (x * 7 + y * 3) % 11 < 4 && y > 2; };
    Page rgb = Sized(64, 32, ink);
    Result expected = Print({rgb});
    ASSERT_EQ(expected.status, 0);
    ASSERT_NE(expected.out.find("BITMAP"), std::string::npos);
    struct Case {
        cups_cspace_t space;
        unsigned bits;
    } cases[] = {{CUPS_CSPACE_SRGB, 24},
                 {CUPS_CSPACE_ADOBERGB, 24},
                 {CUPS_CSPACE_W, 8},
                 {CUPS_CSPACE_SW, 8}};
    for (const Case &c : cases) {
        Page p = rgb;
        p.colorSpace = c.space;
        p.bitsPerPixel = c.bits;
        Result r = Print({p});
        EXPECT_EQ(r.status, 0) << c.space;
        EXPECT_EQ(r.out, expected.out) << c.space;
    }
}

TEST(PageEmission, ColourBytesReachTheConversionAsBlueGreenRed) {
    // With the default levels (gamma 3) pure blue, grey 39, prints and pure
    // red, grey 87, stays white: a missing red-blue exchange swaps them.
    Page p = Sized(16, 8, Box(0, 0, 0, 0));
    p.line = [](unsigned y, unsigned char *line) {
        for (unsigned x = 0; x < 16; ++x) {
            unsigned char r = 255, g = 255, b = 255;
            if (x < 8 && y >= 2 && y <= 5) {
                r = g = b = 0;
            } else if (x < 8 && y == 6) {
                g = b = 0; // red
            } else if (x < 8 && y == 7) {
                r = g = 0; // blue
            }
            line[3 * x] = r;
            line[3 * x + 1] = g;
            line[3 * x + 2] = b;
        }
    };
    Result r = Print({p});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, Preamble(16, 9) +
                         PageOut(Pack(0, 2, 7, 7, [](int, int y) { return y != 6; }), 1));
}

// The page's commands: everything from its CLS on.
std::string PagePart(const std::string &job) {
    size_t at = job.find("CLS\r\n", 1);
    return at == std::string::npos ? "" : job.substr(at);
}

TEST(PageEmission, NoMaximumWidthMeansNoLimit) {
    Page p = Sized(64, 32, Box(8, 4, 23, 11));
    Result limited = Print({p});
    Result unlimited = Print({p}, "MaxOutputWidth=Mm0");
    EXPECT_EQ(unlimited.status, 0);
    ASSERT_NE(PagePart(limited.out), "");
    EXPECT_EQ(PagePart(unlimited.out), PagePart(limited.out));
}

TEST(PageEmission, AdaptiveThresholdKeepsCleanBlackAndWhite) {
    // A frame: both grey values occur in the inked area.
    auto frame = [](unsigned x, unsigned y) {
        return x >= 8 && x <= 39 && y >= 4 && y <= 19 && !(x > 11 && x < 36 && y > 7 && y < 16);
    };
    Page p = Sized(64, 32, frame);
    Result threshold = Print({p});
    Result adaptive = Print({p}, "Halftone=Adaptive");
    EXPECT_EQ(adaptive.status, 0);
    EXPECT_EQ(adaptive.out, threshold.out);
    EXPECT_EQ(adaptive.out, Preamble(64, 33) +
                                PageOut(Pack(8, 4, 39, 19, [&](int x, int y) {
                                            return frame((unsigned)x, (unsigned)y);
                                        }),
                                        1));
}

TEST(PageEmission, LongSolidLinesAreDashed) {
    // Two rows of 200 dots (25 mm at 203 dpi) and a dot below them.
    auto ink = [](unsigned x, unsigned y) {
        return ((y == 5 || y == 6) && x >= 8 && x <= 207) || (y == 10 && x == 8);
    };
    Result r = Print({Sized(256, 16, ink)}, "IsToDashed=On");
    EXPECT_EQ(r.status, 0);
    // 3 mm dashes (24 dots) and 1 mm gaps (8 dots); the first column of the
    // inked area never joins a run, so each run starts one dot in.
    auto dot = [&](int x, int y) {
        if (!ink((unsigned)x, (unsigned)y)) {
            return false;
        }
        if (y == 10) {
            return true;
        }
        int offset = x - 9; // from the run's start
        return !(offset >= 0 && offset < 192 && offset % 32 >= 24);
    };
    EXPECT_EQ(r.out, Preamble(256, 17) + PageOut(Pack(8, 5, 207, 10, dot), 1));
}

} // namespace
