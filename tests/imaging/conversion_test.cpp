#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/BmpProcessing.h"

namespace {

const COLORLEVELSITEM kIdentity = {1.0f, 0, 255, 0, 255};

struct Page {
    int w, h, depth;
    int stride;
    std::vector<unsigned char> px;
    Page(int w_, int h_, int depth_ = 24)
        : w(w_), h(h_), depth(depth_), stride(((depth_ * w_ + 31) / 32) * 4),
          px((size_t)stride * h_, 255)
    {
    }
    void Set(int j, int i, int blue, int green, int red)
    {
        unsigned char *p = &px[(size_t)i * stride + (size_t)j * (depth / 8)];
        if (depth == 24) {
            p[0] = (unsigned char)blue;
            p[1] = (unsigned char)green;
            p[2] = (unsigned char)red;
        } else {
            p[0] = (unsigned char)blue;
        }
    }
    void Grey(int j, int i, int g) { Set(j, i, g, g, g); }
    tagBITMAPINFOHEADER Header() const
    {
        tagBITMAPINFOHEADER hd{};
        hd.biSize = 40;
        hd.biWidth = w;
        hd.biHeight = h;
        hd.biPlanes = 1;
        hd.biBitCount = (uint16_t)depth;
        return hd;
    }
};

struct Result {
    int rc = 0;
    tagRECT rect{};
    unsigned char *out = nullptr;
    unsigned int len = 0;
    tagBITMAPINFOHEADER header{};
    ~Result() { std::free(out); }
    int Width() const { return rect.right - rect.left + 1; }
    int At(int x, int y) const { return out[(size_t)(y - rect.top) * Width() + (x - rect.left)]; }
};

void Convert(Page &page, Result &r, int orientation = 3, int dx = 0, int dy = 0,
             COLORLEVELSITEM levels = kIdentity, int brightness = 0, int contrast = 0,
             int maxWidth = 0, CBmpProcessing *bp = nullptr)
{
    CBmpProcessing local;
    CBmpProcessing &b = bp ? *bp : local;
    r.header = page.Header();
    r.rect = {0, 0, page.w - 1, page.h - 1};
    r.rc = b.CoverBMP2OutputFormat(page.px.data(), (unsigned int)page.px.size(), &r.out, &r.len,
                                   &r.header, &r.rect, orientation, dx, dy, levels, 0, brightness,
                                   contrast, maxWidth);
}

TEST(Conversion, ConstructorDefaults)
{
    CBmpProcessing b;
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(b.m_LevelsItem[k].fGamma, 1.0f);
        EXPECT_EQ(b.m_LevelsItem[k].byInLow, 0);
        EXPECT_EQ(b.m_LevelsItem[k].byInHigh, 255);
        EXPECT_EQ(b.m_LevelsItem[k].byOutLow, 0);
        EXPECT_EQ(b.m_LevelsItem[k].byOutHigh, 255);
        EXPECT_EQ(b.m_LevelsTableReady[k], 0);
        for (int v = 0; v < 256; ++v)
            ASSERT_EQ(b.m_LevelsTable[k][v], v);
    }
}

TEST(Conversion, WhitePageIsEmpty)
{
    Page page(40, 20);
    page.Set(5, 5, 250, 251, 255);  // near white is dropped
    Result r;
    Convert(page, r);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, nullptr);
    EXPECT_EQ(r.len, 0u);
    EXPECT_EQ(r.rect.left, 0);
    EXPECT_EQ(r.rect.top, 0);
    EXPECT_EQ(r.rect.right, 0);
    EXPECT_EQ(r.rect.bottom, 0);
    EXPECT_EQ(r.header.biBitCount, 8);
    EXPECT_EQ(r.header.biWidth, 1);
    EXPECT_EQ(r.header.biHeight, 1);
    EXPECT_EQ(r.header.biSizeImage, 0u);
}

