// Block-wise adaptive thresholding, the histogram threshold criteria and the
// bilinear enlargement of the block thresholds.
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "imaging/BmpProcessing.h"

namespace {

// The choice of each criterion for one histogram; -1 where none exists.
struct tagCHOICES {
    int otsu;
    int minError;
    int entropy;
    int moment;
};

// The non-empty counters of hist[lo..hi]: their levels and counts, in
// order; returns how many.
int NonEmptyLevels(const uint64_t *hist, int lo, int hi, int *levels, double *counts) {
    int nz = 0;
    for (int i = lo; i <= hi; ++i)
        if (hist[i] != 0) {
            levels[nz] = i;
            counts[nz] = (double)hist[i];
            ++nz;
        }
    return nz;
}

// The three criteria that score a split of the non-empty levels into the
// first a + 1 and the rest: least within-class variance (otsu), minimum
// error and maximum entropy.
void ChooseBySplit(const int *levels, const double *counts, int nz, tagCHOICES &c) {
    double n = 0.0, s1 = 0.0, s2 = 0.0;
    for (int a = 0; a < nz; ++a) {
        const double i = levels[a];
        n += counts[a];
        s1 += i * counts[a];
        s2 += i * i * counts[a];
    }
    double bestA = 0, bestB = 0, bestE = 0;
    double w0 = 0.0, m0 = 0.0, q0 = 0.0;
    // The last non-empty level is hi itself, never a candidate.
    for (int a = 0; a + 1 < nz; ++a) {
        const int k = levels[a];
        const double i = k;
        w0 += counts[a];
        m0 += i * counts[a];
        q0 += i * i * counts[a];
        const double w1 = n - w0;
        const double mean0 = m0 / w0;
        const double mean1 = (s1 - m0) / w1;
        const double var0 = q0 / w0 - mean0 * mean0;
        const double var1 = (s2 - q0) / w1 - mean1 * mean1;
        const double scoreA = -(w0 * var0 + w1 * var1);
        if (c.otsu < 0 || scoreA > bestA) {
            bestA = scoreA;
            c.otsu = k;
        }
        if (var0 > 0 && var1 > 0) {
            const double scoreB =
                w0 * std::log(w0 / std::sqrt(var0)) + w1 * std::log(w1 / std::sqrt(var1));
            if (c.minError < 0 || scoreB > bestB) {
                bestB = scoreB;
                c.minError = k;
            }
        }
        double e0 = 0.0, e1 = 0.0;
        for (int b = 0; b <= a; ++b) {
            const double p = counts[b] / w0;
            e0 += p * std::log(p);
        }
        for (int b = a + 1; b < nz; ++b) {
            const double q = counts[b] / w1;
            e1 += q * std::log(q);
        }
        const double scoreE = -e0 - e1;
        if (c.entropy < 0 || scoreE > bestE) {
            bestE = scoreE;
            c.entropy = k;
        }
    }
}

// Moment balance: every candidate k in [lo, hi). Its sums are sums of
// integers far below 2^53, exact in any order, so they are formed from
// integer running totals: below(k) = k^2 W0 - 2k M0 + Q0 over class 0.
int ChooseByMoment(const uint64_t *hist, const int *levels, int nz, int lo, int hi) {
    int64_t nI = 0, m1I = 0, q1I = 0;
    for (int a = 0; a < nz; ++a) {
        const int64_t i = levels[a];
        const int64_t h = (int64_t)hist[levels[a]];
        nI += h;
        m1I += i * h;
        q1I += i * i * h;
    }
    int64_t w0I = 0, m0I = 0, q0I = 0;
    double bestD = 0;
    int chosen = -1;
    int a = 0;
    for (int k = lo; k < hi; ++k) {
        while (a < nz && levels[a] <= k) {
            const int64_t i = levels[a];
            const int64_t h = (int64_t)hist[levels[a]];
            w0I += h;
            m0I += i * h;
            q0I += i * i * h;
            ++a;
        }
        const int64_t kk = k;
        const int64_t below = kk * kk * w0I - 2 * kk * m0I + q0I;
        const int64_t w1I = nI - w0I, m1 = m1I - m0I, q1 = q1I - q0I;
        const int64_t above = q1 - 2 * kk * m1 + kk * kk * w1I;
        double scoreD = 0.0;
        if ((double)below + (double)above > 0)
            scoreD = -std::fabs(((double)below - (double)above) / ((double)below + (double)above));
        if (chosen < 0 || scoreD > bestD) {
            bestD = scoreD;
            chosen = k;
        }
    }
    return chosen;
}

// Scores follow their definitions term by term. Two savings change no
// result: empty counters add nothing to any sum and are skipped, and a
// candidate k whose own counter is empty splits the values exactly like
// k - 1, so the three split-only criteria (all but the moment balance)
// score it identically and it can never replace the earlier one.
tagCHOICES Choose(const uint64_t *hist, int lo, int hi) {
    int levels[256];
    double counts[256];
    const int nz = NonEmptyLevels(hist, lo, hi, levels, counts);
    tagCHOICES c = {-1, -1, -1, -1};
    ChooseBySplit(levels, counts, nz, c);
    c.moment = ChooseByMoment(hist, levels, nz, lo, hi);
    return c;
}

// Bilinear enlargement of a small grid to tw x th, target pixel 0 on source
// pixel 0, made row by row for the first cols pixels of a row. The column
// terms are the same for every row and the row terms for every column, so
// both are computed once; the arithmetic per pixel is unchanged.
struct tagRESAMPLER {
    const unsigned char *src;
    int64_t sw, sh, ss, cols;
    float sy;
    int32_t *x0;
    int32_t *x1;
    float *wx;
    float *rowTerm; // per source column: p(c, y0) + (p(c, y1) - p(c, y0)) wy
};

bool ResamplerInit(tagRESAMPLER &r, const unsigned char *src, int64_t sw, int64_t sh, int64_t ss,
                   int64_t tw, int64_t th, int64_t cols) {
    r.src = src;
    r.sw = sw;
    r.sh = sh;
    r.ss = ss;
    r.cols = cols;
    r.sy = (float)sh / (float)th;
    const float sx = (float)sw / (float)tw;
    r.x0 = (int32_t *)std::malloc((size_t)cols * sizeof(int32_t));
    r.x1 = (int32_t *)std::malloc((size_t)cols * sizeof(int32_t));
    r.wx = (float *)std::malloc((size_t)cols * sizeof(float));
    r.rowTerm = (float *)std::malloc((size_t)sw * sizeof(float));
    if (r.x0 == nullptr || r.x1 == nullptr || r.wx == nullptr || r.rowTerm == nullptr)
        return false;
    for (int64_t x = 0; x < cols; ++x) {
        const float fx = (float)x * sx;
        int64_t x0 = (int64_t)fx;
        if (x0 > sw - 1)
            x0 = sw - 1;
        r.x0[x] = (int32_t)x0;
        r.x1[x] = (int32_t)(x0 + 1 < sw - 1 ? x0 + 1 : sw - 1);
        r.wx[x] = fx - (float)x0;
    }
    return true;
}

void ResamplerFree(tagRESAMPLER &r) {
    std::free(r.x0);
    std::free(r.x1);
    std::free(r.wx);
    std::free(r.rowTerm);
}

void ResamplerRow(tagRESAMPLER &r, int64_t y, unsigned char *out) {
    const float fy = (float)y * r.sy;
    int64_t y0 = (int64_t)fy;
    if (y0 > r.sh - 1)
        y0 = r.sh - 1;
    const int64_t y1 = y0 + 1 < r.sh - 1 ? y0 + 1 : r.sh - 1;
    const float wy = fy - (float)y0;
    const unsigned char *r0 = r.src + y0 * r.ss;
    const unsigned char *r1 = r.src + y1 * r.ss;
    for (int64_t c = 0; c < r.sw; ++c)
        r.rowTerm[c] = (float)r0[c] + (float)(r1[c] - r0[c]) * wy;
    for (int64_t x = 0; x < r.cols; ++x) {
        const float a = r.rowTerm[r.x0[x]];
        const float b = r.rowTerm[r.x1[x]];
        out[x] = (unsigned char)(int)(a + (b - a) * r.wx[x]);
    }
}

// One threshold per block of block x block pixels, cols x rows of them.
struct tagBLOCKGRID {
    int64_t block, cols, rows, stride;
    unsigned char *cells;
};

// A block's threshold mixed with the whole image's by weight, shifted by
// offset, clamped to a byte.
unsigned char BlockCell(int t, int global, float weight, int offset) {
    const float value = (float)t * (1.0f - weight) + (float)global * weight + (float)offset;
    if (value > 255.0f)
        return 255;
    if (value < 0.0f)
        return 0;
    return (unsigned char)(int)value;
}

bool FillBlockGrid(tagBLOCKGRID &g, const unsigned char *src, int width, int height, int stride,
                   int method, int offset, float weight) {
    const int global = OptimalThreshold(method, src, width, height, stride, nullptr);
    if (global < 0)
        return false;
    const int64_t b = g.block;
    auto edge = [](int64_t v) { return (int32_t)(v > INT_MAX ? INT_MAX : v); };
    for (int64_t by = 0; by < g.rows; ++by) {
        for (int64_t bx = 0; bx < g.cols; ++bx) {
            tagRECT region = {edge(bx * b), edge((by + 1) * b), edge((bx + 1) * b), edge(by * b)};
            const int t = OptimalThreshold(method, src, width, height, stride, &region);
            if (t < 0)
                return false;
            g.cells[by * g.stride + bx] = BlockCell(t, global, weight, offset);
        }
    }
    return true;
}

// The two-level image, rows outStride bytes apart, calloc'ed into *out: a
// pixel at or above its threshold is white (black when negative).
bool ThresholdRows(const tagBLOCKGRID &g, const unsigned char *src, int width, int height,
                   int stride, int64_t outStride, int negative, unsigned char **out) {
    // The threshold map is made a row at a time and only over the image: the
    // whole map of cols*block x rows*block can be far larger than the image.
    unsigned char *dst = (unsigned char *)std::calloc((size_t)(height * outStride), 1);
    unsigned char *thr = (unsigned char *)std::malloc((size_t)width);
    tagRESAMPLER r;
    const bool ready = ResamplerInit(r, g.cells, g.cols, g.rows, g.stride, g.cols * g.block,
                                     g.rows * g.block, width);
    if (dst == nullptr || thr == nullptr || !ready) {
        ResamplerFree(r);
        std::free(dst);
        std::free(thr);
        return false;
    }
    const unsigned char flip = negative ? 255 : 0;
    for (int64_t y = 0; y < height; ++y) {
        ResamplerRow(r, y, thr);
        const unsigned char *in = src + y * (int64_t)stride;
        unsigned char *o = dst + y * outStride;
        for (int64_t x = 0; x < width; ++x)
            o[x] = (unsigned char)((in[x] >= thr[x] ? 255 : 0) ^ flip);
    }
    ResamplerFree(r);
    std::free(thr);
    *out = dst;
    return true;
}

} // namespace

