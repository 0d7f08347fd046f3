// Construction, the levels and brightness/contrast curves, and the conversion
// of a page image into the grey image of its inked rectangle.
#include "imaging/BmpProcessing.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

const COLORLEVELSITEM kDefaultItem = {1.0f, 0, 255, 0, 255};

void ResetTable(unsigned char *table) {
    for (int v = 0; v < 256; ++v)
        table[v] = (unsigned char)v;
}

// Rounded and truncated like a plain (int) cast, but a NaN or an
// out-of-range value never reaches the conversion.
int ClampToByte(double x) {
    if (!(x >= 0.0))
        return 0;
    if (x >= 255.0)
        return 255;
    return (int)x;
}

void BuildLevels(const COLORLEVELSITEM &item, unsigned char *table) {
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

tagROWMAP MapRow(int code, int64_t i, int64_t w, int64_t h, int64_t dx, int64_t dy) {
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
    int64_t rows;       // source rows that can be read, the last one maybe in part
    int64_t lastRow;    // pixels that can be read in the last of them
    int64_t width;      // source pixels per row
    int64_t pageW;      // columns that count for the rectangle: [0, pageW)
    int64_t pageH;      // rows that count for the rectangle: [0, pageH)
    int64_t workWidth;  // pixels per work row
    int64_t workHeight; // work rows
    int64_t workStride; // bytes from one work row to the next
    unsigned char *work;
    int code;
    int64_t dx;
    int64_t dy;
    const int *k11; // weighted component curves (brightness/contrast)
    const int *k16;
    const int *k5;
    const unsigned char *levels;
    // out
    int64_t minX, maxX, minY, maxY;
};

// All bytes of the 8-byte word are 250 or more.
inline bool AllNearWhite(uint64_t x) {
    const uint64_t hi = 0x8080808080808080ull;
    const uint64_t six = 0x0606060606060606ull;
    const uint64_t y = ~x; // a byte >= 250 is a byte < 6 here
    return ((y | ((y | hi) - six)) & hi) == 0;
}

// The eight pixels from p on are all paper white.
template <int Depth> inline bool EightNearWhite(const unsigned char *p) {
    uint64_t w0;
    std::memcpy(&w0, p, 8);
    if (!AllNearWhite(w0))
        return false;
    if (Depth != 24)
        return true;
    uint64_t w1, w2;
    std::memcpy(&w1, p + 8, 8);
    std::memcpy(&w2, p + 16, 8);
    return AllNearWhite(w1) && AllNearWhite(w2);
}

// The inked extent found so far, in page coordinates; -1 maxima for none.
struct tagBOUNDS {
    int64_t minX, maxX, minY, maxY;
};

// Source pixel j of a row at p: unless it is paper white, its grey (curves,
// then levels) goes to its place in the work image and the pixel widens the
// inked extent.
template <int Depth, bool Curve>
inline void ScanPixel(const tagSCAN &s, const tagROWMAP &m, const unsigned char *p, int64_t j,
                      tagBOUNDS &b) {
    int blue, green, red;
    if (Depth == 24) {
        blue = p[0];
        green = p[1];
        red = p[2];
    } else {
        blue = green = red = p[0];
    }
    if (blue >= 250 && green >= 250 && red >= 250)
        return;
    int g;
    if (Curve)
        g = (blue | green | red) == 0 ? 0 : (s.k11[red] + s.k16[green] + s.k5[blue]) >> 5;
    else
        g = (11 * red + 16 * green + 5 * blue) >> 5;
    const unsigned char v = s.levels[g];
    const int64_t x = m.ax + m.sx * j;
    const int64_t y = m.ay + m.sy * j;
    if (x >= 0 && x < s.pageW) {
        b.minX = x < b.minX ? x : b.minX;
        b.maxX = x > b.maxX ? x : b.maxX;
    }
    if (y >= 0 && y < s.pageH) {
        b.minY = y < b.minY ? y : b.minY;
        b.maxY = y > b.maxY ? y : b.maxY;
    }
    if (x >= 0 && x < s.workWidth && y >= 0 && y < s.workHeight)
        s.work[y * s.workStride + x] = v;
}

template <int Depth, bool Curve> void ScanPage(tagSCAN &s) {
    constexpr int64_t kBpp = Depth / 8;
    tagBOUNDS b = {INT64_MAX, -1, INT64_MAX, -1};
    for (int64_t i = 0; i < s.rows; ++i) {
        const unsigned char *row = s.src + i * s.srcStride;
        const tagROWMAP m = MapRow(s.code, i, s.width, s.pageH, s.dx, s.dy);
        const int64_t width = i + 1 < s.rows ? s.width : s.lastRow;
        int64_t j = 0;
        while (j < width) {
            // Paper white is most of a label: skip it eight pixels at a time.
            if (j + 8 <= width && EightNearWhite<Depth>(row + j * kBpp)) {
                j += 8;
                continue;
            }
            const int64_t end = j + 8 < width ? j + 8 : width;
            for (; j < end; ++j)
                ScanPixel<Depth, Curve>(s, m, row + j * kBpp, j, b);
        }
    }
    s.minX = b.minX;
    s.maxX = b.maxX;
    s.minY = b.minY;
    s.maxY = b.maxY;
}

void EmptyResult(unsigned int *outLength, tagBITMAPINFOHEADER *header, tagRECT *rect) {
    rect->left = rect->top = rect->right = rect->bottom = 0;
    *outLength = 0;
    header->biBitCount = 8;
    header->biWidth = 1;
    header->biHeight = 1;
    header->biSizeImage = 0;
}

// The source as far as it can be read. A buffer shorter than the header
// promises (a later page smaller than the first) is read only as far as it
// goes; a length of 0 gives no bound.
void SetSource(tagSCAN &s, const unsigned char *src, unsigned int srcLength, int64_t w, int64_t h,
               int depth) {
    const int64_t srcStride = ((depth * w + 31) / 32) * 4;
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
    s.src = src;
    s.srcStride = srcStride;
    s.rows = rows;
    s.lastRow = lastRow;
    s.width = w;
    s.pageW = w;
    s.pageH = h;
}

// The white work image the page is turned into: a quarter turn swaps its
// sides. False when it cannot be allocated.
bool MakeWorkImage(tagSCAN &s, int orientation, int maxWidth) {
    const bool quarter = orientation == 0 || orientation == 2;
    int64_t workWidth = quarter ? s.pageH : s.width;
    const int64_t workHeight = quarter ? s.width : s.pageH;
    if (maxWidth != 0 && (uint64_t)workWidth > (uint64_t)(unsigned int)maxWidth) {
        // Too wide for the label: keep the centre, losing half the excess on
        // each side, and never let the rectangle pass the shortened rows.
        const int64_t limit = (unsigned int)maxWidth;
        s.dx -= (workWidth - limit) >> 1;
        workWidth = limit;
        if (s.pageW > limit)
            s.pageW = limit;
    }
    const int64_t workStride = ((workWidth * 8 + 31) >> 5) << 2;
    const size_t workSize = (size_t)workHeight * (size_t)workStride;
    s.work = (unsigned char *)std::malloc(workSize ? workSize : 1);
    if (s.work == nullptr)
        return false;
    std::memset(s.work, 255, workSize);
    s.workWidth = workWidth;
    s.workHeight = workHeight;
    s.workStride = workStride;
    return true;
}

void BuildBrightContrast(int16_t *table, int brightness, int contrast) {
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
        table[k + 128] = (int16_t)t;
    }
}

