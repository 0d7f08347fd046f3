// Conversion, halftoning, adaptive threshold and dashing against golden
// files: every table entry and diffusion weight shows in them.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "imaging/BmpProcessing.h"
#include "tests/support/Support.h"

namespace {

using Image = std::vector<unsigned char>;

// '#' black (0), '.' white (255), ' ' a byte the operation left alone (77),
// otherwise the value in hex.
std::string Art(const unsigned char *img, int w, int h, int stride) {
    std::string s;
    for (int y = 0; y < h; ++y, s += '\n') {
        for (int x = 0; x < w; ++x) {
            unsigned char v = img[y * stride + x];
            char hex[4];
            snprintf(hex, sizeof(hex), "%02x", v);
            s += v == 0 ? "#" : v == 255 ? "." : v == 77 ? " " : std::string("(") + hex + ")";
        }
    }
    return s;
}

// A w x h grey image, row after row, with the value f(x, y) at each pixel.
template <typename F> Image Pattern(int w, int h, F f) {
    Image img((size_t)w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img[(size_t)y * w + x] = (unsigned char)f(x, y);
    return img;
}

std::string Numbers(const std::vector<int> &v, size_t perLine) {
    std::string s;
    for (size_t i = 0; i < v.size(); ++i)
        s += std::to_string(v[i]) + ((i + 1) % perLine == 0 || i + 1 == v.size() ? "\n" : " ");
    return s;
}

TEST(Imaging, OrderedDithersAndScreens) {
    // Per position of the method's period, how many of the 256 grey values
    // print light: every threshold entry shows.
    std::string text;
    for (auto [method, px, py] :
         {std::array{1, 1, 1}, {3, 8, 8}, {5, 16, 16}, {7, 15, 15}, {8, 4, 4}, {9, 16, 16}}) {
        for (int negative : {0, 1}) {
            const int w = px * 256, h = py;
            Image src = Pattern(w, h, [px = px](int x, int) { return x / px; });
            Image dst(src.size(), 77);
            CBmpProcessing b;
            EXPECT_EQ(b.Dither(method, src.data(), dst.data(), h, w, w, 0, negative), 1);
            std::vector<int> light((size_t)px * py, 0);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    light[(size_t)y * px + x % px] +=
                        dst[(size_t)y * w + x] == (negative ? 0 : 255);
            text += "=== method " + std::to_string(method) + (negative ? ", negative" : "") +
                    ": light values per position (rows y, columns x)\n" + Numbers(light, px);
        }
    }
    rvt::ExpectGolden("dither-thresholds.txt", text);
}

TEST(Imaging, ErrorDiffusionAndUnknownMethods) {
    const int w = 48, h = 14;
    const Image grad =
        Pattern(w, h, [](int x, int y) { return x * 255 / (w - 1) * (h - y) / h + 20 * (y % 3); });
    // Mid grey to the edges too, so that the error each edge column takes matters.
    const Image mid = Pattern(w, h, [](int x, int y) { return 120 + (x * 7 + y * 3) % 16; });
    const char *kinds[] = {"", ", negative", ", mid grey"};
    std::string text;
    for (int method : {2, 6, 0, 4, 10}) {
        for (int negative : {0, 1, 2}) {
            Image src = negative < 2 ? grad : mid, dst(src.size(), 77);
            CBmpProcessing b;
            b.Dither(method, src.data(), dst.data(), h, w, w, 0, negative & 1);
            text += "=== method " + std::to_string(method) + kinds[negative] + "\n" +
                    Art(dst.data(), w, h, w);
        }
    }
    // Stucki writes nothing with two rows or fewer.
    Image two(2 * 8, 0), dst(two.size(), 77);
    CBmpProcessing().Dither(6, two.data(), dst.data(), 2, 8, 8, 0, 0);
    text += "=== method 6, two rows\n" + Art(dst.data(), 8, 2, 8);
    rvt::ExpectGolden("error-diffusion.txt", text);
}

// The 20 x 12 colour page of conversion-page.txt (0xRRGGBB per pixel): pure
// channels, a grey ramp, a black frame corner, near-white pixels (every
// channel 250 or more is dropped, 249 is not) and a pixel whose middle byte
// alone is dark, so that every step of the conversion shows.
Image PageOf(int depth) {
    std::ifstream in(rvt::SourceDir() + "/tests/data/conversion-page.txt");
    Image px((size_t)depth / 8 * 20 * 12);
    unsigned c;
    for (size_t i = 0; i < 240 && in >> std::hex >> c; ++i) {
        if (depth == 24)
            px[3 * i] = (unsigned char)c, px[3 * i + 1] = (unsigned char)(c >> 8),
                   px[3 * i + 2] = (unsigned char)(c >> 16);
        else
            px[i] = (unsigned char)(((c >> 16) * 11 + (c >> 8 & 255) * 16 + (c & 255) * 5) / 32);
    }
    return px;
}

TEST(Imaging, Conversion) {
    std::string text;
    for (const std::string &line : rvt::CaseLines("conversion-cases.txt")) {
        struct {
            int orientation, dx, dy, mirror, brightness, contrast, maxWidth, depth;
            COLORLEVELSITEM levels;
        } c;
        sscanf(line.c_str(), "%d %d %d %d %d %d %d %f %hhu %hhu %hhu %hhu %d", &c.orientation,
               &c.dx, &c.dy, &c.mirror, &c.brightness, &c.contrast, &c.maxWidth, &c.levels.fGamma,
               &c.levels.byInLow, &c.levels.byInHigh, &c.levels.byOutLow, &c.levels.byOutHigh,
               &c.depth);
        Image px = PageOf(c.depth);
        tagBITMAPINFOHEADER hd{40, 20, 12, 1, (uint16_t)c.depth};
        tagRECT rect = {0, 0, 19, 11};
        unsigned char *out = nullptr;
        unsigned len = 0;
        CBmpProcessing b;
        int rc = b.CoverBMP2OutputFormat(px.data(), (unsigned)px.size(), &out, &len, &hd, &rect,
                                         c.orientation, c.dx, c.dy, c.levels, c.mirror,
                                         c.brightness, c.contrast, c.maxWidth);
        char head[200];
        snprintf(
            head, sizeof(head),
            "=== %s: result %d, rect %d,%d,%d,%d, header %dx%d %d bits, %u bytes, ready %d%d%d%d\n",
            line.c_str(), rc, rect.left, rect.top, rect.right, rect.bottom, hd.biWidth, hd.biHeight,
            hd.biBitCount, len, b.m_LevelsTableReady[0], b.m_LevelsTableReady[1],
            b.m_LevelsTableReady[2], b.m_LevelsTableReady[3]);
        text += head;
        const int w = rect.right - rect.left + 1;
        if (out)
            text += Art(out, w, (int)len / w, w);
        if (c.brightness != 0) {
            text +=
                "brightness/contrast table:\n" +
                Numbers(std::vector<int>(b.m_BrightContrastTable, b.m_BrightContrastTable + 256),
                        16);
        }
        free(out);
    }
    // Ink in one row only, the first or the last: a one-row image, not none.
    for (int row : {0, 3}) {
        Image px(8 * 4, 255);
        px[(size_t)row * 8 + 2] = px[(size_t)row * 8 + 5] = 0;
        tagBITMAPINFOHEADER hd{40, 8, 4, 1, 8};
        tagRECT rect = {0, 0, 7, 3};
        unsigned char *out = nullptr;
        unsigned len = 0;
        CBmpProcessing().CoverBMP2OutputFormat(px.data(), (unsigned)px.size(), &out, &len, &hd,
                                               &rect, 3, 0, 0, {1, 0, 255, 0, 255}, 0, 0, 0, 0);
        text += "=== ink in row " + std::to_string(row) + " of 4: rect " +
                std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
                std::to_string(rect.right) + "," + std::to_string(rect.bottom) + ", " +
                std::to_string(len) + " bytes\n";
        free(out);
    }
    rvt::ExpectGolden("conversion.txt", text);
}

TEST(Imaging, AdaptiveThresholdAndItsParts) {
    const int w = 40, h = 16;
    const Image img = Pattern(w, h, [](int x, int y) {
        return (x < 20 ? 60 + 6 * x : 230 - 3 * y) ^ ((x + y) % 7 == 0 ? 90 : 0);
    });
    std::string text;
    const int cases[][5] = {// negative, method, block, offset, weight in tenths
                            {0, 0, 64, 0, 5},        {1, 0, 64, 0, 5},   {0, 1, 8, 0, 0},
                            {0, 2, 8, 5, 10},        {0, 3, 16, -5, 15}, {0, 4, 4, 0, -10},
                            {0, 0, 2147483647, 0, 5}};
    for (auto [negative, method, block, offset, weight] : cases) {
        unsigned char *out = nullptr;
        int len = 0;
        bool ok = AdaptiveThreshold(img.data(), w, h, w, &out, &len, negative, method, block,
                                    offset, weight / 10.0f);
        char head[160];
        snprintf(head, sizeof(head),
                 "=== adaptive: negative %d, method %d, block %d, offset %d, weight %.1f: %d, %d "
                 "bytes\n",
                 negative, method, block, offset, weight / 10.0, ok, len);
        text += head;
        if (out)
            text += Art(out, len / h, h, len / h);
        free(out);
    }
    unsigned char *none = nullptr;
    int noneLen = 0;
    EXPECT_FALSE(AdaptiveThreshold(img.data(), 0, h, w, &none, &noneLen, 0, 0, 64, 0, 0.5f));
    EXPECT_FALSE(AdaptiveThreshold(nullptr, w, h, w, &none, &noneLen, 0, 0, 64, 0, 0.5f));
    EXPECT_EQ(none, nullptr);
    // An all-black image has the global threshold 0: a threshold, not a failure.
    Image black(64, 0);
    EXPECT_TRUE(AdaptiveThreshold(black.data(), 8, 8, 8, &none, &noneLen, 0, 0, 64, 0, 0.5f));
    free(none);

    std::vector<int> thresholds;
    tagRECT region = {4, 2, 30, 9};
    for (int method = -1; method <= 5; ++method) {
        thresholds.push_back(OptimalThreshold(method, img.data(), w, h, w, nullptr));
        thresholds.push_back(OptimalThreshold(method, img.data(), w, h, w, &region));
    }
    // A histogram whose entropy split depends on its first level's term.
    Image four;
    for (auto [value, count] : {std::pair{56, 5}, {94, 11}, {148, 11}, {176, 17}})
        four.insert(four.end(), count, (unsigned char)value);
    for (int method = 0; method <= 4; ++method)
        thresholds.push_back(OptimalThreshold(method, four.data(), 11, 4, 11, nullptr));
    for (int v : {0, 100, 255}) {
        Image flat(64, (unsigned char)v);
        thresholds.push_back(OptimalThreshold(0, flat.data(), 8, 8, 8, nullptr));
    }
    thresholds.push_back(OptimalThreshold(0, nullptr, 8, 8, 8, nullptr));
    text += "=== optimal thresholds, methods -1..5 (whole, region); four levels, methods 0..4; "
            "flat 0, 100, 255; no image\n" +
            Numbers(thresholds, 2);
    unsigned char *big = nullptr;
    const unsigned char small[] = {0, 100, 200, 50, 150, 250};
    EXPECT_EQ(Resample(small, 3, 2, 3, 7, 5, &big), 1);
    text += "=== resampled 3x2 to 7x5\n" + Art(big, 7, 5, 7);
    free(big);
    // The same size is nothing to do; a single column widens.
    EXPECT_EQ(Resample(small, 3, 2, 3, 3, 2, &big), 1);
    ASSERT_EQ(Resample(small, 1, 2, 3, 4, 2, &big), 1);
    text += "=== first column resampled to 4x2\n" + Art(big, 4, 2, 4);
    free(big);
    rvt::ExpectGolden("adaptive-threshold.txt", text);
}

TEST(Imaging, Dashing) {
    const int w = 240, h = 5, stride = 244;
    Image img((size_t)stride * h, 255);
    auto line = [&](int y, int from, int to) {
        for (int x = from; x <= to; ++x)
            img[(size_t)y * stride + x] = 0;
    };
    line(0, 0, 239); // from the edge to the edge
    line(1, 10, 89); // 80 dots: 10 mm at 203 dpi
    line(2, 10, 84); // 75 dots: shorter than 10 mm
    line(3, 1, 200);
    img[3 * stride + 100] = 128; // not black: splits the line
    line(4, 5, 230);
    std::string text;
    const short cases[][3] = {{203, 24, 8}, {203, 4, 2},  {300, 30, 10}, {203, 0, 0},
                              {0, 24, 8},   {203, -1, 8}, {203, 8, -1}}; // dpi, black, white
    for (auto [dpi, black, white] : cases) {
        Image copy = img;
        CBmpProcessing().DashSolidLines(copy.data(), w, h, stride, 10, dpi, black, white, 8);
        text += "=== dashes: " + std::to_string(dpi) + " dpi, black " + std::to_string(black) +
                ", white " + std::to_string(white) + "\n" + Art(copy.data(), w, h, stride);
    }
    for (unsigned length : {100u, 33u, 32u, 10u}) {
        Image run(length, 0);
        EXPECT_EQ(CBmpProcessing().ResetBlackLineData(run.data(), length, 24, 8, 8), 1);
        text += "=== one run of " + std::to_string(length) + "\n" +
                Art(run.data(), (int)length, 1, (int)length);
    }
    EXPECT_EQ(CBmpProcessing().ResetBlackLineData(nullptr, 10, 24, 8, 8), 0);
    // No period at all leaves the run solid (and ends).
    Image run(40, 0);
    EXPECT_EQ(CBmpProcessing().ResetBlackLineData(run.data(), 40, 0, 0, 8), 1);
    EXPECT_EQ(run, Image(40, 0));
    rvt::ExpectGolden("dashing.txt", text);
}

} // namespace