TEST(Conversion, RectangleWidenedToMultiplesOfEight)
{
    struct Case {
        int first, last, left, right;
    };
    for (const Case c : {Case{13, 13, 8, 15}, Case{3, 20, 0, 23}, Case{8, 15, 8, 15},
                         Case{0, 0, 0, 7}}) {
        Page page(40, 6);
        for (int j = c.first; j <= c.last; ++j)
            page.Grey(j, 2, 0);
        page.Grey(c.first, 4, 0);
        Result r;
        Convert(page, r);
        ASSERT_EQ(r.rc, 1);
        EXPECT_EQ(r.rect.left, c.left) << c.first;
        EXPECT_EQ(r.rect.right, c.right) << c.first;
        EXPECT_EQ(r.rect.top, 2);
        EXPECT_EQ(r.rect.bottom, 4);
        EXPECT_EQ(r.len, 3u * (unsigned)(c.right - c.left + 1));
        EXPECT_EQ(r.At(c.first, 2), 0);
        EXPECT_EQ(r.At(c.right, 3), 255);
    }
}

TEST(Conversion, GreyWeights)
{
    Page page(8, 1);
    page.Set(0, 0, 0, 0, 255);
    page.Set(1, 0, 0, 255, 0);
    page.Set(2, 0, 255, 0, 0);
    page.Set(3, 0, 10, 20, 30);
    Result r;
    Convert(page, r);
    EXPECT_EQ(r.At(0, 0), 87);
    EXPECT_EQ(r.At(1, 0), 127);
    EXPECT_EQ(r.At(2, 0), 39);
    EXPECT_EQ(r.At(3, 0), (11 * 30 + 16 * 20 + 5 * 10) >> 5);
}

TEST(Conversion, LevelsCurve)
{
    Page page(8, 1, 8);
    const int greys[] = {0, 64, 128, 192, 249};
    for (int k = 0; k < 5; ++k)
        page.Grey(k, 0, greys[k]);
    struct Case {
        float gamma;
        int expect[5];
    };
    for (const Case &c : {Case{3.0f, {0, 161, 203, 232, 253}}, Case{1.0f, {0, 64, 128, 192, 249}},
                          Case{0.0f, {0, 0, 0, 0, 0}}, Case{-2.0f, {0, 0, 0, 0, 0}}}) {
        Result r;
        Convert(page, r, 3, 0, 0, {c.gamma, 0, 255, 0, 255});
        for (int k = 0; k < 5; ++k)
            EXPECT_EQ(r.At(k, 0), c.expect[k]) << "gamma " << c.gamma << " grey " << greys[k];
    }
}

TEST(Conversion, LevelsTableItems)
{
    CBmpProcessing b;
    COLORLEVELSITEM item = {1.0f, 100, 100, 20, 220};  // equal points: a step
    b.SetColorLevelsData(&item, 3);
    EXPECT_EQ(b.m_LevelsTable[0][100], 20);
    EXPECT_EQ(b.m_LevelsTable[0][101], 220);
    EXPECT_EQ(b.m_LevelsTable[2][255], 220);
    for (int v = 0; v < 256; ++v)
        ASSERT_EQ(b.m_LevelsTable[3][v], v);  // the master table stays the identity
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(b.m_LevelsTableReady[k], 1);

    COLORLEVELSITEM item2 = {1.0f, 55, 200, 0, 255};
    b.SetColorLevelsData(&item2, 1);
    EXPECT_EQ(b.m_LevelsTable[1][55], 0);
    EXPECT_EQ(b.m_LevelsTable[1][200], 255);
    EXPECT_EQ(b.m_LevelsTable[1][128], (int)((int)((128 - 55) * (255.0 / 145) + 0.5) + 0.5));
    EXPECT_EQ(b.m_LevelsTable[0][101], 220);  // others untouched
    b.SetColorLevelsData(nullptr, 0);
    b.SetColorLevelsData(&item2, 7);
}

TEST(Conversion, BrightnessContrastTable)
{
    Page page(8, 1);
    page.Grey(0, 0, 100);
    page.Set(1, 0, 0, 0, 0);
    page.Set(2, 0, 0, 0, 1);
    CBmpProcessing b;
    Result r;
    Convert(page, r, 3, 0, 0, kIdentity, 10, 20, 0, &b);
    EXPECT_EQ(b.m_BrightContrastTable[0], 0);
    EXPECT_EQ(b.m_BrightContrastTable[64], 61);
    EXPECT_EQ(b.m_BrightContrastTable[128], 138);
    EXPECT_EQ(b.m_BrightContrastTable[192], 215);
    EXPECT_EQ(b.m_BrightContrastTable[255], 255);

    Result flat;
    Convert(page, flat, 3, 0, 0, kIdentity, 7, -100);
    EXPECT_EQ(flat.At(0, 0), 135);
    EXPECT_EQ(flat.At(1, 0), 0);  // pure black stays black
    EXPECT_EQ(flat.At(2, 0), 135);
}

