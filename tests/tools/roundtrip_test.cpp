// Raster pages with known marks go through the filter; the viewer reads the
// job and each printed label must show the marks where they belong.
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tools/tspl_job.h"

namespace fs = std::filesystem;
using tsplview::Label;
using tsplview::ReadResult;

namespace {

constexpr int kSide = 160; // square pages, so turned pages keep their size

struct Mark {
    int x, y, w, h, grey;
};
using Page = std::vector<Mark>;

// Asymmetric, so every turn and mirror is told apart. Grey 20 is dark enough
// for the fixture's threshold after its levels curve; grey 60 is not.
const Page kPage = {{16, 8, 32, 8, 0},
                    {24, 40, 8, 40, 0},
                    {100, 120, 2, 2, 0},
                    {64, 64, 16, 8, 20},
                    {96, 16, 16, 8, 60}};
const Page kSecondPage = {{40, 30, 8, 50, 0}, {120, 90, 24, 4, 0}};

bool printed(const Mark &m) {
    return m.grey < 40;
}

fs::path workDir() {
    fs::path d =
        fs::path(RVC_TEST_TMP) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
}

void writeRaster(const std::string &path, const std::vector<Page> &pages, int copies) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
    ASSERT_NE(ras, nullptr);
    for (const Page &page : pages) {
        cups_page_header2_t h{};
        h.HWResolution[0] = h.HWResolution[1] = 203;
        h.PageSize[0] = h.PageSize[1] = kSide * 72 / 203;
        h.cupsWidth = h.cupsHeight = kSide;
        h.cupsBitsPerColor = 8;
        h.cupsBitsPerPixel = 24;
        h.cupsBytesPerLine = 3 * kSide;
        h.cupsColorOrder = CUPS_ORDER_CHUNKED;
        h.cupsColorSpace = CUPS_CSPACE_RGB;
        h.NumCopies = unsigned(copies);
        ASSERT_TRUE(cupsRasterWriteHeader2(ras, &h));
        std::vector<unsigned char> line(3 * kSide);
        for (int y = 0; y < kSide; ++y) {
            std::fill(line.begin(), line.end(), 255);
            for (const Mark &m : page)
                if (y >= m.y && y < m.y + m.h)
                    std::fill(line.begin() + 3 * m.x, line.begin() + 3 * (m.x + m.w), m.grey);
            ASSERT_EQ(cupsRasterWritePixels(ras, line.data(), unsigned(line.size())), line.size());
        }
    }
    cupsRasterClose(ras);
    close(fd);
}

// The fixture PPD with some defaults changed: libcups' cupsMarkOptions takes
// a job option named "mirror" for its own MirrorPrint, so the filter's
// Mirror can only come from the PPD's default.
std::string ppdWithDefaults(const fs::path &dir,
                            const std::map<std::string, std::string> &defaults) {
    std::ifstream in(RVC_TEST_PPD);
    const std::string path = (dir / "test.ppd").string();
    std::ofstream out(path);
    for (std::string line; std::getline(in, line);) {
        for (const auto &[keyword, choice] : defaults)
            if (line.rfind("*Default" + keyword + ":", 0) == 0)
                line = "*Default" + keyword + ": " + choice;
        out << line << "\n";
    }
    return path;
}

