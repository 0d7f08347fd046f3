// CUPS's own filters (cupsfilter) turn the sample label into raster for each
// shipped model; the built filter must turn that raster into a TSPL job of
// the right shape.
#include <gtest/gtest.h>

#include <tuple>

#include "tests/integration/harness.h"
#include "tests/integration/job_checks.h"

namespace rvc_it {
namespace {

struct Prepared {
  std::string ppd, input;
};

// The model's PPD, the sample and the filter, all made by the build.
::testing::AssertionResult Prepare(int dpi, const std::string &input, Prepared *p) {
  p->ppd = PpdForDpi(dpi);
  p->input = SamplePath(input);
  if (p->ppd.empty()) return ::testing::AssertionFailure() << "no shipped " << dpi << " dpi PPD";
  if (p->input.empty()) return ::testing::AssertionFailure() << "sample " << input << " was not made";
  if (FilterPath().empty()) return ::testing::AssertionFailure() << "the filter was not built";
  return ::testing::AssertionSuccess();
}

// Raster made by cupsfilter: a raster stream of 24-bit chunky RGB pages at
// the model's resolution.
void MakeRaster(const Prepared &p, const std::string &raster, int dpi, size_t pages) {
  RunRequest req;
  req.argv = {"cupsfilter", "-p", p.ppd, "-m", "application/vnd.cups-raster", p.input};
  req.stdoutFile = raster;
  RunResult r = RunProgram(req);
  ASSERT_EQ(r.status, 0) << Describe(req.argv) << "\n" << r.err;

  auto headers = ReadRasterHeaders(raster);
  ASSERT_EQ(headers.size(), pages) << "pages in the raster of " << p.input;
  for (const auto &h : headers) {
    EXPECT_EQ(h.cupsBitsPerColor, 8u);
    EXPECT_EQ(h.cupsBitsPerPixel, 24u);
    EXPECT_EQ(h.cupsColorOrder, CUPS_ORDER_CHUNKED);
    EXPECT_TRUE(h.cupsColorSpace == CUPS_CSPACE_RGB || h.cupsColorSpace == CUPS_CSPACE_SRGB)
        << "colour space " << h.cupsColorSpace;
    EXPECT_EQ(h.HWResolution[0], unsigned(dpi));
    EXPECT_EQ(h.HWResolution[1], unsigned(dpi));
    // The page in pixels is the page size in points at the resolution.
    EXPECT_NEAR(double(h.cupsWidth), h.PageSize[0] * dpi / 72.0, 1.0);
    EXPECT_NEAR(double(h.cupsHeight), h.PageSize[1] * dpi / 72.0, 1.0);
    EXPECT_GE(h.cupsBytesPerLine, 3 * h.cupsWidth);
  }
}

void PrintRaster(const Prepared &p, const std::string &raster, const std::string &job,
                 RunResult *r) {
  RunRequest req;
  req.argv = {FilterPath(), "7", "tester", "sample label", "1", ""};
  req.env = {{"PPD", p.ppd}};
  req.stdinFile = raster;
  req.stdoutFile = job;
  *r = RunProgram(req);
}

// Compares the dots a job prints on its first label with the raster page:
// clearly dark pixels (grey up to 64) must be dots and clearly light ones
// (200 and up) must not; the grey band between is the halftoner's business.
// Returns the number of pixels that disagree.
long DotsAgainstRaster(const cups_page_header2_t &h, const std::vector<unsigned char> &rgb,
                       const TsplCommand &bm, std::string *where) {
  std::vector<bool> dot(size_t(h.cupsWidth) * h.cupsHeight, false);
  for (long r = 0; r < bm.height; ++r)
    for (long b = 0; b < bm.widthBytes; ++b)
      for (int k = 0; k < 8; ++k) {
        long col = bm.x + 8 * b + k, row = bm.y + r;
        bool set = !((static_cast<unsigned char>(bm.payload[size_t(r * bm.widthBytes + b)]) >> (7 - k)) & 1);
        if (set && col < long(h.cupsWidth) && row < long(h.cupsHeight)) dot[size_t(row) * h.cupsWidth + col] = true;
      }
  long bad = 0;
  for (unsigned row = 0; row < h.cupsHeight; ++row)
    for (unsigned col = 0; col < h.cupsWidth; ++col) {
      const unsigned char *p = &rgb[size_t(row) * h.cupsBytesPerLine + 3 * col];
      int grey = (11 * p[0] + 16 * p[1] + 5 * p[2]) >> 5;
      if (grey > 64 && grey < 200) continue;
      if ((grey <= 64) != dot[size_t(row) * h.cupsWidth + col] && bad++ == 0)
        *where = "first at column " + std::to_string(col) + ", row " + std::to_string(row) +
                 " (grey " + std::to_string(grey) + ")";
    }
  return bad;
}

class CupsRaster : public ::testing::TestWithParam<std::tuple<int, std::string>> {};

TEST_P(CupsRaster, FilterWritesOneLabelPerPage) {
  const int dpi = std::get<0>(GetParam());
  const std::string input = std::get<1>(GetParam());
  Prepared p;
  ASSERT_TRUE(Prepare(dpi, input, &p));
  ScratchDir tmp;
  ASSERT_NO_FATAL_FAILURE(MakeRaster(p, tmp / "page.ras", dpi, 1));

  RunResult r;
  PrintRaster(p, tmp / "page.ras", tmp / "job.tspl", &r);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "Finish print operation.");