TEST(Conversion, Orientations)
{
    // 16 x 16 page so every turned position counts; pixel at column 3, row 5.
    struct Case {
        int code, x, y;
    };
    for (const Case c : {Case{0, 5, 12}, Case{1, 12, 10}, Case{2, 10, 3}, Case{3, 3, 5},
                         Case{9, 3, 5}}) {
        Page page(16, 16);
        page.Grey(3, 5, 0);
        Result r;
        Convert(page, r, c.code);
        ASSERT_EQ(r.rc, 1);
        EXPECT_EQ(r.rect.top, c.y) << c.code;
        EXPECT_EQ(r.rect.bottom, c.y) << c.code;
        EXPECT_EQ(r.rect.left, c.x / 8 * 8) << c.code;
        EXPECT_EQ(r.At(c.x, c.y), 0) << c.code;
    }
    Page page(10, 6);
    page.Grey(9, 5, 0);
    Result r;
    Convert(page, r, 1);
    EXPECT_EQ(r.rect.left, 0);
    EXPECT_EQ(r.rect.top, 0);
    EXPECT_EQ(r.At(0, 0), 0);
}

TEST(Conversion, OffsetsMoveAndLoseMarks)
{
    Page page(16, 4);
    page.Grey(2, 1, 0);
    page.Grey(14, 1, 0);
    Result r;
    Convert(page, r, 3, 4, 1);
    // Column 14 moves to 18, past the row: lost, not wrapped.
    EXPECT_EQ(r.rect.left, 0);
    EXPECT_EQ(r.rect.right, 7);
    EXPECT_EQ(r.rect.top, 2);
    EXPECT_EQ(r.At(6, 2), 0);
    EXPECT_EQ(r.len, 8u);

    Result far;  // offsets at the ends of the int range move everything off the page
    Convert(page, far, 3, 2147483647, -2147483647 - 1);
    EXPECT_EQ(far.rc, 1);
    EXPECT_EQ(far.out, nullptr);
    Result farTurned;
    Convert(page, farTurned, 0, -2147483647 - 1, 2147483647, kIdentity, 0, 0, 5);
    EXPECT_EQ(farTurned.out, nullptr);
}

TEST(Conversion, QuarterTurnOfTallPageShiftedDownIsWhiteBeyondWorkRows)
{
    Page page(8, 40);
    for (int i = 0; i < 40; ++i)
        for (int j = 0; j < 8; ++j)
            page.Grey(j, i, 10);
    Result r;
    Convert(page, r, 0, 0, 20);
    ASSERT_EQ(r.rc, 1);
    EXPECT_EQ(r.rect.left, 0);
    EXPECT_EQ(r.rect.right, 7);
    EXPECT_EQ(r.rect.top, 20);
    EXPECT_EQ(r.rect.bottom, 27);
    for (unsigned k = 0; k < r.len; ++k)
        ASSERT_EQ(r.out[k], 255) << k;
}

TEST(Conversion, MaximumWidthKeepsTheCentre)
{
    Page page(32, 2);
    for (int j = 0; j < 32; ++j)
        page.Grey(j, 0, j);
    Result limited;
    Convert(page, limited, 3, 0, 0, kIdentity, 0, 0, 16);
    EXPECT_EQ(limited.rect.left, 0);
    EXPECT_EQ(limited.rect.right, 15);
    for (int x = 0; x < 16; ++x)
        EXPECT_EQ(limited.At(x, 0), x + 8);
    for (int maxWidth : {0, 32, 40, -1}) {
        Result whole;
        Convert(page, whole, 3, 0, 0, kIdentity, 0, 0, maxWidth);
        EXPECT_EQ(whole.rect.right, 31) << maxWidth;
        EXPECT_EQ(whole.At(31, 0), 31) << maxWidth;
    }
}

