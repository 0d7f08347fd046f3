#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "imaging/BmpProcessing.h"
#include "imaging/DitherTables.h"

namespace {

using Image = std::vector<unsigned char>;

Image Halftone(int method, Image src, unsigned w, unsigned h, unsigned stride, int negative = 0,
          unsigned char fill = 255)
{
    Image dst(src.size(), fill);
    CBmpProcessing b;
    EXPECT_EQ(b.Dither(method, src.data(), dst.data(), h, w, stride, 0, negative), 1);
    return dst;
}

TEST(Dither, BoundaryValues)
{
    struct Case {
        int method, v, x, y;
        bool light;
    };
    const Case cases[] = {
        {1, 140, 0, 0, false}, {1, 141, 0, 0, true},   {1, 0, 3, 3, false},
        {3, 3, 0, 0, false},   {3, 4, 0, 0, true},     {3, 4, 4, 4, true},
        {3, 4, 1, 0, false},   {3, 4, 0, 4, false},    {3, 252, 7, 0, true},
        {3, 251, 7, 0, false}, {3, 128, 1, 0, false},  {3, 128, 0, 1, true},
        {5, 255, 6, 7, false}, {5, 255, 7, 6, true},   {5, 1, 8, 8, true},
        {5, 1, 0, 0, false},   {5, 2, 0, 0, true},     {5, 59, 0, 2, false},
        {7, 255, 10, 0, true}, {7, 254, 10, 0, false}, {7, 8, 3, 0, false},
        {7, 9, 3, 0, true},    {7, 9, 3, 14, true},    {7, 9, 0, 1, false},
        {8, 16, 0, 0, true},   {8, 16, 1, 0, false},   {8, 15, 0, 0, false},
        {8, 255, 0, 3, true},  {8, 254, 0, 3, false},  {8, 64, 0, 2, true},
        {9, 255, 0, 0, false}, {9, 255, 8, 8, false},  {9, 255, 8, 0, true},
        {9, 255, 0, 8, true},  {9, 255, 16, 16, false}, {9, 3, 11, 2, true},
        {9, 2, 11, 2, false},
    };
    for (const Case &c : cases) {
        const unsigned w = 32, h = 32;
        Image src(w * h, (unsigned char)c.v);
        const Image out = Halftone(c.method, src, w, h, w);
        EXPECT_EQ(out[c.y * w + c.x], c.light ? 255 : 0)
            << "method " << c.method << " v " << c.v << " at " << c.x << "," << c.y;
    }
}

TEST(Dither, WhiteScreensLeaveDotsPerTile)
{
    const unsigned w = 48, h = 48;
    Image white(w * h, 255);
    for (int method : {5, 9}) {
        const Image out = Halftone(method, white, w, h, w);
        for (unsigned y = 0; y < h; ++y)
            for (unsigned x = 0; x < w; ++x) {
                bool dark = method == 5 ? (x % 16 == 6 && y % 16 == 7)
                                        : ((x % 16 == 0 && y % 16 == 0) ||
                                           (x % 16 == 8 && y % 16 == 8));
                ASSERT_EQ(out[y * w + x], dark ? 0 : 255) << method << " " << x << "," << y;
            }
    }
    for (int method : {1, 3, 7, 8}) {
        const Image out = Halftone(method, white, w, h, w);
        for (unsigned char b : out)
            ASSERT_EQ(b, 255) << method;
    }
}

// Every position and value against the literal rules, across chunk edges
// and the rows that wrap the screens' periods.
TEST(Dither, OrderedMethodsFollowTheirRules)
{
    const unsigned w = 2000, h = 34, stride = 2003;
    std::mt19937 rng(7);
    Image src(stride * h);
    for (auto &b : src)
        b = (unsigned char)(rng() % 256);
    for (unsigned y = 0; y < 2; ++y)
        for (unsigned x = 0; x < 256; ++x)
            src[y * stride + x] = (unsigned char)x;
    for (int method : {1, 3, 5, 7, 8, 9}) {
        const Image out = Halftone(method, src, w, h, stride, 0, 77);
        for (unsigned y = 0; y < h; ++y) {
            for (unsigned x = 0; x < w; ++x) {
                const bool light = rvc_dither::DirectLight(method, src[y * stride + x], (int)x,
                                                           (int)y);
                ASSERT_EQ(out[y * stride + x], light ? 255 : 0)
                    << method << " " << x << "," << y;
            }
            for (unsigned x = w; x < stride; ++x)
                ASSERT_EQ(out[y * stride + x], 77);
        }
    }
}

TEST(Dither, ScreenFifteenRowFourteenRepeatsRowZero)
{
    const unsigned w = 30, h = 15;
    Image src(w * h);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x)
            src[y * w + x] = (unsigned char)(x * 8);
    const Image out = Halftone(7, src, w, h, w);
    for (unsigned x = 0; x < w; ++x)
        EXPECT_EQ(out[14 * w + x], out[x]) << x;
}