int OptimalThreshold(int method, const unsigned char *data, int width, int height, int stride,
                     tagRECT *region) {
    if (data == nullptr || stride < 0)
        return -1;
    int64_t x0 = 0, x1 = width, y0 = 0, y1 = height;
    if (region != nullptr) {
        // bottom holds the first row, top the row after the last.
        x0 = region->left > 0 ? region->left : 0;
        x1 = region->right < width ? region->right : width;
        y0 = region->bottom > 0 ? region->bottom : 0;
        y1 = region->top < height ? region->top : height;
    }
    if (x0 >= x1 || y0 >= y1)
        return -1;
    uint64_t hist[256] = {0};
    for (int64_t y = y0; y < y1; ++y) {
        const unsigned char *row = data + y * (int64_t)stride;
        for (int64_t x = x0; x < x1; ++x)
            ++hist[row[x]];
    }
    int lo = 255, hi = 0;
    for (int i = 0; i <= 254; ++i)
        if (hist[i] != 0) {
            lo = i;
            break;
        }
    for (int i = 255; i >= 1; --i)
        if (hist[i] != 0) {
            hi = i;
            break;
        }
    if (lo == hi)
        return lo == 0 ? 0 : lo - 1;
    const tagCHOICES c = Choose(hist, lo, hi);
    int chosen;
    switch (method) {
    case 1:
        chosen = c.otsu;
        break;
    case 2:
        chosen = c.minError;
        break;
    case 3:
        chosen = c.entropy;
        break;
    case 4:
        chosen = c.moment;
        break;
    default: {
        int sum = 0, count = 0;
        const int all[4] = {c.otsu, c.minError, c.entropy, c.moment};
        for (int v : all)
            if (v >= 0) {
                sum += v;
                ++count;
            }
        chosen = count > 0 ? sum / count : (lo + hi) / 2;
        break;
    }
    }
    if (chosen <= lo || chosen >= hi)
        return (lo + hi) / 2;
    return chosen;
}

