// The shipped PPDs with raster made by CUPS's own filters (at build time).
// The installed filter printing through a spooler is the package check's
// part (scripts/package.sh).
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/Support.h"

namespace {

std::string ShippedPpd(int dpi) {
    return std::string(RVC_PPD_DIR) + "/rastertovorcp-" + std::to_string(dpi) + ".ppd";
}

// CUPS's filters make 8-bit RGB raster of the sample at the model's
// resolution; the filter prints it upright and unshifted, every clearly
// dark pixel a dot and every clearly light one none.
class CupsRaster : public ::testing::TestWithParam<std::tuple<int, std::string>> {};

TEST_P(CupsRaster, EveryDotOnItsPixel) {
    const int dpi = std::get<0>(GetParam());
    const std::string file = std::string(RVC_SAMPLE_DIR) + "/label-" +
                             std::get<1>(GetParam()).substr(6) + "-" + std::to_string(dpi) + ".ras";
    const std::string raster = rvt::ReadFile(file);
    int fd = open(file.c_str(), O_RDONLY);
    cups_raster_t *r = cupsRasterOpen(fd, CUPS_RASTER_READ);
    cups_page_header2_t h;
    ASSERT_TRUE(cupsRasterReadHeader2(r, &h));
    EXPECT_EQ(h.HWResolution[0], unsigned(dpi));
    EXPECT_EQ(h.cupsBitsPerPixel, 24u);
    EXPECT_EQ(h.cupsColorOrder, CUPS_ORDER_CHUNKED);
    std::vector<unsigned char> rgb((size_t)h.cupsBytesPerLine * h.cupsHeight);
    for (unsigned y = 0; y < h.cupsHeight; ++y)
        cupsRasterReadPixels(r, &rgb[(size_t)y * h.cupsBytesPerLine], h.cupsBytesPerLine);
    cupsRasterClose(r);
    close(fd);

    rvt::Result out = rvt::RunJob(raster, "", ShippedPpd(dpi));
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.err, "Finish print operation.");
    tsplview::Job job = rvt::ReadTspl(out.out);
    ASSERT_EQ(job.labels.size(), 1u);
    const tsplview::Label &l = job.labels[0];
    EXPECT_EQ(l.width, int((h.cupsWidth + 7) / 8 * 8));
    EXPECT_EQ(l.height, int(h.cupsHeight + 1));
    long wrong = 0;
    for (unsigned y = 0; y < h.cupsHeight; ++y)
        for (unsigned x = 0; x < h.cupsWidth; ++x) {
            const unsigned char *px = &rgb[(size_t)y * h.cupsBytesPerLine + 3 * x];
            const int grey = (11 * px[0] + 16 * px[1] + 5 * px[2]) >> 5;
            wrong += (grey <= 64 && !l.dot(x, y)) || (grey >= 200 && l.dot(x, y));
        }
    EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(Models, CupsRaster,
                         ::testing::Combine(::testing::Values(203, 300),
                                            ::testing::Values(std::string("label.pdf"),
                                                              std::string("label.png"))),
                         [](const auto &info) {
                             return std::to_string(std::get<0>(info.param)) + "dpi_" +
                                    std::get<1>(info.param).substr(6);
                         });

} // namespace
