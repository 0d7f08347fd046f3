// Whole jobs through the page loop in this process, without the page
// pause: their job data, messages and statuses against a golden file, the
// trace of one job, and the geometry read back through the viewer.
#include <regex>

#include <gtest/gtest.h>

#include "filter/FilterJob.h"
#include "tests/support/Support.h"

namespace {

using rvt::Box;
using rvt::InkPage;
using rvt::Page;

Page Sized(unsigned w, unsigned h, std::function<uint32_t(unsigned, unsigned)> colour,
           unsigned copies = 1) {
    Page p;
    p.width = w, p.height = h, p.copies = copies, p.colour = std::move(colour);
    return p;
}

// A left-to-right grey ramp with a dark bar, for the halftones.
Page Ramp() {
    return Sized(64, 24, [](unsigned x, unsigned y) {
        uint32_t g = y >= 20 ? 0 : x * 4;
        return g * 0x010101u;
    });
}

struct JobCase {
    std::string name, options;
    std::vector<Page> pages;
    std::vector<std::pair<std::string, std::string>> ppdDefaults;
};

std::vector<JobCase> Cases() {
    const auto frame = [](unsigned x, unsigned y) -> uint32_t {
        bool ink = x >= 8 && x <= 39 && y >= 4 && y <= 19 && !(x > 11 && x < 36 && y > 7 && y < 16);
        return ink ? 0 : 0xffffff;
    };
    const auto notch = [](unsigned x, unsigned y) -> uint32_t {
        return x >= 8 && x <= 103 && y >= 10 && y <= 40 && !(x < 20 && y < 15) ? 0 : 0xffffff;
    };
    Page larger = Sized(128, 64, Box(40, 20, 100, 50)), smaller = Sized(16, 8, Box(0, 0, 15, 7));
    Page truncated = Sized(64, 100, Box(0, 2, 7, 5));
    truncated.rows = 10;
    Page colours = Sized(16, 8, [](unsigned x, unsigned y) -> uint32_t {
        if (x >= 8)
            return 0xffffff;
        return y >= 2 && y <= 5 ? 0 : y == 6 ? 0xff0000 : y == 7 ? 0x0000ff : 0xffffff;
    });
    Page dashed = Sized(256, 16, [](unsigned x, unsigned y) -> uint32_t {
        return ((y == 5 || y == 6) && x >= 8 && x <= 207) || (y == 10 && x == 8) ? 0 : 0xffffff;
    });
    Page cmyk = InkPage(0, 0, 7, 1), kGrey = InkPage(0, 0, 7, 1), oneBit = InkPage(0, 0, 7, 1),
         banded = InkPage(0, 0, 7, 1), deep = InkPage(0, 0, 7, 1);
    cmyk.space = CUPS_CSPACE_CMYK, cmyk.bitsPerPixel = 32;
    kGrey.space = CUPS_CSPACE_K, kGrey.bitsPerPixel = 8;
    oneBit.space = CUPS_CSPACE_W, oneBit.bitsPerPixel = oneBit.bitsPerColor = 1;
    banded.order = CUPS_ORDER_BANDED, banded.bitsPerPixel = 8;
    deep.bitsPerColor = 16, deep.bitsPerPixel = 48;
    Page zeroDpi = InkPage(0, 0, 7, 1), hugeDpi = InkPage(0, 0, 7, 1),
         tinyDpi = InkPage(0, 0, 7, 1), maxDpi = InkPage(0, 0, 7, 1);
    zeroDpi.ydpi = 0, hugeDpi.xdpi = 32768, tinyDpi.xdpi = tinyDpi.ydpi = 1,
    maxDpi.xdpi = maxDpi.ydpi = 32767;
    Page wideRow = Sized(0x20000001u, 1, Box(0, 0, 0, 0)),
         tall = Sized(10000, 200000, Box(0, 0, 0, 0));
    wideRow.bytesPerLine = 3, wideRow.rows = tall.rows = 0;

    std::vector<JobCase> cases = {
        {"cut at the end of a one-page job",
         "Mode=Cutter CutMethod=EndOfJob",
         {InkPage(8, 4, 23, 11, 3)}},
        {"three pages, one page late",
         "Mode=Cutter CutMethod=EndOfJob",
         {InkPage(0, 0, 7, 1, 2), InkPage(8, 2, 15, 3, 2), InkPage(16, 4, 23, 5, 2)}},
        {"a blank page writes nothing",
         "",
         {InkPage(0, 0, 7, 1), InkPage(99, 99, 99, 99), InkPage(8, 2, 15, 3)}},
        {"ink in one output row is blank",
         "",
         {InkPage(3, 7, 40, 7), Sized(128, 16, Box(16, 0, 111, 0))}},
        {"half turn", "Rotation=Rotate180", {InkPage(8, 4, 16, 9)}},
        {"quarter turns", "Rotation=Rotate90CW", {InkPage(8, 4, 16, 9)}},
        {"3 mm down",
         "VerticalOffset=Down VerticalOffsetValue=3mm",
         {Sized(64, 64, Box(16, 2, 23, 5))}},
        {"5 mm left",
         "HorizontalOffset=Left HorizontalOffsetValue=5mm",
         {Sized(64, 64, Box(48, 2, 55, 5))}},
        {"no shift direction", "HorizontalOffsetValue=5mm", {Sized(64, 64, Box(48, 2, 55, 5))}},
        {"mirrored on an 816-dot label", "", {Sized(812, 50, notch)}, {{"Mirror", "On"}}},
        {"mirrored paper saving",
         "SavePaper=On",
         {Sized(64, 16, Box(8, 2, 23, 5))},
         {{"Mirror", "On"}}},
        {"the worked page", "", {Sized(812, 150, Box(16, 40, 111, 139), 2)}},
        {"the worked page, paper saving",
         "SavePaper=On",
         {Sized(812, 150, Box(16, 40, 111, 139), 2)}},
        {"paper saving, cut every third label",
         "SavePaper=On Mode=Cutter CutMethod=Interval Interval=3",
         {InkPage(8, 4, 23, 11, 5), InkPage(16, 20, 31, 29, 5)}},
        {"colour bytes reach the conversion as blue-green-red", "", {colours}},
        {"adaptive threshold keeps clean black and white",
         "Halftone=Adaptive",
         {Sized(64, 32, frame)}},
        {"long solid lines dashed", "IsToDashed=On", {dashed}},
        {"a truncated page is white below", "", {truncated}},
        {"five pixels wide", "", {Sized(5, 8, Box(4, 1, 4, 3))}},
        {"later pages take the first page's layout",
         "",
         {InkPage(0, 0, 7, 1), larger, smaller, rvt::GreyPage(InkPage(8, 2, 15, 3))}},
        {"job options over the defaults",
         "Density=12 MediaType=Continuous Mode=PeelOff Feed=5mm",
         {InkPage(8, 4, 23, 11)}},
        {"empty stream", "", {}},
        {"a refused later page ends the job without its held page",
         "",
         {InkPage(0, 0, 7, 1), cmyk}},
        {"unsupported: CMYK", "", {cmyk}},
        {"unsupported: black-is-255 grey", "", {kGrey}},
        {"unsupported: 1 bit", "", {oneBit}},
        {"unsupported: banded", "", {banded}},
        {"unsupported: 16 bits a colour", "", {deep}},
        {"resolution 0", "", {zeroDpi}},
        {"resolution 32768", "", {hugeDpi}},
        {"resolution 1", "", {tinyDpi}},
        {"resolution 32767", "", {maxDpi}},
        {"row too long for the records", "", {wideRow}},
        {"page too large for the records", "", {tall}},
    };
    for (const char *h : {"Threshold", "FloydSteinberg", "Bayer8", "Adaptive", "Ordered16",
                          "Stucki", "Screen15", "Bayer4", "Screen8x16"}) {
        cases.push_back({std::string("halftone ") + h, std::string("Halftone=") + h, {Ramp()}});
    }
    cases.push_back({"negative, brightness, contrast, levels",
                     "NegativeFilm=On Brightness=20 Contrast=m30 Levels=Gamma300 Halftone=Bayer4",
                     {Ramp()}});
    return cases;
}

TEST(Job, OutputsMessagesAndStatuses) {
    rvt::TempDir dir;
    std::string text;
    for (const JobCase &c : Cases()) {
        rvt::Result r = rvt::RunJob(rvt::Raster(c.pages), c.options, rvt::Ppd(dir, c.ppdDefaults));
        text += "=== " + c.name + (c.options.empty() ? "" : " [" + c.options + "]") + ": status " +
                std::to_string(r.status) + "\n" + rvt::Escape(r.err) + "\n--- job\n" +
                rvt::Escape(r.out) + "\n";
        if (r.status == 0) {
            rvt::ReadTspl(r.out); // well formed for a printer
        }
    }
    rvt::ExpectGolden("jobs.txt", text);
}

TEST(Job, GreyAndOtherRgbSpacesPrintLikeRgb) {
    rvt::TempDir dir;
    const std::string ppd = rvt::Ppd(dir, {{"Halftone", "Bayer8"}});
    const std::string rgb = rvt::RunJob(rvt::Raster({Ramp()}), "", ppd).out;
    ASSERT_NE(rgb.find("BITMAP"), std::string::npos);
    for (cups_cspace_t space :
         {CUPS_CSPACE_SRGB, CUPS_CSPACE_ADOBERGB, CUPS_CSPACE_W, CUPS_CSPACE_SW}) {
        Page p = Ramp();
        p.space = space;
        p.bitsPerPixel = space == CUPS_CSPACE_W || space == CUPS_CSPACE_SW ? 8 : 24;
        EXPECT_EQ(rvt::RunJob(rvt::Raster({p}), "", ppd).out, rgb) << space;
    }
}

TEST(Job, TraceOfAJob) {
    rvt::TempDir dir;
    rvt::Result r =
        rvt::RunJob(rvt::Raster({InkPage(8, 4, 23, 11), InkPage(0, 0, 7, 1)}), "", rvt::Ppd(dir));
    ASSERT_EQ(r.status, 0);
    // Addresses differ from run to run; only whether one is null counts.
    static const std::regex address("0x[0-9a-f]*[1-9a-f][0-9a-f]*");
    static const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d{4,}\] )");
    std::string log = std::regex_replace(rvt::ReadFile(rvt::FilterLog()), stamp, "");
    rvt::ExpectGolden("job-trace.txt",
                      rvt::Escape(std::regex_replace(log, address, "0x<address>")));
}

