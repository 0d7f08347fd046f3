#include <gtest/gtest.h>

#include <vector>

#include "imaging/BmpProcessing.h"

namespace {

using Image = std::vector<unsigned char>;

std::vector<int> WhiteOffsets(const Image &run)
{
    std::vector<int> out;
    for (size_t k = 0; k < run.size(); ++k)
        if (run[k] == 255)
            out.push_back((int)k);
    return out;
}

std::vector<int> Span(int a, int b)
{
    std::vector<int> v;
    for (int k = a; k <= b; ++k)
        v.push_back(k);
    return v;
}

std::vector<int> Join(std::vector<std::vector<int>> parts)
{
    std::vector<int> v;
    for (auto &p : parts)
        v.insert(v.end(), p.begin(), p.end());
    return v;
}

TEST(ResetBlackLineData, CutsRunsIntoDashes)
{
    struct Case {
        unsigned length;
        short black, white, bpp;
        std::vector<int> white_bytes;
    };
    const Case cases[] = {
        {100, 24, 8, 8, Join({Span(24, 31), Span(56, 63), Span(88, 95)})},
        {64, 24, 8, 8, Span(24, 31)},
        {32, 24, 8, 8, {}},
        {33, 24, 8, 8, Span(24, 31)},
        {20, 0, 0, 8, {}},
        {20, -4, 8, 8, {}},
        {20, 4, -2, 8, {}},
        {20, 3, 2, 1, {}},
        {20, 30000, 30000, 8, {}},
        {10, 2, 0, 8, {}},
    };
    for (const Case &c : cases) {
        Image run(c.length, 0);
        CBmpProcessing b;
        EXPECT_EQ(b.ResetBlackLineData(run.data(), c.length, c.black, c.white, c.bpp), 1);
        EXPECT_EQ(WhiteOffsets(run), c.white_bytes) << c.length << " " << c.black << "/" << c.white;
    }
    CBmpProcessing b;
    EXPECT_EQ(b.ResetBlackLineData(nullptr, 10, 2, 2, 8), 0);
}

struct Page {
    int w, h;
    Image px;
    Page(int w_, int h_) : w(w_), h(h_), px((size_t)w_ * h_, 255) {}
    void Line(int y, int x0, int x1)
    {
        for (int x = x0; x <= x1; ++x)
            px[(size_t)y * w + x] = 0;
    }
    bool White(int x, int y) const { return px[(size_t)y * w + x] == 255; }
    void Dash(short minMm, short dpi, short black, short white)
    {
        CBmpProcessing b;
        b.DashSolidLines(px.data(), w, h, w, minMm, dpi, black, white, 8);
    }
};

TEST(DashSolidLines, MinimumLengthAt203Dpi)
{
    Page page(200, 2);
    page.Line(0, 10, 89);  // 80 dots: 10 mm
    page.Line(1, 10, 84);  // 75 dots: 9 mm
    page.Dash(10, 203, 24, 8);
    EXPECT_TRUE(page.White(10 + 24, 0));
    EXPECT_TRUE(page.White(10 + 31, 0));
    EXPECT_FALSE(page.White(10 + 32, 0));
    EXPECT_TRUE(page.White(10 + 56, 0));
    EXPECT_FALSE(page.White(10 + 64, 0));
    for (int x = 10; x <= 84; ++x)
        ASSERT_FALSE(page.White(x, 1)) << x;
}

TEST(DashSolidLines, EdgesOfRowsAndImage)
{
    Page page(100, 3);
    page.Line(0, 0, 99);  // from column 0 to the edge: measured from 1
    page.Line(1, 50, 99);
    page.Line(2, 0, 99);  // last row, right edge: never cut
    page.Dash(1, 203, 4, 2);
    EXPECT_FALSE(page.White(0, 0));
    EXPECT_FALSE(page.White(4, 0));
    EXPECT_TRUE(page.White(5, 0));
    EXPECT_TRUE(page.White(6, 0));
    EXPECT_FALSE(page.White(7, 0));
    EXPECT_TRUE(page.White(50 + 4, 1));
    for (int x = 0; x < 100; ++x)
        ASSERT_FALSE(page.White(x, 2)) << x;
}

TEST(DashSolidLines, NothingChangesWithoutAUsablePeriodOrResolution)
{
    struct Case {
        short dpi, black, white;
    };
    for (const Case c : {Case{203, 0, 0}, Case{0, 24, 8}, Case{-203, 24, 8}, Case{203, -1, 8},
                         Case{203, 8, -1}}) {
        Page page(300, 2);
        page.Line(0, 1, 250);
        page.Line(1, 3, 299);
        const Image before = page.px;
        page.Dash(1, c.dpi, c.black, c.white);
        EXPECT_EQ(page.px, before) << c.dpi << " " << c.black << " " << c.white;
    }
}

TEST(DashSolidLines, OnlyBlackBytesExtendRuns)
{
    Page page(120, 1);
    page.Line(0, 1, 110);
    page.px[50] = 128;  // not black: splits the line
    page.Dash(0, 203, 10, 5);
    EXPECT_TRUE(page.White(10 + 1, 0));
    EXPECT_EQ(page.px[50], 128);
    EXPECT_TRUE(page.White(51 + 10, 0));
    EXPECT_FALSE(page.White(51 + 15, 0));
}

}  // namespace
