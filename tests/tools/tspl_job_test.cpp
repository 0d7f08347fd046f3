#include "tools/tspl_job.h"

#include <gtest/gtest.h>

#include "tests/tools/job_text.h"

using namespace tsplview;
using namespace std::string_literals;

namespace {

const std::string kSize = "SIZE 24 dot,8 dot\r\n";

ReadResult read(const std::string &job) {
    return readJob(bytes(job));
}

std::vector<long> allCuts(const Job &job) {
    std::vector<long> cuts;
    for (const Label &l : job.labels)
        cuts.insert(cuts.end(), l.cutsAfter.begin(), l.cutsAfter.end());
    return cuts;
}

TEST(TsplJob, PreambleSettings) {
    ReadResult r = read("CLS\r\nSIZE 816 dot,1219 dot\r\nGAP 2.5 mm,-1.5 mm\r\nSET RIBBON ON\r\n"
                        "DIRECTION 1,0\r\nREFERENCE 0,0\r\nDENSITY 8\r\nOFFSET 2.5 mm\r\n"
                        "SET TEAR ON\r\nSET PEEL OFF\r\nSET CUTTER OFF\r\n");
    ASSERT_TRUE(r.ok) << r.error;
    const PrinterSettings &s = r.job.settings;
    EXPECT_EQ(s.width, 816);
    EXPECT_EQ(s.height, 1219);
    EXPECT_EQ(s.gapTenths, 25);
    EXPECT_EQ(s.gapOffsetTenths, -15);
    EXPECT_EQ(s.ribbon, Switch::On);
    EXPECT_EQ(s.direction, 1);
    EXPECT_EQ(s.density, 8);
    EXPECT_EQ(s.offsetTenths, 25);
    EXPECT_EQ(s.tear, Switch::On);
    EXPECT_EQ(s.peel, Switch::Off);
    EXPECT_EQ(s.cutter, 0);
    EXPECT_TRUE(r.job.labels.empty());
}

// Most significant bit leftmost, a cleared bit is a dot, rows top first,
// placed at x,y; later bitmaps overwrite, OR or XOR by their mode.
TEST(TsplJob, BitmapLayoutAndModes) {
    struct Case {
        std::string draw;
        std::vector<std::pair<int, int>> dots;
    } cases[] = {
        {bitmap(8, 2, 2, 2, "\x7f\xff\xff\xfe"s), {{8, 2}, {23, 3}}},
        {bitmap(0, 0, 1, 1, "\x00"s) + bitmap(0, 0, 1, 1, "\xf0"s),
         {{4, 0}, {5, 0}, {6, 0}, {7, 0}}},
        {bitmap(0, 0, 1, 1, "\x0f"s) + bitmap(0, 0, 1, 1, "\xfe"s, 1),
         {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {7, 0}}},
        {bitmap(0, 0, 1, 1, "\x0f"s) + bitmap(0, 0, 1, 1, "\x3f"s, 2), {{2, 0}, {3, 0}}},
        {"REFERENCE 2,1\r\n" + bitmap(0, 0, 1, 1, "\x7f"s), {{2, 1}}},
        {"DIRECTION 1,1\r\n" + bitmap(0, 5, 1, 1, "\x7f"s), {{23, 5}}},
    };
    for (const Case &c : cases) {
        ReadResult r = read(kSize + "CLS\r\n" + c.draw + print(1));
        ASSERT_TRUE(r.ok) << r.error;
        ASSERT_EQ(r.job.labels.size(), 1u);
        const Label &l = r.job.labels[0];
        int count = 0;
        for (int y = 0; y < l.height; ++y)
            for (int x = 0; x < l.width; ++x)
                count += l.dot(x, y);
        EXPECT_EQ(count, int(c.dots.size())) << c.draw;
        for (auto [x, y] : c.dots)
            EXPECT_TRUE(l.dot(x, y)) << x << "," << y;
        EXPECT_EQ(l.inkLeft, c.dots.front().first);
        EXPECT_EQ(l.inkBottom, c.dots.back().second);
    }
}

TEST(TsplJob, ClippingWarnsOnlyWhenDotsAreLost) {
    // 8 dots wide beyond the right edge by 4: white overhang is silent.
    ReadResult quiet = read(kSize + "CLS\r\n" + bitmap(20, 0, 1, 1, "\x0f"s) + print(1));
    ASSERT_TRUE(quiet.ok);
    EXPECT_TRUE(quiet.job.labels[0].warnings.empty());
    ReadResult lost = read(kSize + "CLS\r\n" + bitmap(20, 7, 1, 2, "\x00\x00"s) + print(1));
    ASSERT_TRUE(lost.ok) << lost.error;
    ASSERT_EQ(lost.job.labels[0].warnings.size(), 1u);
    EXPECT_NE(lost.job.labels[0].warnings[0].find("12 dots clipped"), std::string::npos);
    EXPECT_EQ(lost.job.labels[0].inkRight, 23);
}

// Each page of a cutter job resends its bitmap block by block: one label per
// page, and the cuts fall where the cutter count says.
TEST(TsplJob, CutterSequences) {
    const std::string page = bitmap(0, 0, 1, 1, "\x00"s);
    auto block = [&](int n) { return page + print(n); };
    const std::string one = "SET CUTTER 1\r\n", off = "SET CUTTER OFF\r\n";
    struct Case {
        const char *name;
        std::string job;
        std::vector<long> copies, cuts;
    } cases[] = {
        // every 3rd of 5 copies on two pages, the job's last label cut too
        {"interval",
         kSize + "CLS\r\n" + off + block(2) + one + block(1) + off + block(2) + "CLS\r\n" + off +
             block(0) + one + block(1) + off + block(2) + one + block(1) + off + block(0) + one +
             block(1),
         {5, 5},
         {3, 6, 9, 10}},
        {"every label",
         kSize + "CLS\r\n" + one + block(2) + "CLS\r\n" + block(1),
         {2, 1},
         {1, 2, 3}},
        {"end of job",
         kSize + "CLS\r\n" + off + block(2) + "CLS\r\nSET CUTTER 2\r\n" + block(2),
         {2, 2},
         {4}},
        {"count carried",
         kSize + "CLS\r\nSET CUTTER 2\r\n" + block(1) + "CLS\r\n" + block(3),
         {1, 3},
         {2, 4}},
        {"nothing printed", kSize + "CLS\r\n" + block(0), {}, {}},
    };
    for (const Case &c : cases) {
        ReadResult r = read(c.job);
        ASSERT_TRUE(r.ok) << c.name << ": " << r.error;
        std::vector<long> copies;
        for (const Label &l : r.job.labels)
            copies.push_back(l.copies);
        EXPECT_EQ(copies, c.copies) << c.name;
        EXPECT_EQ(allCuts(r.job), c.cuts) << c.name;
        EXPECT_EQ(r.job.totalCuts, long(c.cuts.size())) << c.name;
    }
}

TEST(TsplJob, PaperSavingPagesCarryTheirOwnSize) {
    ReadResult r =
        read("CLS\r\nGAP 0 mm,0 mm\r\nCLS\r\nSIZE 16 dot,10 dot\r\n" +
             bitmap(0, 0, 1, 2, "\x00\x00"s) + print(1) + "CLS\r\nSIZE 32 dot,12 dot\r\n" +
             bitmap(8, 0, 1, 4, std::string(4, '\0')) + print(1));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.job.labels.size(), 2u);
    EXPECT_EQ(r.job.labels[0].width, 16);
    EXPECT_EQ(r.job.labels[1].height, 12);
    EXPECT_EQ(r.job.labels[1].inkLeft, 8);
    EXPECT_EQ(r.job.settings.width, 16);
}