TEST(Dither, FloydSteinbergSharesTruncateTowardZero)
{
    {
        Image src(16, 128);
        CBmpProcessing b;
        Image dst(16, 255);
        b.Dither(2, src.data(), dst.data(), 2, 8, 8, 0, 0);
        EXPECT_EQ(dst[0], 0);
        EXPECT_EQ(dst[1], 255);  // 128 + 56 = 184
    }
    {
        // 155 is light with error -100: the right neighbour gets -700/16 = -43.
        Image src = {155, 200};
        Image dst(2, 9);
        CBmpProcessing b;
        b.Dither(2, src.data(), dst.data(), 1, 2, 2, 0, 0);
        EXPECT_EQ(src[1], 157);
        EXPECT_EQ(dst[0], 255);
    }
    {
        // Shares into the next row: 3, 5 and 1 sixteenths of e = 100.
        Image src = {60, 100, 100, 100, 100, 100};
        Image dst(6, 9);
        CBmpProcessing b;
        b.Dither(2, src.data(), dst.data(), 2, 3, 3, 0, 0);
        // (0,0): e = 60 gives (0,1) 100 + 18; (1,0) = 126, e = 126, adds 23.
        EXPECT_EQ(dst[0], 0);
        EXPECT_EQ(dst[1], 0);
        EXPECT_EQ(dst[2], 255);
        EXPECT_EQ(src[3], 141);
        EXPECT_EQ(dst[3], 255);
    }
    {
        Image src = {250, 250, 10, 250};
        Image dst(4, 9);
        CBmpProcessing b;
        b.Dither(2, src.data(), dst.data(), 2, 2, 2, 0, 0);
        EXPECT_EQ(dst[2], 0);
        for (unsigned char v : src)
            EXPECT_LE(v, 255);
    }
}

TEST(Dither, StuckiGridEdges)
{
    {
        Image src(4 * 3, 128);
        const Image out = Halftone(6, src, 4, 3, 4, 0, 9);
        // (0,0): level 72 is dark, error 72 gives (1,0) 72 + 13 = 85: light.
        EXPECT_EQ(out[0], 0);
        EXPECT_EQ(out[1], 255);
        EXPECT_EQ(out[2], 9);
        EXPECT_EQ(out[3], 9);
        for (unsigned k = 4; k < 12; ++k)
            EXPECT_EQ(out[k], 9);
    }
    for (auto shape : {std::pair<unsigned, unsigned>{2, 10}, {10, 2}, {1, 1}, {0, 5}}) {
        Image src(shape.first * shape.second + 1, 0);
        const Image out = Halftone(6, src, shape.first, shape.second, shape.first, 0, 9);
        for (unsigned char b : out)
            ASSERT_EQ(b, 9);
    }
}

TEST(Dither, UnknownMethodsWriteNothing)
{
    Image src(64, 0);
    for (int method : {0, 4, 10, -1, 1000}) {
        const Image out = Halftone(method, src, 8, 8, 8, 0, 9);
        for (unsigned char b : out)
            ASSERT_EQ(b, 9) << method;
    }
}

// Over random shapes: every byte written is 0 or 255, the prepared bytes that
// are not written stay, and the negative flag exchanges exactly the written
// bytes.
TEST(Dither, RandomImagesNegativeExchangesWrittenBytes)
{
    std::mt19937 rng(99);
    for (int iter = 0; iter < 120; ++iter) {
        const unsigned w = rng() % 50, h = rng() % 50, stride = w + rng() % 5;
        Image src(stride * h + 1);
        const int mode = (int)(rng() % 3);
        for (auto &b : src)
            b = mode == 0 ? (unsigned char)(rng() % 256)
                          : (mode == 1 ? (unsigned char)(rng() % 2 * 255) : (unsigned char)(rng() % 40 + 110));
        for (int method : {1, 2, 3, 5, 6, 7, 8, 9}) {
            const Image pos = Halftone(method, src, w, h, stride, 0, 9);
            const Image neg = Halftone(method, src, w, h, stride, 1, 9);
            for (size_t k = 0; k < pos.size(); ++k) {
                const unsigned y = (unsigned)(k / (stride ? stride : 1)), x = (unsigned)(k % (stride ? stride : 1));
                const bool inside = k < (size_t)stride * h && x < w;
                const bool written = inside && (method != 6 || (y + 2 < h && x + 2 < w));
                if (!written) {
                    ASSERT_EQ(pos[k], 9);
                    ASSERT_EQ(neg[k], 9);
                } else {
                    ASSERT_TRUE(pos[k] == 0 || pos[k] == 255) << method;
                    ASSERT_EQ(neg[k], 255 - pos[k]) << method;
                }
            }
        }
    }
}

}  // namespace