// The per-pixel lookups of the scan: the levels of a grey, and the weighted
// brightness/contrast curve of each colour component.
struct tagGREYTABLES {
    unsigned char levels[256];
    int k11[256];
    int k16[256];
    int k5[256];
};

void BuildGreyTables(const unsigned char (*levelsTable)[256], const int16_t *curve,
                     tagGREYTABLES &t) {
    // The three channel tables are equal here, yet the weighted mix is kept
    // so that any channel table gives its share.
    for (int g = 0; g < 256; ++g)
        t.levels[g] = (unsigned char)((11 * levelsTable[0][g] + 16 * levelsTable[1][g] +
                                       5 * levelsTable[2][g]) >>
                                      5);
    for (int c = 0; c < 256; ++c) {
        t.k11[c] = 11 * curve[c];
        t.k16[c] = 16 * curve[c];
        t.k5[c] = 5 * curve[c];
    }
}

void Scan(tagSCAN &s, int depth, bool curve) {
    if (depth == 24)
        curve ? ScanPage<24, true>(s) : ScanPage<24, false>(s);
    else
        curve ? ScanPage<8, true>(s) : ScanPage<8, false>(s);
}

// The output's rectangle: the inked extent, its left edge and its width on
// whole bytes of eight pixels.
struct tagCROP {
    int64_t left;
    int64_t rowBytes;
    int64_t rows;
};