TEST(TsplJob, FaultsAreReportedAtTheirByte) {
    const std::string good = kSize + "CLS\r\n" + bitmap(0, 0, 1, 1, "\x00"s) + print(1);
    const std::size_t g = good.size();
    struct Case {
        std::string tail;
        std::size_t offset; // from the end of the good part
        const char *message;
    } cases[] = {
        {"BITMAP 0,0,2,2,0,\xff\xff\xff"s, 17, "payload is short"},
        {"BITMAP 0,0,2,2,0,\xff\xff\xff\r\nPRINT 1,1\r\n"s, 21, "no CR LF after its 4"},
        {"CLS", 0, "not terminated by CR LF"},
        {"CLS\n", 3, "line feed without carriage return"},
        {"CLS\rPRINT 1,1\r\n", 3, "carriage return without line feed"},
        {"\r\n", 0, "empty command"},
        {"TEXT 10,10,\"3\",0,1,1,\"x\"\r\n", 0, "unknown command 'TEXT'"},
        {"SET SPEED 4\r\n", 4, "unknown command 'SET SPEED'"},
        {"SIZE 8x dot,8 dot\r\n", 6, "expected ' dot,'"},
        {"SIZE 99999999999 dot,8 dot\r\n", 5, "out of range"},
        {"SIZE 60000 dot,60000 dot\r\n", 5, "larger than"},
        {"DENSITY +8\r\n", 8, "malformed number"},
        {"GAP 2.55 mm,0 mm\r\n", 4, "more than one decimal"},
        {"GAP 3 mm,. mm\r\n", 9, "malformed number"},
        {"PRINT 1,-1\r\n", 8, "must not be negative"},
        {"SET CUTTER 0\r\n", 11, "at least 1"},
        {"SET TEAR MAYBE\r\n", 9, "ON or OFF"},
        {"DIRECTION 2,0\r\n", 10, "0 or 1"},
        {"BITMAP 0,0,1,1,3,\x00\r\n"s, 15, "mode must be"},
        {"CLS \r\n", 3, "unexpected"},
        {"DENSITY 8\x01\r\n"s, 9, "non-text byte"},
    };
    for (const Case &c : cases) {
        ReadResult r = read(good + c.tail);
        EXPECT_FALSE(r.ok) << c.tail;
        EXPECT_EQ(r.errorOffset, g + c.offset) << c.tail << ": " << r.error;
        EXPECT_NE(r.error.find(c.message), std::string::npos) << c.tail << ": " << r.error;
        // the label printed before the fault survives
        EXPECT_EQ(r.job.labels.size(), 1u) << c.tail;
    }
    ReadResult early = read("CLS\r\n" + bitmap(0, 0, 1, 1, "\x00"s));
    EXPECT_NE(early.error.find("before any SIZE"), std::string::npos);
    EXPECT_NE(read("PRINT 1,1\r\n").error.find("before any SIZE"), std::string::npos);
}

} // namespace
