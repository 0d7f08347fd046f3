// Construction, the levels and brightness/contrast curves, and the conversion
// of a page image into the grey image of its inked rectangle.
#include "imaging/BmpProcessing.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

const COLORLEVELSITEM kDefaultItem = {1.0f, 0, 255, 0, 255};

void ResetTable(unsigned char *table)
{
    for (int v = 0; v < 256; ++v)
        table[v] = (unsigned char)v;
}

// Rounded and truncated like a plain (int) cast, but a NaN or an
// out-of-range value never reaches the conversion.
int ClampToByte(double x)
{
    if (!(x >= 0.0))
        return 0;
    if (x >= 255.0)
        return 255;
    return (int)x;
}

void BuildLevels(const COLORLEVELSITEM &item, unsigned char *table)
{
    const int inLow = item.byInLow;
    const int inHigh = item.byInHigh;
    // Equal black and white points make a step at that value.
    const bool step = inHigh == inLow;
    const double a = step ? 0.0 : 255.0 / (double)(inHigh - inLow);
    const double b = (double)(item.byOutHigh - item.byOutLow) / 255.0;
    // A negative (or NaN) gamma behaves like 0: every grey below white goes
    // to black, the exponent being infinite.
    float gamma = item.fGamma;
    if (!(gamma >= 0.0f))
        gamma = 0.0f;
    const double p = 1.0 / (double)gamma;
    for (int e = 0; e < 256; ++e) {
        const int v = table[e];
        double n;
        if (v <= inLow) {
            n = 0.0;
        } else {
            int t = step ? 255 : ClampToByte((double)(v - inLow) * a + 0.5);
            if (t > 255)
                t = 255;
            n = (double)t / 255.0;
        }
        const int r = ClampToByte(std::pow(n, p) * 255.0 + 0.5);
        table[e] = (unsigned char)ClampToByte((double)r * b + (double)item.byOutLow + 0.5);
    }
}

// The orientation maps source column j of row i to the work image as
// x = ax + sx * j, y = ay + sy * j; the row terms are set per source row.
struct tagROWMAP {
    int64_t ax;
    int64_t sx;
    int64_t ay;
    int64_t sy;
};

tagROWMAP MapRow(int code, int64_t i, int64_t w, int64_t h, int64_t dx, int64_t dy)
{
    switch (code) {
    case 0:
        return {i + dx, 0, w - 1 + dy, -1};
    case 1:
        return {w - 1 + dx, -1, h - 1 - i + dy, 0};
    case 2:
        return {h - 1 - i + dx, 0, dy, 1};
    default:
        return {dx, 1, i + dy, 0};
    }
}

struct tagSCAN {
    const unsigned char *src;
    int64_t srcStride;
    int64_t rows;     // source rows that can be read, the last one maybe in part
    int64_t lastRow;  // pixels that can be read in the last of them
    int64_t width;    // source pixels per row
    int64_t pageW;    // columns that count for the rectangle: [0, pageW)
    int64_t pageH;    // rows that count for the rectangle: [0, pageH)
    int64_t workL;    // work row length
    int64_t workR;    // work rows
    int64_t workT;    // work row stride
    unsigned char *work;
    int code;
    int64_t dx;
    int64_t dy;
    const int *k11;   // weighted component curves (brightness/contrast)
    const int *k16;
    const int *k5;
    const unsigned char *levels;
    // out
    int64_t minX, maxX, minY, maxY;
};

// All bytes of the 8-byte word are 250 or more.
inline bool AllNearWhite(uint64_t x)
{
    const uint64_t hi = 0x8080808080808080ull;
    const uint64_t six = 0x0606060606060606ull;
    const uint64_t y = ~x;  // a byte >= 250 is a byte < 6 here
    return ((y | ((y | hi) - six)) & hi) == 0;
}

