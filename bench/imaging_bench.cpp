// Label pages of 4 x 6 in at 203 and 300 dpi: the grey conversion, each
// halftoning method, the adaptive threshold and the dashing pass. Time is per
// page; s_per_px is the time per pixel of the page.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "imaging/BmpProcessing.h"

namespace {

struct Page {
    int w = 0, h = 0, stride = 0;
    std::vector<unsigned char> bgr;
    double coverage = 0; // share of pixels that are not paper white
};

void Fill(Page &p, int x0, int y0, int x1, int y1, unsigned char g) {
    for (int y = std::max(0, y0); y < std::min(p.h, y1); ++y)
        for (int x = std::max(0, x0); x < std::min(p.w, x1); ++x) {
            unsigned char *q = &p.bgr[(size_t)y * p.stride + (size_t)x * 3];
            q[0] = q[1] = q[2] = g;
        }
}

// Lines of text-like glyphs (strokes with grey edges), a barcode and a frame.
Page TextPage(int dpi) {
    Page p;
    p.w = 4 * dpi;
    p.h = 6 * dpi;
    p.stride = ((24 * p.w + 31) / 32) * 4;
    p.bgr.assign((size_t)p.stride * p.h, 255);
    std::mt19937 rng(42);
    const int s = dpi / 203 > 0 ? dpi : 203;
    const int cw = 18 * s / 203, chh = 26 * s / 203, stroke = 4 * s / 203;
    // Text block: upper half of the label.
    for (int line = 0; line < 12; ++line) {
        const int y = 40 * s / 203 + line * (chh + 12 * s / 203);
        for (int x = 30 * s / 203; x + cw < p.w - 30; x += cw + 4 * s / 203) {
            if (rng() % 9 == 0)
                continue; // word gap
            const unsigned shape = rng();
            if (shape & 1)
                Fill(p, x, y, x + stroke, y + chh, 0);
            if (shape & 2)
                Fill(p, x + cw - stroke, y, x + cw, y + chh, 0);
            if (shape & 4)
                Fill(p, x, y, x + cw, y + stroke, 0);
            if (shape & 8)
                Fill(p, x, y + chh / 2, x + cw, y + chh / 2 + stroke, 0);
            if (shape & 16)
                Fill(p, x, y + chh - stroke, x + cw, y + chh, 0);
            Fill(p, x + stroke, y + chh, x + cw, y + chh + 1, 160); // anti-aliased edge
        }
    }
    // Barcode: lower part.
    const int by0 = p.h * 60 / 100, by1 = p.h * 77 / 100;
    for (int x = 40 * s / 203; x < p.w - 40 * s / 203;) {
        const int bar = (1 + (int)(rng() % 4)) * 2 * s / 203;
        const int gap = (1 + (int)(rng() % 4)) * 2 * s / 203;
        Fill(p, x, by0, x + bar, by1, 0);
        x += bar + gap;
    }
    // Frame and a separator rule: long solid lines for the dashing pass.
    Fill(p, 10, 10, p.w - 10, 16, 0);
    Fill(p, 10, p.h - 16, p.w - 10, p.h - 10, 0);
    Fill(p, 10, p.h / 2, p.w - 10, p.h / 2 + 5, 0);
    size_t ink = 0;
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x)
            ink += p.bgr[(size_t)y * p.stride + (size_t)x * 3] < 250;
    p.coverage = (double)ink / ((double)p.w * p.h);
    return p;
}

// A photograph-like page: smooth tones over the whole label with noise.
Page PhotoPage(int dpi) {
    Page p;
    p.w = 4 * dpi;
    p.h = 6 * dpi;
    p.stride = ((24 * p.w + 31) / 32) * 4;
    p.bgr.assign((size_t)p.stride * p.h, 255);
    std::mt19937 rng(7);
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x) {
            const double g = 120 + 90 * std::sin(x * 6.0 / p.w) * std::cos(y * 5.0 / p.h) +
                             30 * std::sin((x + y) * 0.02) + (double)(rng() % 21) - 10;
            const unsigned char v = (unsigned char)std::min(245.0, std::max(0.0, g));
            unsigned char *q = &p.bgr[(size_t)y * p.stride + (size_t)x * 3];
            q[0] = q[1] = q[2] = v;
        }
    p.coverage = 1.0;
    return p;
}

struct Grey {
    std::vector<unsigned char> px;
    int w = 0, h = 0;
};

Grey Convert(const Page &p) {
    CBmpProcessing b;
    tagBITMAPINFOHEADER hd{};
    hd.biSize = 40;
    hd.biWidth = p.w;
    hd.biHeight = p.h;
    hd.biBitCount = 24;
    tagRECT rect = {0, 0, p.w - 1, p.h - 1};
    unsigned char *out = nullptr;
    unsigned int len = 0;
    std::vector<unsigned char> src = p.bgr;
    b.CoverBMP2OutputFormat(src.data(), (unsigned)src.size(), &out, &len, &hd, &rect, 3, 0, 0,
                            {1.0f, 0, 255, 0, 255}, 0, 0, 0, 0);
    Grey g;
    g.w = rect.right - rect.left + 1;
    g.h = rect.bottom - rect.top + 1;
    g.px.assign(out, out + len);
    std::free(out);
    return g;
}