ReadResult throughFilter(const std::string &options, const std::vector<Page> &pages, int copies = 1,
                         const std::map<std::string, std::string> &defaults = {}) {
    const fs::path dir = workDir();
    const std::string raster = (dir / "job.ras").string(), out = (dir / "job.tspl").string();
    writeRaster(raster, pages, copies);
    const std::string cmd = "PPD='" + ppdWithDefaults(dir, defaults) + "' '" + RVC_FILTER_EXE +
                            "' 1 tester title 1 '" + options + "' '" + raster + "' > '" + out +
                            "' 2> '" + (dir / "stderr.txt").string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream in(out, std::ios::binary);
    std::vector<std::uint8_t> job((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    ReadResult r = tsplview::readJob(job);
    EXPECT_TRUE(r.ok) << "byte " << r.errorOffset << ": " << r.error;
    return r;
}

// The label must hold a dot exactly where place() puts a printed mark pixel.
void expectMarks(const Label &label, const Page &page,
                 const std::function<std::pair<int, int>(int, int)> &place) {
    std::vector<std::uint8_t> want(std::size_t(label.width) * label.height, 0);
    for (const Mark &m : page) {
        if (!printed(m))
            continue;
        for (int y = m.y; y < m.y + m.h; ++y)
            for (int x = m.x; x < m.x + m.w; ++x) {
                auto [px, py] = place(x, y);
                ASSERT_TRUE(px >= 0 && px < label.width && py >= 0 && py < label.height)
                    << px << "," << py;
                want[std::size_t(py) * label.width + px] = 1;
            }
    }
    int wrong = 0;
    for (int y = 0; y < label.height; ++y)
        for (int x = 0; x < label.width; ++x)
            if (label.dot(x, y) != (want[std::size_t(y) * label.width + x] != 0) && ++wrong <= 5)
                ADD_FAILURE() << "dot " << x << "," << y << " is " << label.dot(x, y);
    EXPECT_EQ(wrong, 0);
}

TEST(RoundTrip, Rotations) {
    const int e = kSide - 1;
    struct Case {
        const char *choice;
        std::function<std::pair<int, int>(int, int)> place;
    } cases[] = {
        {"R0", [](int x, int y) { return std::make_pair(x, y); }},
        {"R1", [e](int x, int y) { return std::make_pair(y, e - x); }},
        {"R2", [e](int x, int y) { return std::make_pair(e - x, e - y); }},
        {"R3", [e](int x, int y) { return std::make_pair(e - y, x); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.choice);
        ReadResult r = throughFilter(std::string("Rotation=") + c.choice, {kPage});
        ASSERT_EQ(r.job.labels.size(), 1u);
        const Label &l = r.job.labels[0];
        EXPECT_EQ(l.width, kSide);
        EXPECT_EQ(l.height, kSide + 1);
        EXPECT_EQ(l.copies, 1);
        EXPECT_TRUE(l.warnings.empty());
        expectMarks(l, kPage, c.place);
    }
}

TEST(RoundTrip, MirrorAfterOffset) {
    // 5 mm right and 2.5 mm down at 203 dpi are 40 and 20 dots.
    ReadResult r = throughFilter("HorizontalOffsetValue=H5 VerticalOffsetValue=V25", {kPage}, 1,
                                 {{"Mirror", "M1"}});
    ASSERT_EQ(r.job.labels.size(), 1u);
    EXPECT_EQ(r.job.totalCuts, 0);
    expectMarks(r.job.labels[0], kPage,
                [](int x, int y) { return std::make_pair(kSide - 1 - (x + 40), y + 20); });
}

TEST(RoundTrip, PaperSavingWithCutsEveryThirdLabel) {
    ReadResult r = throughFilter("SavePaper=S1 Mode=Cut", {kPage, kSecondPage}, 5);
    const tsplview::PrinterSettings &s = r.job.settings;
    EXPECT_EQ(s.gapTenths, 0);
    EXPECT_EQ(s.density, 8);
    EXPECT_EQ(s.tear, tsplview::Switch::Off);
    ASSERT_EQ(r.job.labels.size(), 2u);
    // each page's label is its inked rows plus 8, the marks at its top edge
    const Label &first = r.job.labels[0], &second = r.job.labels[1];
    EXPECT_EQ(first.height, 121 - 8 + 1 + 8);
    EXPECT_EQ(second.height, 93 - 30 + 1 + 8);
    expectMarks(first, kPage, [](int x, int y) { return std::make_pair(x, y - 8); });
    expectMarks(second, kSecondPage, [](int x, int y) { return std::make_pair(x, y - 30); });
    EXPECT_EQ(first.copies, 5);
    EXPECT_EQ(second.copies, 5);
    EXPECT_EQ(first.cutsAfter, std::vector<long>({3}));
    EXPECT_EQ(second.cutsAfter, std::vector<long>({6, 9, 10}));
    EXPECT_EQ(r.job.totalLabels, 10);
}

} // namespace
