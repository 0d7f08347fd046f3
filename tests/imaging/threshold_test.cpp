#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "imaging/BmpProcessing.h"

namespace {

using Image = std::vector<unsigned char>;

// Every criterion evaluated term by term at every candidate, as defined.
int DirectThreshold(int method, const Image &img, int width, int height)
{
    double h[256] = {0};
    for (int k = 0; k < width * height; ++k)
        h[img[k]] += 1.0;
    int lo = 255, hi = 0;
    for (int i = 0; i <= 254; ++i)
        if (h[i] != 0) {
            lo = i;
            break;
        }
    for (int i = 255; i >= 1; --i)
        if (h[i] != 0) {
            hi = i;
            break;
        }
    if (lo == hi)
        return lo == 0 ? 0 : lo - 1;
    double n = 0, s1 = 0, s2 = 0;
    for (int i = lo; i <= hi; ++i) {
        n += h[i];
        s1 += i * h[i];
        s2 += (double)i * i * h[i];
    }
    int ca = -1, cb = -1, ce = -1, cd = -1;
    double ba = 0, bb = 0, be = 0, bd = 0;
    double w0 = 0, m0 = 0, q0 = 0;
    for (int k = lo; k < hi; ++k) {
        w0 += h[k];
        m0 += k * h[k];
        q0 += (double)k * k * h[k];
        const double w1 = n - w0;
        const double v0 = q0 / w0 - (m0 / w0) * (m0 / w0);
        const double v1 = (s2 - q0) / w1 - ((s1 - m0) / w1) * ((s1 - m0) / w1);
        const double a = -(w0 * v0 + w1 * v1);
        if (ca < 0 || a > ba) {
            ba = a;
            ca = k;
        }
        if (v0 > 0 && v1 > 0) {
            const double b = w0 * std::log(w0 / std::sqrt(v0)) + w1 * std::log(w1 / std::sqrt(v1));
            if (cb < 0 || b > bb) {
                bb = b;
                cb = k;
            }
        }
        double e0 = 0, e1 = 0;
        for (int i = lo; i <= k; ++i)
            if (h[i] != 0) {
                const double p = h[i] / w0;
                e0 += p * std::log(p);
            }
        for (int i = k + 1; i <= hi; ++i)
            if (h[i] != 0) {
                const double q = h[i] / w1;
                e1 += q * std::log(q);
            }
        const double e = -e0 - e1;
        if (ce < 0 || e > be) {
            be = e;
            ce = k;
        }
        double below = 0, above = 0;
        for (int i = lo; i <= k; ++i)
            below += (double)(k - i) * (k - i) * h[i];
        for (int i = k + 1; i <= hi; ++i)
            above += (double)(i - k) * (i - k) * h[i];
        const double d = below + above > 0 ? -std::fabs((below - above) / (below + above)) : 0;
        if (cd < 0 || d > bd) {
            bd = d;
            cd = k;
        }
    }
    int sel;
    switch (method) {
    case 1: sel = ca; break;
    case 2: sel = cb; break;
    case 3: sel = ce; break;
    case 4: sel = cd; break;
    default: {
        int sum = 0, cnt = 0;
        for (int v : {ca, cb, ce, cd})
            if (v >= 0) {
                sum += v;
                ++cnt;
            }
        sel = cnt ? sum / cnt : (lo + hi) / 2;
    }
    }
    return sel <= lo || sel >= hi ? (lo + hi) / 2 : sel;
}

Image TwoValues(int a, int b, int each)
{
    Image img;
    for (int k = 0; k < each; ++k) {
        img.push_back((unsigned char)a);
        img.push_back((unsigned char)b);
    }
    return img;
}

TEST(OptimalThreshold, WorkedHistograms)
{
    struct Case {
        const char *name;
        Image img;
        int expect[5];  // methods 0 to 4
    };
    const Case cases[] = {
        {"one grey", Image(64, 100), {99, 99, 99, 99, 99}},
        {"all black", Image(64, 0), {0, 0, 0, 0, 0}},
        {"all white", Image(64, 255), {254, 254, 254, 254, 254}},
        {"0 and 255", TwoValues(0, 255, 32), {42, 127, 127, 127, 127}},
        {"30 and 200", TwoValues(30, 200, 32), {58, 115, 115, 115, 115}},
    };
    for (const Case &c : cases)
        for (int method = 0; method <= 4; ++method)
            EXPECT_EQ(OptimalThreshold(method, c.img.data(), 8, 8, 8, nullptr), c.expect[method])
                << c.name << " method " << method;
    const Image &mixed = cases[4].img;
    EXPECT_EQ(OptimalThreshold(-3, mixed.data(), 8, 8, 8, nullptr), 58);
    EXPECT_EQ(OptimalThreshold(7, mixed.data(), 8, 8, 8, nullptr), 58);
}

TEST(OptimalThreshold, RegionRowsRunFromBottomToTop)
{
    // Rows 0-3 hold 40, rows 4-7 hold 90; columns 6-7 of every row hold 200.
    Image img(64);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            img[y * 8 + x] = (unsigned char)(x >= 6 ? 200 : (y < 4 ? 40 : 90));
    struct Case {
        tagRECT r;
        int expect;
    };
    for (const Case &c : {Case{{0, 4, 6, 0}, 39}, Case{{0, 8, 6, 4}, 89},
                          Case{{-5, 100, 6, 4}, 89}, Case{{6, 3, 100, 1}, 199},
                          Case{{0, 0, 6, 4}, -1}, Case{{6, 8, 6, 0}, -1},
                          Case{{0, 20, 8, 8}, -1}}) {
        tagRECT r = c.r;
        EXPECT_EQ(OptimalThreshold(1, img.data(), 8, 8, 8, &r), c.expect)
            << r.left << "," << r.top << "," << r.right << "," << r.bottom;
    }
    EXPECT_EQ(OptimalThreshold(1, nullptr, 8, 8, 8, nullptr), -1);
    EXPECT_EQ(OptimalThreshold(1, img.data(), 0, 8, 8, nullptr), -1);
}

// The skipped counters and candidates and the integer moment sums must
// choose exactly what the direct formulation chooses.
TEST(OptimalThreshold, SameChoiceAsDirectFormulation)
{
    std::mt19937 rng(2024);
    const int w = 64, h = 64;
    for (int iter = 0; iter < 250; ++iter) {
        Image img(w * h);
        const int kind = iter % 5;
        const int levels = 2 + (int)(rng() % 60);
        std::vector<int> palette(levels);
        for (int &v : palette)
            v = (int)(rng() % 256);
        for (int k = 0; k < w * h; ++k) {
            const int x = k % w, y = k / w;
            switch (kind) {
            case 0: img[k] = (unsigned char)(rng() % 256); break;
            case 1: img[k] = (unsigned char)palette[rng() % levels]; break;
            case 2: img[k] = (unsigned char)((x * 4 + y * 2 + (int)(rng() % 9)) % 256); break;
            case 3:  // text-like: white paper, black strokes, a few edge greys
                img[k] = (unsigned char)(((x / 3 + y / 5) % 4 == 0) ? (rng() % 6 == 0 ? 128 : 0)
                                                                      : 255);
                break;
            default: {  // photo-like: smooth gradient with noise
                const double g = 128 + 100 * std::sin(x * 0.07 + iter) * std::cos(y * 0.05);
                img[k] = (unsigned char)std::min(255.0, std::max(0.0, g + (double)(rng() % 15)));
            }
            }
        }
        for (int method = 0; method <= 4; ++method)
            ASSERT_EQ(OptimalThreshold(method, img.data(), w, h, w, nullptr),
                      DirectThreshold(method, img, w, h))
                << "iteration " << iter << " method " << method;
    }
}

TEST(Resample, Bilinear)
{
    const unsigned char src[2] = {0, 100};
    unsigned char *dst = nullptr;
    ASSERT_EQ(Resample(src, 2, 1, 4, 5, 1, &dst), 1);
    // sx = 0.4: 0, 40, 80, then the last column keeps 100.
    EXPECT_EQ(dst[0], 0);
    EXPECT_EQ(dst[1], 40);
    EXPECT_EQ(dst[2], 80);
    EXPECT_EQ(dst[3], 100);
    EXPECT_EQ(dst[4], 100);
    for (int k = 5; k < 8; ++k)
        EXPECT_EQ(dst[k], 0);  // row filler
    std::free(dst);

    const unsigned char grid[8] = {0, 200, 0, 0, 100, 100, 0, 0};  // stride 4
    ASSERT_EQ(Resample(grid, 2, 2, 4, 4, 4, &dst), 1);
    EXPECT_EQ(dst[0], 0);
    EXPECT_EQ(dst[1], 100);
    EXPECT_EQ(dst[4 * 1 + 0], 50);
    EXPECT_EQ(dst[4 * 1 + 1], 100);  // a = 50, b = 150
    EXPECT_EQ(dst[4 * 3 + 3], 100);
    std::free(dst);

    unsigned char *keep = reinterpret_cast<unsigned char *>(&dst);
    dst = keep;
    EXPECT_EQ(Resample(grid, 2, 2, 4, 2, 2, &dst), 1);
    EXPECT_EQ(dst, keep);
    EXPECT_EQ(Resample(grid, 2, 2, 4, 0, 2, &dst), 0);
    EXPECT_EQ(Resample(grid, 2, 2, 4, 3, 0, &dst), 0);
}

struct Adaptive {
    bool ok = false;
    unsigned char *out = nullptr;
    int len = 0;
    ~Adaptive() { std::free(out); }
};

void RunAdaptive(Adaptive &a, const Image &img, int w, int h, int stride, int negative,
                 int method, int block, int offset, float weight)
{
    a.ok = AdaptiveThreshold(img.data(), w, h, stride, &a.out, &a.len, negative, method, block,
                             offset, weight);
}

TEST(AdaptiveThreshold, ShapesAndFiller)
{
    Image img(100 * 70, 255);
    for (int k = 0; k < 100 * 70; k += 7)
        img[k] = 0;
    Adaptive a;
    RunAdaptive(a, img, 100, 70, 100, 0, 0, 64, 0, 0.5f);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.len, 7000);