TEST(Conversion, CallerBuffer)
{
    Page page(16, 3);
    page.Grey(9, 1, 0);
    CBmpProcessing b;
    tagBITMAPINFOHEADER hd = page.Header();
    tagRECT rect{};
    unsigned char small[7];
    unsigned char *out = small;
    unsigned int len = sizeof small;
    EXPECT_EQ(b.CoverBMP2OutputFormat(page.px.data(), 0, &out, &len, &hd, &rect, 3, 0, 0,
                                      kIdentity, 0, 0, 0, 0),
              0);
    EXPECT_EQ(rect.left, 8);
    EXPECT_EQ(rect.right, 15);
    unsigned char big[20];
    std::memset(big, 77, sizeof big);
    out = big;
    len = sizeof big;
    EXPECT_EQ(b.CoverBMP2OutputFormat(page.px.data(), 0, &out, &len, &hd, &rect, 3, 0, 0,
                                      kIdentity, 0, 0, 0, 0),
              1);
    EXPECT_EQ(out, big);
    EXPECT_EQ(len, 20u);
    EXPECT_EQ(big[1], 0);
    EXPECT_EQ(big[0], 255);
    EXPECT_EQ(big[8], 77);  // beyond the 8-byte result: not cleared
}

TEST(Conversion, OtherDepthsAndShortBuffersAreSafe)
{
    Page page(16, 4, 24);
    page.Grey(1, 3, 0);
    for (int depth : {1, 4, 16, 32}) {
        CBmpProcessing b;
        tagBITMAPINFOHEADER hd = page.Header();
        hd.biBitCount = (uint16_t)depth;
        tagRECT rect{};
        unsigned char *out = nullptr;
        unsigned int len = 0;
        EXPECT_EQ(b.CoverBMP2OutputFormat(page.px.data(), (unsigned)page.px.size(), &out, &len,
                                          &hd, &rect, 3, 0, 0, kIdentity, 0, 0, 0, 0),
                  1);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(rect.right, 0);
    }
    // The buffer holds two of the four rows the header promises.
    std::vector<unsigned char> half(page.px.begin(), page.px.begin() + 2 * page.stride);
    half[0] = half[1] = half[2] = 0;
    CBmpProcessing b;
    tagBITMAPINFOHEADER hd = page.Header();
    tagRECT rect{};
    unsigned char *out = nullptr;
    unsigned int len = 0;
    EXPECT_EQ(b.CoverBMP2OutputFormat(half.data(), (unsigned)half.size(), &out, &len, &hd, &rect,
                                      3, 0, 0, kIdentity, 0, 0, 0, 0),
              1);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.bottom, 0);
    std::free(out);

    // Two rows and five pixels of the third.
    Page part(16, 4);
    part.Grey(4, 2, 0);
    part.Grey(12, 2, 0);
    part.Grey(1, 3, 0);
    std::vector<unsigned char> cut(part.px.begin(), part.px.begin() + 2 * part.stride + 15);
    hd = part.Header();
    out = nullptr;
    EXPECT_EQ(b.CoverBMP2OutputFormat(cut.data(), (unsigned)cut.size(), &out, &len, &hd, &rect,
                                      3, 0, 0, kIdentity, 0, 0, 0, 0),
              1);
    EXPECT_EQ(rect.top, 2);
    EXPECT_EQ(rect.bottom, 2);
    EXPECT_EQ(rect.right, 7);
    std::free(out);
}

// Straightforward model: the whole turned picture on a work image, then the
// rectangle cut from it.
struct Model {
    tagRECT rect{};
    std::vector<unsigned char> out;
    bool empty = true;
};