tagCROP CropToInk(const tagSCAN &s, tagRECT *rect) {
    const int64_t left = s.minX - s.minX % 8;
    int64_t ow = s.maxX - left + 1;
    ow = (ow + 7) / 8 * 8;
    rect->left = (int32_t)left;
    rect->top = (int32_t)s.minY;
    rect->bottom = (int32_t)s.maxY;
    rect->right = (int32_t)(left + ow - 1);
    return {left, ((ow * 8 + 31) / 32) * 4, s.maxY - s.minY + 1};
}

// The caller's buffer when it has one (0 if too small), else a white one
// malloc'ed for it (0 if that fails).
unsigned char *OutputBuffer(unsigned char **out, unsigned int *outLength, uint64_t outSize) {
    unsigned char *dst = *out;
    if (dst != nullptr)
        return outSize > *outLength ? nullptr : dst;
    if (outSize > UINT_MAX || (dst = (unsigned char *)std::malloc(outSize)) == nullptr)
        return nullptr;
    std::memset(dst, 255, outSize);
    *out = dst;
    *outLength = (unsigned int)outSize;
    return dst;
}

void CopyCrop(const tagSCAN &s, const tagCROP &c, unsigned char *dst) {
    // Rows of the rectangle beyond the work image (a quarter turn of a page
    // taller than wide, shifted down) have nothing to copy: they stay white.
    int64_t n = s.workStride < c.rowBytes ? s.workStride : c.rowBytes;
    if (n > s.workStride - c.left)
        n = s.workStride - c.left;
    if (n <= 0)
        return;
    for (int64_t k = 0; k < c.rows; ++k) {
        const int64_t y = s.minY + k;
        if (y >= s.workHeight)
            break;
        std::memcpy(dst + k * c.rowBytes, s.work + y * s.workStride + c.left, (size_t)n);
    }
}

} // namespace

CBmpProcessing::CBmpProcessing() {
    for (int k = 0; k < 4; ++k) {
        m_LevelsItem[k] = kDefaultItem;
        ResetTable(m_LevelsTable[k]);
        m_LevelsTableReady[k] = 0;
    }
    std::memset(m_BrightContrastTable, 0, sizeof(m_BrightContrastTable));
}

CBmpProcessing::~CBmpProcessing() = default;

void CBmpProcessing::SetColorLevelsData(COLORLEVELSITEM *item, int index) {
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

void CBmpProcessing::InitColorLevelsTable(int index) {
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
                                          int orientation, int dx, int dy, COLORLEVELSITEM levels,
                                          int mirror, int brightness, int contrast, int maxWidth) {
    (void)mirror; // mirroring happens when the bitmap is packed
    if (out == nullptr || outLength == nullptr || header == nullptr || rect == nullptr)
        return 0;
    const int64_t w = header->biWidth;
    const int64_t h = header->biHeight;
    const int depth = header->biBitCount;
    if (src == nullptr || w <= 0 || h <= 0 || (depth != 8 && depth != 24)) {
        EmptyResult(outLength, header, rect);
        return 1;
    }
    tagSCAN s;
    SetSource(s, src, srcLength, w, h, depth);
    s.code = orientation >= 0 && orientation <= 2 ? orientation : 3;
    s.dx = dx;
    s.dy = dy;
    if (!MakeWorkImage(s, orientation, maxWidth)) {
        EmptyResult(outLength, header, rect);
        return 0;
    }

    SetColorLevelsData(&levels, 3);
    const bool curve = brightness != 0 || contrast != 0;
    if (curve)
        BuildBrightContrast(m_BrightContrastTable, brightness, contrast);
    tagGREYTABLES grey;
    BuildGreyTables(m_LevelsTable, m_BrightContrastTable, grey);
    s.k11 = grey.k11;
    s.k16 = grey.k16;
    s.k5 = grey.k5;
    s.levels = grey.levels;
    Scan(s, depth, curve);

    int result = 1;
    if (s.maxX < 0 || s.maxY < 0) {
        EmptyResult(outLength, header, rect);
    } else {
        const tagCROP c = CropToInk(s, rect);
        unsigned char *dst = OutputBuffer(out, outLength, (uint64_t)c.rows * (uint64_t)c.rowBytes);
        if (dst != nullptr)
            CopyCrop(s, c, dst);
        else
            result = 0;
    }
    std::free(s.work);
    return result;
}