    Image narrow(10 * 3, 0);
    Adaptive b;
    RunAdaptive(b, narrow, 10, 3, 10, 0, 0, 64, 0, 0.5f);
    ASSERT_TRUE(b.ok);
    ASSERT_EQ(b.len, 36);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(b.out[y * 12 + x], 255);  // 0 >= threshold 0
        EXPECT_EQ(b.out[y * 12 + 10], 0);
        EXPECT_EQ(b.out[y * 12 + 11], 0);
    }
    Adaptive c;
    RunAdaptive(c, narrow, 0, 3, 10, 0, 0, 64, 0, 0.5f);
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.out, nullptr);
    EXPECT_FALSE(AdaptiveThreshold(nullptr, 10, 3, 10, &c.out, &c.len, 0, 0, 64, 0, 0.5f));
}

TEST(AdaptiveThreshold, WeightOffsetNegativeAndBlockSize)
{
    // Left block 181, right block 101 (block 8): block thresholds 180 and
    // 100, global 114 (method 0).
    const int w = 16, h = 8;
    Image img(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img[y * w + x] = (unsigned char)(x < 8 ? 181 : 101);
    struct Case {
        float weight;
        int offset, negative;
        int left, right;  // output at (0, 0) and at (15, 7)
    };
    for (const Case &c : {Case{0.0f, 0, 0, 255, 255}, Case{1.0f, 0, 0, 255, 0},
                          Case{1.5f, 0, 0, 255, 0}, Case{-1.0f, 0, 0, 255, 255},
                          Case{0.0f, 1, 0, 255, 255}, Case{0.0f, 2, 0, 0, 0},
                          Case{0.0f, 1, 1, 0, 0}, Case{0.5f, 0, 0, 255, 0},
                          Case{0.0f, -500, 0, 255, 255}, Case{0.0f, 500, 1, 255, 255}}) {
        Adaptive a;
        RunAdaptive(a, img, w, h, w, c.negative, 0, 8, c.offset, c.weight);
        ASSERT_TRUE(a.ok);
        EXPECT_EQ(a.out[0], c.left) << c.weight << " " << c.offset << " " << c.negative;
        EXPECT_EQ(a.out[7 * w + 15], c.right) << c.weight << " " << c.offset << " " << c.negative;
    }
    // Block size 4 is used as 8: one block of 50 and 200 thresholds at 125.
    Image halves(64);
    for (int k = 0; k < 64; ++k)
        halves[k] = (unsigned char)(k % 8 < 4 ? 50 : 200);
    Adaptive b;
    RunAdaptive(b, halves, 8, 8, 8, 0, 1, 4, 0, 0.0f);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(b.out[0], 0);
    EXPECT_EQ(b.out[4], 255);
}

TEST(AdaptiveThreshold, HugeBlockSizeStaysBounded)
{
    Image img(30 * 20);
    for (size_t k = 0; k < img.size(); ++k)
        img[k] = (unsigned char)(k * 37 % 256);
    for (int block : {1 << 20, 2147483647}) {
        Adaptive a;
        RunAdaptive(a, img, 30, 20, 30, 0, 0, block, 0, 0.5f);
        ASSERT_TRUE(a.ok);
        EXPECT_EQ(a.len, 32 * 20);
    }
}

TEST(AdaptiveThreshold, RandomImagesMatchThePlainComposition)
{
    std::mt19937 rng(5);
    for (int iter = 0; iter < 40; ++iter) {
        const int w = 1 + (int)(rng() % 90), h = 1 + (int)(rng() % 90);
        const int stride = w + (int)(rng() % 4);
        Image img((size_t)stride * h);
        for (auto &v : img)
            v = (unsigned char)(rng() % 256);
        const int block = (int)(rng() % 40), method = (int)(rng() % 6);
        const int offset = (int)(rng() % 21) - 10;
        Adaptive pos, neg;
        RunAdaptive(pos, img, w, h, stride, 0, method, block, offset, 0.3f);
        RunAdaptive(neg, img, w, h, stride, 1, method, block, offset, 0.3f);
        ASSERT_TRUE(pos.ok);
        ASSERT_TRUE(neg.ok);
        // The threshold map made the plain way: block grid, then Resample.
        const int b = std::max(8, block), gw = (w + b - 1) / b, gh = (h + b - 1) / b;
        const int gs = (gw + 3) / 4 * 4;
        const int global = OptimalThreshold(method, img.data(), w, h, stride, nullptr);
        Image grid((size_t)gs * gh, 0);
        for (int by = 0; by < gh; ++by)
            for (int bx = 0; bx < gw; ++bx) {
                tagRECT r = {bx * b, (by + 1) * b, (bx + 1) * b, by * b};
                const int t = OptimalThreshold(method, img.data(), w, h, stride, &r);
                const float v = (float)t * (1.0f - 0.3f) + (float)global * 0.3f + (float)offset;
                grid[by * gs + bx] = (unsigned char)(v > 255 ? 255 : (v < 0 ? 0 : (int)v));
            }
        unsigned char *map = nullptr;
        ASSERT_EQ(Resample(grid.data(), gw, gh, gs, gw * b, gh * b, &map), 1);
        const int ms = (gw * b + 3) / 4 * 4;
        const int os = (w + 3) / 4 * 4;
        ASSERT_EQ(pos.len, os * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < os; ++x) {
                const unsigned char v = pos.out[y * os + x];
                if (x >= w) {
                    ASSERT_EQ(v, 0);
                    ASSERT_EQ(neg.out[y * os + x], 0);
                } else {
                    ASSERT_EQ(v, img[y * stride + x] >= map[y * ms + x] ? 255 : 0) << x << "," << y;
                    ASSERT_EQ(neg.out[y * os + x], 255 - v);
                }
            }
        std::free(map);
    }
}

}  // namespace