  cups_page_header2_t header;
  std::vector<unsigned char> rgb;
  ASSERT_TRUE(ReadFirstRasterPage(tmp / "page.ras", &header, &rgb));
  JobShape shape;
  ASSERT_TRUE(ParseJob(ReadFile(tmp / "job.tspl"), &shape));
  // The label is the page rounded up to whole bytes, plus one dot of height.
  EXPECT_EQ(shape.labelWidth, int((header.cupsWidth + 7) / 8 * 8));
  EXPECT_EQ(shape.labelHeight, int(header.cupsHeight + 1));
  ASSERT_EQ(shape.pages.size(), 1u);
  ASSERT_EQ(shape.pages[0].bitmaps.size(), 1u);
  EXPECT_EQ(shape.pages[0].prints[0], "PRINT 1,1");
  // The sample's frame runs close to all four edges of the label.
  const TsplCommand &bm = shape.pages[0].bitmaps[0];
  EXPECT_GT(bm.widthBytes * 8, shape.labelWidth * 9 / 10);
  EXPECT_GT(bm.height, shape.labelHeight * 9 / 10);
  // Upright and unshifted by default, so every dot sits on its raster pixel.
  std::string where;
  EXPECT_EQ(DotsAgainstRaster(header, rgb, bm, &where), 0) << where;

  if (!ViewerPath().empty()) {
    RunRequest view;
    view.argv = {ViewerPath(), "--check", tmp / "job.tspl"};
    RunResult v = RunProgram(view);
    EXPECT_EQ(v.status, 0) << v.out << v.err;
  }
}

INSTANTIATE_TEST_SUITE_P(Models, CupsRaster,
                         ::testing::Combine(::testing::Values(203, 300),
                                            ::testing::Values(std::string("label.pdf"), std::string("label.png"))),
                         [](const auto &info) {
                           std::string in = std::get<1>(info.param);
                           return std::to_string(std::get<0>(info.param)) + "dpi_" +
                                  in.substr(in.find('.') + 1);
                         });

// Two pages: the page loop's hold-back emits each page once, in order.
TEST(CupsRasterPages, TwoPagePdfGivesTwoLabels) {
  Prepared p;
  ASSERT_TRUE(Prepare(203, "label.pdf", &p));
  ScratchDir tmp;
  RunRequest join;
  join.argv = {"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite",
               "-sOutputFile=" + (tmp / "two.pdf"), p.input, p.input};
  RunResult j = RunProgram(join);
  ASSERT_EQ(j.status, 0) << j.err;
  p.input = tmp / "two.pdf";
  ASSERT_NO_FATAL_FAILURE(MakeRaster(p, tmp / "pages.ras", 203, 2));

  RunResult r;
  PrintRaster(p, tmp / "pages.ras", tmp / "job.tspl", &r);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "Finish print operation.Finish print operation.");
  JobShape shape;
  ASSERT_TRUE(ParseJob(ReadFile(tmp / "job.tspl"), &shape));
  ASSERT_EQ(shape.pages.size(), 2u);
  // The same page twice gives the same label twice.
  EXPECT_EQ(shape.pages[0].texts, shape.pages[1].texts);
  EXPECT_EQ(shape.pages[0].bitmaps[0].payload, shape.pages[1].bitmaps[0].payload);
}

}  // namespace
}  // namespace rvc_it