template <int Depth, bool Curve>
void ScanPage(tagSCAN &s)
{
    constexpr int64_t kBpp = Depth / 8;
    int64_t minX = INT64_MAX, maxX = -1, minY = INT64_MAX, maxY = -1;
    for (int64_t i = 0; i < s.rows; ++i) {
        const unsigned char *row = s.src + i * s.srcStride;
        const tagROWMAP m = MapRow(s.code, i, s.width, s.pageH, s.dx, s.dy);
        const int64_t width = i + 1 < s.rows ? s.width : s.lastRow;
        int64_t j = 0;
        while (j < width) {
            // Paper white is most of a label: skip it eight pixels at a time.
            if (j + 8 <= width) {
                const unsigned char *p = row + j * kBpp;
                uint64_t w0;
                std::memcpy(&w0, p, 8);
                bool white = AllNearWhite(w0);
                if (Depth == 24 && white) {
                    uint64_t w1, w2;
                    std::memcpy(&w1, p + 8, 8);
                    std::memcpy(&w2, p + 16, 8);
                    white = AllNearWhite(w1) && AllNearWhite(w2);
                }
                if (white) {
                    j += 8;
                    continue;
                }
            }
            const int64_t end = j + 8 < width ? j + 8 : width;
            for (; j < end; ++j) {
                const unsigned char *p = row + j * kBpp;
                int blue, green, red;
                if (Depth == 24) {
                    blue = p[0];
                    green = p[1];
                    red = p[2];
                } else {
                    blue = green = red = p[0];
                }
                if (blue >= 250 && green >= 250 && red >= 250)
                    continue;
                int g;
                if (Curve)
                    g = (blue | green | red) == 0 ? 0
                                                  : (s.k11[red] + s.k16[green] + s.k5[blue]) >> 5;
                else
                    g = (11 * red + 16 * green + 5 * blue) >> 5;
                const unsigned char v = s.levels[g];
                const int64_t x = m.ax + m.sx * j;
                const int64_t y = m.ay + m.sy * j;
                if (x >= 0 && x < s.pageW) {
                    minX = x < minX ? x : minX;
                    maxX = x > maxX ? x : maxX;
                }
                if (y >= 0 && y < s.pageH) {
                    minY = y < minY ? y : minY;
                    maxY = y > maxY ? y : maxY;
                }
                if (x >= 0 && x < s.workL && y >= 0 && y < s.workR)
                    s.work[y * s.workT + x] = v;
            }
        }
    }
    s.minX = minX;
    s.maxX = maxX;
    s.minY = minY;
    s.maxY = maxY;
}

void EmptyResult(unsigned int *outLength, tagBITMAPINFOHEADER *header, tagRECT *rect)
{
    rect->left = rect->top = rect->right = rect->bottom = 0;
    *outLength = 0;
    header->biBitCount = 8;
    header->biWidth = 1;
    header->biHeight = 1;
    header->biSizeImage = 0;
}

}  // namespace

CBmpProcessing::CBmpProcessing()
{
    for (int k = 0; k < 4; ++k) {
        m_LevelsItem[k] = kDefaultItem;
        ResetTable(m_LevelsTable[k]);
        m_LevelsTableReady[k] = 0;
    }
    std::memset(m_BrightContrastTable, 0, sizeof(m_BrightContrastTable));
}

CBmpProcessing::~CBmpProcessing() = default;

void CBmpProcessing::SetColorLevelsData(COLORLEVELSITEM *item, int index)
{
    if (item == nullptr || index < 0 || index > 3)
        return;
    if (index == 3) {
        for (int k = 0; k < 4; ++k) {
            ResetTable(m_LevelsTable[k]);
            m_LevelsTableReady[k] = 0;
        }
    } else {
        ResetTable(m_LevelsTable[index]);
        m_LevelsTableReady[index] = 0;
    }
    m_LevelsItem[index] = kDefaultItem;
    m_LevelsItem[index] = *item;
    InitColorLevelsTable(index);
}

void CBmpProcessing::InitColorLevelsTable(int index)
{
    if (index < 0 || index > 3)
        return;
    if (index == 3) {
        // The master item drives the three channel tables; its own stays
        // the identity.
        for (int k = 0; k < 3; ++k)
            BuildLevels(m_LevelsItem[3], m_LevelsTable[k]);
        for (int k = 0; k < 4; ++k)
            m_LevelsTableReady[k] = 1;
    } else {
        BuildLevels(m_LevelsItem[index], m_LevelsTable[index]);
        m_LevelsTableReady[index] = 1;
    }
}