const Page &Text(int dpi) {
    static const Page p203 = TextPage(203), p300 = TextPage(300);
    return dpi == 300 ? p300 : p203;
}
const Page &Photo(int dpi) {
    static const Page p203 = PhotoPage(203), p300 = PhotoPage(300);
    return dpi == 300 ? p300 : p203;
}
const Page &PageOf(int kind, int dpi) {
    return kind == 0 ? Text(dpi) : Photo(dpi);
}
const Grey &GreyOf(int kind, int dpi) {
    static const Grey g[2][2] = {{Convert(Text(203)), Convert(Text(300))},
                                 {Convert(Photo(203)), Convert(Photo(300))}};
    return g[kind][dpi == 300];
}

void PerPage(benchmark::State &state, double pixels) {
    state.counters["s_per_px"] = benchmark::Counter(
        pixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// args: page kind (0 text and barcode, 1 photo), dpi
void BM_Conversion(benchmark::State &state) {
    const Page &p = PageOf((int)state.range(0), (int)state.range(1));
    std::vector<unsigned char> src = p.bgr;
    for (auto _ : state) {
        CBmpProcessing b;
        tagBITMAPINFOHEADER hd{};
        hd.biWidth = p.w;
        hd.biHeight = p.h;
        hd.biBitCount = 24;
        tagRECT rect = {0, 0, p.w - 1, p.h - 1};
        unsigned char *out = nullptr;
        unsigned int len = 0;
        b.CoverBMP2OutputFormat(src.data(), (unsigned)src.size(), &out, &len, &hd, &rect, 3, 0, 0,
                                {1.0f, 0, 255, 0, 255}, 0, 0, 0, 0);
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
    state.counters["coverage"] = p.coverage;
    PerPage(state, (double)p.w * p.h);
}

// args: method, page kind, dpi
void BM_Dither(benchmark::State &state) {
    const int method = (int)state.range(0);
    const Grey &g = GreyOf((int)state.range(1), (int)state.range(2));
    std::vector<unsigned char> src = g.px, dst(g.px.size(), 255);
    CBmpProcessing b;
    for (auto _ : state) {
        if (method == 2) { // works on its source: start from the page each time
            state.PauseTiming();
            src = g.px;
            state.ResumeTiming();
        }
        b.Dither(method, src.data(), dst.data(), (unsigned)g.h, (unsigned)g.w, (unsigned)g.w, 0, 0);
        benchmark::DoNotOptimize(dst.data());
    }
    PerPage(state, (double)g.w * g.h);
}

// args: page kind, dpi
void BM_AdaptiveThreshold(benchmark::State &state) {
    const Grey &g = GreyOf((int)state.range(0), (int)state.range(1));
    for (auto _ : state) {
        unsigned char *out = nullptr;
        int len = 0;
        AdaptiveThreshold(g.px.data(), g.w, g.h, g.w, &out, &len, 0, 0, 64, 0, 0.5f);
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
    PerPage(state, (double)g.w * g.h);
}

// args: dpi; the text page thresholded by method 1, lines of 10 mm or more
// cut into 3 mm dashes with 1 mm gaps.
void BM_DashSolidLines(benchmark::State &state) {
    const int dpi = (int)state.range(0);
    const Grey &g = GreyOf(0, dpi);
    std::vector<unsigned char> two(g.px.size(), 255), work;
    CBmpProcessing b;
    std::vector<unsigned char> src = g.px;
    b.Dither(1, src.data(), two.data(), (unsigned)g.h, (unsigned)g.w, (unsigned)g.w, 0, 0);
    const short black = (short)(int)(3 * 1000.0 * dpi / 25400.0 + 0.5);
    const short white = (short)(int)(1 * 1000.0 * dpi / 25400.0 + 0.5);
    for (auto _ : state) {
        state.PauseTiming();
        work = two;
        state.ResumeTiming();
        b.DashSolidLines(work.data(), g.w, g.h, g.w, 10, (short)dpi, black, white, 8);
        benchmark::DoNotOptimize(work.data());
    }
    PerPage(state, (double)g.w * g.h);
}

} // namespace

BENCHMARK(BM_Conversion)
    ->ArgNames({"photo", "dpi"})
    ->ArgsProduct({{0, 1}, {203, 300}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Dither)
    ->ArgNames({"method", "photo", "dpi"})
    ->ArgsProduct({{1, 2, 3, 5, 6, 7, 8, 9}, {0, 1}, {203, 300}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AdaptiveThreshold)
    ->ArgNames({"photo", "dpi"})
    ->ArgsProduct({{0, 1}, {203, 300}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DashSolidLines)->ArgName("dpi")->Arg(203)->Arg(300)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