TEST(Job, RepeatedJobsStartFromFreshState) {
    rvt::TempDir dir;
    const std::string ppd = rvt::Ppd(dir),
                      raster = rvt::Raster({InkPage(8, 4, 23, 11, 2), InkPage(8, 4, 23, 11, 2)});
    // The interval cutter counts labels across the job: a count left over
    // from the previous job would move the cuts.
    const char *options = "Mode=Cutter CutMethod=Interval Interval=3";
    rvt::Result first = rvt::RunJob(raster, options, ppd);
    ASSERT_EQ(first.status, 0);
    Canceled = 1; // a stale cancellation must not leak into the next job
    EXPECT_EQ(rvt::RunJob(raster, options, ppd).out, first.out);
}

// The marks of a page land where each rotation puts them, read back as
// dots through the viewer.
TEST(Job, RotationsPlaceEveryMark) {
    const unsigned side = 48;
    const auto mark = [](unsigned x, unsigned y) {
        return (x == 9 && y >= 5 && y <= 30) || (y == 30 && x >= 9 && x <= 20) ||
               (x == 40 && y == 2);
    };
    Page p = Sized(side, side, [&](unsigned x, unsigned y) { return mark(x, y) ? 0u : 0xffffffu; });
    rvt::TempDir dir;
    const int e = side - 1;
    const std::pair<const char *, std::function<std::pair<int, int>(int, int)>> cases[] = {
        {"None", [](int x, int y) { return std::make_pair(x, y); }},
        {"Rotate90CCW", [e](int x, int y) { return std::make_pair(y, e - x); }},
        {"Rotate180", [e](int x, int y) { return std::make_pair(e - x, e - y); }},
        {"Rotate90CW", [e](int x, int y) { return std::make_pair(e - y, x); }},
    };
    for (const auto &c : cases) {
        tsplview::Job job = rvt::ReadTspl(
            rvt::RunJob(rvt::Raster({p}), std::string("Rotation=") + c.first, rvt::Ppd(dir)).out);
        ASSERT_EQ(job.labels.size(), 1u) << c.first;
        const tsplview::Label &l = job.labels[0];
        EXPECT_EQ(l.width, (int)side);
        EXPECT_EQ(l.height, (int)side + 1);
        int wrong = 0;
        for (unsigned y = 0; y < side; ++y)
            for (unsigned x = 0; x < side; ++x) {
                auto at = c.second((int)x, (int)y);
                wrong += l.dot(at.first, at.second) != mark(x, y);
            }
        EXPECT_EQ(wrong, 0) << c.first;
    }
}

} // namespace