int CBmpProcessing::CoverBMP2OutputFormat(unsigned char *src, unsigned int srcLength,
                                          unsigned char **out, unsigned int *outLength,
                                          tagBITMAPINFOHEADER *header, tagRECT *rect,
                                          int orientation, int dx, int dy,
                                          COLORLEVELSITEM levels, int mirror, int brightness,
                                          int contrast, int maxWidth)
{
    (void)mirror;  // mirroring happens when the bitmap is packed
    if (out == nullptr || outLength == nullptr || header == nullptr || rect == nullptr)
        return 0;
    const int64_t w = header->biWidth;
    const int64_t h = header->biHeight;
    const int depth = header->biBitCount;
    if (src == nullptr || w <= 0 || h <= 0 || (depth != 8 && depth != 24)) {
        EmptyResult(outLength, header, rect);
        return 1;
    }
    const int64_t srcStride = ((depth * w + 31) / 32) * 4;
    // A buffer shorter than the header promises (a later page smaller than
    // the first) is read only as far as it goes; a length of 0 gives no
    // bound.
    int64_t rows = h, lastRow = w;
    if (srcLength != 0 && (int64_t)srcLength < h * srcStride) {
        rows = (int64_t)srcLength / srcStride;
        lastRow = ((int64_t)srcLength % srcStride) / (depth / 8);
        if (lastRow > w)
            lastRow = w;
        if (lastRow > 0)
            ++rows;
        else
            lastRow = w;
    }

    const bool quarter = orientation == 0 || orientation == 2;
    int64_t workL = quarter ? h : w;
    const int64_t workR = quarter ? w : h;
    int64_t pageW = w;
    int64_t shift = 0;
    if (maxWidth != 0 && (uint64_t)workL > (uint64_t)(unsigned int)maxWidth) {
        // Too wide for the label: keep the centre, losing half the excess on
        // each side, and never let the rectangle pass the shortened rows.
        const int64_t limit = (unsigned int)maxWidth;
        shift = (workL - limit) >> 1;
        workL = limit;
        if (pageW > limit)
            pageW = limit;
    }
    const int64_t workT = ((workL * 8 + 31) >> 5) << 2;
    const size_t workSize = (size_t)workR * (size_t)workT;
    unsigned char *work = (unsigned char *)std::malloc(workSize ? workSize : 1);
    if (work == nullptr) {
        EmptyResult(outLength, header, rect);
        return 0;
    }
    std::memset(work, 255, workSize);

    SetColorLevelsData(&levels, 3);
    const bool curve = brightness != 0 || contrast != 0;
    if (curve) {
        const float s = (float)((int64_t)contrast + 100) / 100.0f;
        const float o = (float)((int64_t)brightness + 128);
        for (int k = -128; k < 128; ++k) {
            const float e = (float)k * s + o + 0.5f;
            int t;
            if (!(e >= 0.0f))
                t = 0;
            else if (e >= 256.0f)
                t = 255;
            else
                t = (int)e;
            if (t > 255)
                t = 255;
            m_BrightContrastTable[k + 128] = (int16_t)t;
        }
    }
    // The three channel tables are equal here, yet the weighted mix is kept
    // so that any channel table gives its share.
    unsigned char levelsOf[256];
    for (int g = 0; g < 256; ++g)
        levelsOf[g] = (unsigned char)((11 * m_LevelsTable[0][g] + 16 * m_LevelsTable[1][g] +
                                       5 * m_LevelsTable[2][g]) >> 5);
    int k11[256], k16[256], k5[256];
    for (int c = 0; c < 256; ++c) {
        k11[c] = 11 * m_BrightContrastTable[c];
        k16[c] = 16 * m_BrightContrastTable[c];
        k5[c] = 5 * m_BrightContrastTable[c];
    }

    tagSCAN s;
    s.src = src;
    s.srcStride = srcStride;
    s.rows = rows;
    s.lastRow = lastRow;
    s.width = w;
    s.pageW = pageW;
    s.pageH = h;
    s.workL = workL;
    s.workR = workR;
    s.workT = workT;
    s.work = work;
    s.code = orientation >= 0 && orientation <= 2 ? orientation : 3;
    s.dx = (int64_t)dx - shift;
    s.dy = dy;
    s.k11 = k11;
    s.k16 = k16;
    s.k5 = k5;
    s.levels = levelsOf;
    if (depth == 24)
        curve ? ScanPage<24, true>(s) : ScanPage<24, false>(s);
    else
        curve ? ScanPage<8, true>(s) : ScanPage<8, false>(s);

    if (s.maxX < 0 || s.maxY < 0) {
        std::free(work);
        EmptyResult(outLength, header, rect);
        return 1;
    }
    const int64_t left = s.minX - s.minX % 8;
    int64_t ow = s.maxX - left + 1;
    ow = (ow + 7) / 8 * 8;
    rect->left = (int32_t)left;
    rect->top = (int32_t)s.minY;
    rect->bottom = (int32_t)s.maxY;
    rect->right = (int32_t)(left + ow - 1);

    const int64_t rowBytes = ((ow * 8 + 31) / 32) * 4;
    const int64_t outRows = s.maxY - s.minY + 1;
    const uint64_t outSize = (uint64_t)outRows * (uint64_t)rowBytes;
    unsigned char *dst = *out;
    if (dst == nullptr) {
        if (outSize > UINT_MAX || (dst = (unsigned char *)std::malloc(outSize)) == nullptr) {
            std::free(work);
            return 0;
        }
        std::memset(dst, 255, outSize);
        *out = dst;
        *outLength = (unsigned int)outSize;
    } else if (outSize > *outLength) {
        std::free(work);
        return 0;
    }
    // Rows of the rectangle beyond the work image (a quarter turn of a page
    // taller than wide, shifted down) have nothing to copy: they stay white.
    int64_t n = workT < rowBytes ? workT : rowBytes;
    if (n > workT - left)
        n = workT - left;
    if (n > 0) {
        for (int64_t k = 0; k < outRows; ++k) {
            const int64_t y = s.minY + k;
            if (y >= workR)
                break;
            std::memcpy(dst + k * rowBytes, work + y * workT + left, (size_t)n);
        }
    }
    std::free(work);
    return 1;
}
