// The app sends the printer the same bytes as the filter: for each setting,
// a raster job over IPP against the filter given the equivalent PPD options
// and the same grey pixels.
#include <gtest/gtest.h>

#include "AppHarness.h"
#include "tests/filter/FilterTestSupport.h"

namespace {

using apptest::Attrs;

// 4 x 2 in pages at 203 dpi: a grey ramp for the halftones, a long solid
// line for the dashing, and shapes that show rotation and mirroring. The
// filter pauses a second after each page: only the cutter's sequencing
// needs two.
std::string Pages(unsigned count, unsigned copies) {
    std::vector<rvctest::Page> pages(count);
    for (unsigned n = 0; n < count; ++n) {
        rvctest::Page &p = pages[n];
        p.width = 812;
        p.height = 406;
        p.bitsPerPixel = 8;
        p.colorSpace = CUPS_CSPACE_SW;
        p.copies = copies;
        p.line = [n](unsigned y, unsigned char *row) {
            for (unsigned x = 0; x < 812; ++x) {
                unsigned char v = 255;
                if (y >= 20 && y < 150) {
                    v = (unsigned char)(n == 0 ? x * 255 / 811 : 255 - x * 255 / 811);
                } else if (y >= 200 && y < 212 && x >= 40 && x < 760) {
                    v = 0;
                } else if (y >= 250 && y < 380 && (x < 50 + 100 * n || x + 250 == y + 300)) {
                    v = 0;
                }
                row[x] = v;
            }
        };
    }
    return rvctest::MakeRaster(pages, CUPS_RASTER_WRITE_PWG);
}

struct Row {
    const char *name;
    Attrs job;              // the job's IPP attributes
    const char *labelMode;  // the printer's label-mode-configured
    unsigned copies;        // also the pages: the cutter's rows print two
    const char *ppdOptions; // what the filter is given
};

const Row kRows[] = {
    {"defaults", {}, "tear-off", 1, ""},
    {"floyd-steinberg",
     {{"vorcp-halftone", "floyd-steinberg"}},
     "tear-off",
     1,
     "Halftone=FloydSteinberg"},
    {"bayer8", {{"vorcp-halftone", "bayer8"}}, "tear-off", 1, "Halftone=Bayer8"},
    {"adaptive", {{"vorcp-halftone", "adaptive"}}, "tear-off", 1, "Halftone=Adaptive"},
    {"ordered16", {{"vorcp-halftone", "ordered16"}}, "tear-off", 1, "Halftone=Ordered16"},
    {"stucki", {{"vorcp-halftone", "stucki"}}, "tear-off", 1, "Halftone=Stucki"},
    {"screen15", {{"vorcp-halftone", "screen15"}}, "tear-off", 1, "Halftone=Screen15"},
    {"bayer4", {{"vorcp-halftone", "bayer4"}}, "tear-off", 1, "Halftone=Bayer4"},
    {"screen8x16", {{"vorcp-halftone", "screen8x16"}}, "tear-off", 1, "Halftone=Screen8x16"},
    {"rotate90-cw", {{"vorcp-rotation", "rotate90-cw"}}, "tear-off", 1, "Rotation=Rotate90CW"},
    {"rotate180", {{"vorcp-rotation", "rotate180"}}, "tear-off", 1, "Rotation=Rotate180"},
    {"mirror", {{"vorcp-mirror", "on"}}, "tear-off", 1, "Mirror=On"},
    {"cutter", {{"copies", "2"}}, "cutter", 2, "Mode=Cutter CutMethod=EveryLabel"},
    {"cutter-delayed", {{"copies", "2"}}, "cutter-delayed", 2, "Mode=Cutter CutMethod=EndOfJob"},
    {"cut-interval",
     {{"copies", "2"}, {"vorcp-cut-interval", "3"}},
     "cutter",
     2,
     "Mode=Cutter CutMethod=Interval Interval=3"},
    {"peel-off", {}, "peel-off", 1, "Mode=PeelOff"},
    {"rewind", {}, "rewind", 1, "Mode=None"},
    {"save-paper", {{"vorcp-save-paper", "on"}}, "tear-off", 1, "SavePaper=On"},
    {"darkness", {{"print-darkness", "40"}}, "tear-off", 1, "Density=14"},
    {"mark",
     {{"media-col.media-tracking", "mark"}, {"vorcp-gap-height", "2mm"}},
     "tear-off",
     1,
     "MediaType=BlackMark GAPHeight=2mm"},
    {"offsets",
     {{"media-col.media-left-offset", "150"}, {"media-col.media-top-offset", "-300"}},
     "tear-off",
     1,
     "HorizontalOffset=Right HorizontalOffsetValue=1.5mm VerticalOffset=Up "
     "VerticalOffsetValue=3mm"},
    {"dashed",
     {{"vorcp-dash-lines", "on"}, {"vorcp-dash-length", "2mm"}},
     "tear-off",
     1,
     "IsToDashed=On IntervalBlack=2mm"},
};

TEST(AppBytes, EachSettingGivesTheFilterBytes) {
    apptest::AppServer app;
    std::string why;
    ASSERT_TRUE(app.Start(&why)) << why;
    const std::string out = app.Folder() + "/out";
    ASSERT_EQ(mkdir(out.c_str(), 0700), 0);
    ASSERT_TRUE(app.AddPrinter("label", "vorcp_203", "file://" + out)) << app.Log();
    const std::string uri = app.PrinterUri("label");
    const std::string ppd = apptest::PpdDir() + "/rastertovorcp-203.ppd";

    std::string defaults;
    for (const Row &row : kRows) {
        SCOPED_TRACE(row.name);
        const std::string raster = Pages(row.copies, row.copies);
        const std::string rasterFile = app.Folder() + "/" + row.name + ".pwg";
        rvctest::WriteFile(rasterFile, raster);
        ASSERT_TRUE(apptest::SetPrinter(uri, "label-mode-configured", row.labelMode));
        Attrs attrs = row.job;
        bool mediaCol = false;
        for (const apptest::Attr &a : attrs) {
            mediaCol = mediaCol || a.name.rfind("media-col.", 0) == 0;
        }
        attrs.push_back({mediaCol ? "media-col.media-size-name" : "media", "oe_4x2-label_4x2in"});
        const apptest::JobResult job =
            apptest::Print(uri, rasterFile, "image/pwg-raster", row.name, attrs);
        ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message << "\n" << app.Log();

        rvctest::Job filter;
        filter.args[5] = row.ppdOptions;
        filter.ppd = ppd;
        filter.input = raster;
        const rvctest::Result expected = rvctest::RunFilter(filter);
        ASSERT_EQ(expected.status, 0) << expected.err;
        const std::string sent = rvctest::ReadFile(out + "/" + row.name + ".prn");
        ASSERT_FALSE(sent.empty());
        EXPECT_TRUE(sent == expected.out)
            << "app " << sent.size() << " bytes, filter " << expected.out.size() << " bytes";
        // A setting that reached neither side would pass unnoticed.
        if (defaults.empty()) {
            defaults = sent;
        } else {
            EXPECT_NE(sent, defaults);
        }
    }
}

} // namespace