int Resample(const unsigned char *src, int srcWidth, int srcHeight, int srcStride, int dstWidth,
             int dstHeight, unsigned char **dst) {
    if (dstWidth <= 0 || dstHeight <= 0)
        return 0;
    if (dstWidth == srcWidth && dstHeight == srcHeight)
        return 1;
    if (src == nullptr || dst == nullptr || srcWidth <= 0 || srcHeight <= 0 || srcStride < 0)
        return 0;
    const int64_t ds = ((int64_t)dstWidth + 3) / 4 * 4;
    unsigned char *out = (unsigned char *)std::calloc((size_t)ds * (size_t)dstHeight, 1);
    if (out == nullptr)
        return 0;
    tagRESAMPLER r;
    if (!ResamplerInit(r, src, srcWidth, srcHeight, srcStride, dstWidth, dstHeight, dstWidth)) {
        ResamplerFree(r);
        std::free(out);
        return 0;
    }
    for (int64_t y = 0; y < dstHeight; ++y)
        ResamplerRow(r, y, out + y * ds);
    ResamplerFree(r);
    *dst = out;
    return 1;
}

bool AdaptiveThreshold(const unsigned char *src, int width, int height, int stride,
                       unsigned char **out, int *outLength, int negative, int method, int blockSize,
                       int offset, float weight) {
    if (src == nullptr || out == nullptr || outLength == nullptr)
        return false;
    const int64_t b = blockSize < 8 ? 8 : blockSize;
    if (!(weight >= 0.0f))
        weight = 0.0f; // NaN included
    if (weight > 1.0f)
        weight = 1.0f;
    if (width <= 0 || height <= 0)
        return false;
    tagBLOCKGRID g;
    g.block = b;
    g.cols = (width + b - 1) / b;
    g.rows = (height + b - 1) / b;
    g.stride = (g.cols + 3) / 4 * 4;
    const int64_t outStride = (((int64_t)width * 8 + 31) / 32) * 4;
    if ((int64_t)height * outStride > INT_MAX)
        return false;
    g.cells = (unsigned char *)std::calloc((size_t)(g.rows * g.stride), 1);
    if (g.cells == nullptr)
        return false;
    const bool done = FillBlockGrid(g, src, width, height, stride, method, offset, weight) &&
                      ThresholdRows(g, src, width, height, stride, outStride, negative, out);
    std::free(g.cells);
    if (done)
        *outLength = (int)(height * outStride);
    return done;
}