Model Reference(const Page &page, int code, int dx, int dy, int maxWidth)
{
    const long long W = page.w, H = page.h;
    const bool quarter = code == 0 || code == 2;
    long long L = quarter ? H : W;
    const long long R = quarter ? W : H;
    long long c = 0, limitW = W;
    if (maxWidth > 0 && L > maxWidth) {
        c = (L - maxWidth) >> 1;
        L = maxWidth;
        limitW = W < L ? W : L;
    }
    const long long T = (L + 3) / 4 * 4;
    std::vector<unsigned char> work((size_t)(R * T), 255);
    long long minX = -1, maxX = -1, minY = -1, maxY = -1;
    for (long long i = 0; i < H; ++i)
        for (long long j = 0; j < W; ++j) {
            const unsigned char *p = &page.px[(size_t)(i * page.stride + j * 3)];
            if (p[0] >= 250 && p[1] >= 250 && p[2] >= 250)
                continue;
            const int g = (11 * p[2] + 16 * p[1] + 5 * p[0]) >> 5;
            long long X, Y;
            switch (code) {
            case 0: X = i; Y = W - 1 - j; break;
            case 1: X = W - 1 - j; Y = H - 1 - i; break;
            case 2: X = H - 1 - i; Y = j; break;
            default: X = j; Y = i; break;
            }
            const long long x = X + dx - c, y = Y + dy;
            if (x >= 0 && x < limitW) {
                minX = minX < 0 || x < minX ? x : minX;
                maxX = x > maxX ? x : maxX;
            }
            if (y >= 0 && y < H) {
                minY = minY < 0 || y < minY ? y : minY;
                maxY = y > maxY ? y : maxY;
            }
            if (x >= 0 && x < L && y >= 0 && y < R)
                work[(size_t)(y * T + x)] = (unsigned char)g;
        }
    Model m;
    if (maxX < 0 || maxY < 0)
        return m;
    m.empty = false;
    const long long left = minX / 8 * 8;
    const long long w = (maxX - left + 1 + 7) / 8 * 8;
    m.rect = {(int)left, (int)minY, (int)(left + w - 1), (int)maxY};
    m.out.assign((size_t)((maxY - minY + 1) * w), 255);
    for (long long y = minY; y <= maxY; ++y)
        for (long long x = left; x < left + w; ++x)
            if (y < R && x < T)
                m.out[(size_t)((y - minY) * w + x - left)] = work[(size_t)(y * T + x)];
    return m;
}

TEST(Conversion, RandomPagesMatchModel)
{
    std::mt19937 rng(12345);
    for (int iter = 0; iter < 400; ++iter) {
        const int w = 1 + (int)(rng() % 70), h = 1 + (int)(rng() % 70);
        Page page(w, h);
        const int marks = (int)(rng() % 12);
        for (int k = 0; k < marks; ++k) {
            const int j0 = (int)(rng() % w), i0 = (int)(rng() % h);
            const int j1 = std::min(w, j0 + 1 + (int)(rng() % 20));
            const unsigned char g = (unsigned char)(rng() % 256);
            for (int j = j0; j < j1; ++j)
                page.Set(j, i0, g, (unsigned char)(g ^ 7), (unsigned char)(rng() % 256));
        }
        const int code = (int)(rng() % 5);
        const int dx = (int)(rng() % 61) - 30, dy = (int)(rng() % 61) - 30;
        const int maxWidth = rng() % 3 == 0 ? (int)(rng() % 80) : 0;
        Result r;
        Convert(page, r, code, dx, dy, kIdentity, 0, 0, maxWidth);
        const Model m = Reference(page, code, dx, dy, maxWidth);
        ASSERT_EQ(r.rc, 1);
        SCOPED_TRACE(testing::Message() << w << "x" << h << " code " << code << " d " << dx
                                        << "," << dy << " max " << maxWidth);
        if (m.empty) {
            ASSERT_EQ(r.len, 0u);
            ASSERT_EQ(r.out, nullptr);
            continue;
        }
        ASSERT_EQ(r.rect.left, m.rect.left);
        ASSERT_EQ(r.rect.top, m.rect.top);
        ASSERT_EQ(r.rect.right, m.rect.right);
        ASSERT_EQ(r.rect.bottom, m.rect.bottom);
        ASSERT_EQ(r.rect.left % 8, 0);
        ASSERT_GE(r.rect.left, 0);
        ASSERT_EQ(r.Width() % 8, 0);
        ASSERT_LT(r.rect.bottom, h);
        ASSERT_GE(r.rect.top, 0);
        if (maxWidth > 0) {
            ASSERT_LE(r.rect.left, maxWidth - 1);
        }
        ASSERT_EQ(r.len, m.out.size());
        ASSERT_EQ(0, std::memcmp(r.out, m.out.data(), r.len));
    }
}

}  // namespace
