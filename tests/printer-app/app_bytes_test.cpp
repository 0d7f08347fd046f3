// The app sends the printer the same bytes as the filter: for each setting,
// a raster job over IPP against the filter given the equivalent PPD options
// and the same grey pixels.
#include <gtest/gtest.h>

#include "AppHarness.h"

namespace {

struct Row {
    const char *name;
    const char *job;        // the job's IPP attributes
    const char *labelMode;  // the printer's label-mode-configured
    unsigned copies;        // also the pages: the cutter's sequencing needs two
    const char *ppdOptions; // what the filter is given
};

const Row kRows[] = {
    {"defaults", "", "tear-off", 1, ""},
    {"floyd-steinberg", "vorcp-halftone=floyd-steinberg", "tear-off", 1, "Halftone=FloydSteinberg"},
    {"bayer8", "vorcp-halftone=bayer8", "tear-off", 1, "Halftone=Bayer8"},
    {"adaptive", "vorcp-halftone=adaptive", "tear-off", 1, "Halftone=Adaptive"},
    {"ordered16", "vorcp-halftone=ordered16", "tear-off", 1, "Halftone=Ordered16"},
    {"stucki", "vorcp-halftone=stucki", "tear-off", 1, "Halftone=Stucki"},
    {"screen15", "vorcp-halftone=screen15", "tear-off", 1, "Halftone=Screen15"},
    {"bayer4", "vorcp-halftone=bayer4", "tear-off", 1, "Halftone=Bayer4"},
    {"screen8x16", "vorcp-halftone=screen8x16", "tear-off", 1, "Halftone=Screen8x16"},
    {"rotate90-cw", "vorcp-rotation=rotate90-cw", "tear-off", 1, "Rotation=Rotate90CW"},
    {"rotate180", "vorcp-rotation=rotate180", "tear-off", 1, "Rotation=Rotate180"},
    {"mirror", "vorcp-mirror=on", "tear-off", 1, "Mirror=On"},
    {"cutter", "", "cutter", 2, "Mode=Cutter CutMethod=EveryLabel"},
    {"cutter-delayed", "", "cutter-delayed", 2, "Mode=Cutter CutMethod=EndOfJob"},
    {"cut-interval", "vorcp-cut-interval=3", "cutter", 2,
     "Mode=Cutter CutMethod=Interval Interval=3"},
    {"peel-off", "", "peel-off", 1, "Mode=PeelOff"},
    {"rewind", "", "rewind", 1, "Mode=None"},
    {"save-paper", "vorcp-save-paper=on", "tear-off", 1, "SavePaper=On"},
    {"darkness", "print-darkness=40", "tear-off", 1, "Density=14"},
    {"continuous", "media-col={media-tracking=continuous}", "tear-off", 1, "MediaType=Continuous"},
    {"gap-height", "vorcp-gap-height=2mm", "tear-off", 1, "GAPHeight=2mm"},
    {"offsets", "media-col={media-left-offset=150 media-top-offset=-300}", "tear-off", 1,
     "HorizontalOffset=Right HorizontalOffsetValue=1.5mm VerticalOffset=Up "
     "VerticalOffsetValue=3mm"},
    {"dashed", "vorcp-dash-lines=on vorcp-dash-length=2mm", "tear-off", 1,
     "IsToDashed=On IntervalBlack=2mm"},
};

TEST(AppBytes, EachSettingGivesTheFilterBytes) {
    apptest::App app;
    ASSERT_EQ(app.Start(), "");
    for (const Row &row : kRows) {
        SCOPED_TRACE(row.name);
        ipp_t *mode = app.Request(IPP_OP_SET_PRINTER_ATTRIBUTES);
        apptest::AddAttrs(mode, IPP_TAG_PRINTER,
                          std::string("label-mode-configured=") + row.labelMode);
        ippDelete(app.Send(mode));
        const std::string raster = apptest::Labels(row.copies, row.copies);
        const apptest::Job job = app.Print(raster, "image/pwg-raster", row.name,
                                           row.job + (" copies=" + std::to_string(row.copies)));
        ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message << "\n" << app.Log();

        const rvt::Result expected =
            rvt::RunJob(raster, row.ppdOptions, RVC_PPD_DIR "/rastertovorcp-203.ppd");
        ASSERT_EQ(expected.status, 0) << expected.err;
        const std::string sent = app.Out(row.name);
        ASSERT_FALSE(sent.empty());
        EXPECT_TRUE(sent == expected.out)
            << "app " << sent.size() << " bytes, filter " << expected.out.size() << " bytes";
        // A setting that reached neither side would pass unnoticed.
        EXPECT_TRUE(&row == kRows || sent != app.Out("defaults"));
    }
}

} // namespace
