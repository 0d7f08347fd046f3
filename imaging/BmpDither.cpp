// Halftoning of the grey image into two levels.
#include "imaging/BmpProcessing.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "DitherTables.h"

namespace {

// Columns are handled in chunks whose length is a multiple of every
// screen's period (8, 15, 16, 4), so a chunk always starts at phase 0.
constexpr int kChunk = 240 * 8;
constexpr int kMaxRows = 16;

// Threshold rows for the ordered methods: pixel (x, y) is light exactly
// when v > rows[phase(y)][x mod kChunk].
struct tagSCREEN {
    unsigned char rows[kMaxRows][kChunk];
    int period; // distinct row phases
};

int RowPhase(int method, unsigned int y) {
    switch (method) {
    case 3:
        return (int)(y % 8);
    case 5:
        return (int)(y % 16);
    case 7:
        return (int)(y % 15);
    case 8:
        return (int)(y % 4);
    case 9:
        return (int)(y % 16);
    default:
        return 0;
    }
}

void BuildScreen(int method, tagSCREEN &s) {
    switch (method) {
    case 3:
        s.period = 8;
        break;
    case 5:
        s.period = 16;
        break;
    case 7:
        s.period = 15;
        break;
    case 8:
        s.period = 4;
        break;
    case 9:
        s.period = 16;
        break;
    default:
        s.period = 1;
        break;
    }
    const int columns = method == 7 ? 15 : (method == 8 ? 4 : (method == 3 ? 8 : 16));
    for (int y = 0; y < s.period; ++y) {
        // Every rule is monotone in v, so one threshold per position holds it.
        unsigned char phase[16];
        for (int x = 0; x < columns; ++x)
            phase[x] = (unsigned char)rvc_dither::ScreenThreshold(method, x, y);
        for (int x = 0; x < kChunk; ++x)
            s.rows[y][x] = phase[x % columns];
    }
}

inline unsigned char Clamp255(int v) {
    return (unsigned char)(v < 0 ? 0 : (v > 255 ? 255 : v));
}

void FloydSteinberg(unsigned char *src, unsigned char *dst, size_t height, size_t width,
                    size_t stride, unsigned char light, unsigned char dark) {
    for (size_t y = 0; y < height; ++y) {
        unsigned char *row = src + y * stride;
        unsigned char *out = dst + y * stride;
        unsigned char *next = y + 1 < height ? row + stride : nullptr;
        for (size_t x = 0; x < width; ++x) {
            const int v = row[x];
            int e;
            if (v > 140) {
                out[x] = light;
                e = v - 255;
            } else {
                out[x] = dark;
                e = v;
            }
            if (e == 0)
                continue; // all four shares are 0
            if (x + 1 < width)
                row[x + 1] = Clamp255(row[x + 1] + 7 * e / 16);
            if (next != nullptr) {
                if (x > 0)
                    next[x - 1] = Clamp255(next[x - 1] + 3 * e / 16);
                next[x] = Clamp255(next[x] + 5 * e / 16);
                if (x + 1 < width)
                    next[x + 1] = Clamp255(next[x + 1] + e / 16);
            }
        }
    }
}

// Levels stay within -72 ... 216: a cell's error is at most 72 in size and
// the weights add up to 42/42, so 16 bits hold every working value.
void Stucki(const unsigned char *src, unsigned char *dst, size_t height, size_t width,
            size_t stride, unsigned char light, unsigned char dark) {
    if (height <= 2 || width <= 2 || width > SIZE_MAX / sizeof(int16_t) / height)
        return;
    int16_t *grid = (int16_t *)std::malloc(height * width * sizeof(int16_t));
    if (grid == nullptr)
        return;
    int16_t level[256];
    for (int v = 0; v < 256; ++v)
        level[v] = (int16_t)(int)((double)v * 144.0 / 255.0 + 0.5);
    for (size_t y = 0; y < height; ++y)
        for (size_t x = 0; x < width; ++x)
            grid[y * width + x] = level[src[y * stride + x]];
    for (size_t y = 0; y + 2 < height; ++y) {
        int16_t *g0 = grid + y * width;
        int16_t *g1 = g0 + width;
        int16_t *g2 = g1 + width;
        unsigned char *out = dst + y * stride;
        for (size_t x = 0; x + 2 < width; ++x) {
            const int q = g0[x];
            int e;
            if (q <= 72) {
                out[x] = dark;
                e = q;
            } else {
                out[x] = light;
                e = q - 144;
            }
            if (e == 0)
                continue;
            // e * w / 42 in double truncates exactly like the integer
            // quotient: |e * w| is far too small for a rounding to cross an
            // integer.
            const int s8 = e * 8 / 42, s4 = e * 4 / 42, s2 = e * 2 / 42, s1 = e / 42;
            g0[x + 1] = (int16_t)(g0[x + 1] + s8);
            g0[x + 2] = (int16_t)(g0[x + 2] + s4);
            g1[x] = (int16_t)(g1[x] + s8);
            g1[x + 1] = (int16_t)(g1[x + 1] + s4);
            g1[x + 2] = (int16_t)(g1[x + 2] + s2);
            g2[x] = (int16_t)(g2[x] + s4);
            g2[x + 1] = (int16_t)(g2[x + 1] + s2);
            g2[x + 2] = (int16_t)(g2[x + 2] + s1);
            if (x >= 1) {
                g1[x - 1] = (int16_t)(g1[x - 1] + s4);
                g2[x - 1] = (int16_t)(g2[x - 1] + s2);
            }
            if (x >= 2) {
                g1[x - 2] = (int16_t)(g1[x - 2] + s2);
                g2[x - 2] = (int16_t)(g2[x - 2] + s1);
            }
        }
    }
    std::free(grid);
}

void Screen(int method, const unsigned char *src, unsigned char *dst, size_t height, size_t width,
            size_t stride, unsigned char flip) {
    tagSCREEN screen;
    BuildScreen(method, screen);
    for (size_t y = 0; y < height; ++y) {
        const unsigned char *thr = screen.rows[RowPhase(method, (unsigned int)y)];
        const unsigned char *in = src + y * stride;
        unsigned char *out = dst + y * stride;
        for (size_t x0 = 0; x0 < width; x0 += kChunk) {
            const size_t n = width - x0 < (size_t)kChunk ? width - x0 : (size_t)kChunk;
            const unsigned char *a = in + x0;
            unsigned char *b = out + x0;
            for (size_t k = 0; k < n; ++k)
                b[k] = (unsigned char)((a[k] > thr[k] ? 0xFF : 0x00) ^ flip);
        }
    }
}

} // namespace

int CBmpProcessing::Dither(int method, unsigned char *src, unsigned char *dst, unsigned int height,
                           unsigned int width, unsigned int stride, unsigned int unused,
                           int negative) {
    (void)unused;
    if (src == nullptr || dst == nullptr)
        return 1;
    // A row never reaches into the next one.
    if (width > stride)
        width = stride;
    const unsigned char light = negative ? 0 : 255;
    const unsigned char dark = negative ? 255 : 0;
    switch (method) {
    case 1:
    case 3:
    case 5:
    case 7:
    case 8:
    case 9:
        Screen(method, src, dst, height, width, stride, negative ? 0xFF : 0x00);
        break;
    case 2:
        FloydSteinberg(src, dst, height, width, stride, light, dark);
        break;
    case 6:
        Stucki(src, dst, height, width, stride, light, dark);
        break;
    default:
        break;
    }
    return 1;
}
