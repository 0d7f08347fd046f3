// Page emission: the held page buffer becomes a packed 1-bit bitmap of its
// inked area, placed on the label and handed to the page commands.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "RenderMath.h"
#include "imaging/BmpProcessing.h"
#include "log/ErrorReport.h"
#include "log/ILogManager.h"
#include "render/TSPLRenderClass.h"

namespace {

// What the conversion is asked for, derived from the settings.
struct tagCONVERSION {
    int nOrientation; // quarter-turn code: 3 as is, 0 counter-clockwise, 1 half, 2 clockwise
    int32_t dx;       // offsets in output dots
    int32_t dy;
    COLORLEVELSITEM levels;
    int32_t maxWidth; // dots
};

// The page's inked area after the conversion: a grey (later two-level)
// image of W x H pixels, rows S bytes apart, and its place in output dots.
struct tagINKAREA {
    unsigned char *image;
    unsigned int dwLength;
    tagRECT rect;
    int32_t left; // rect's left and top, not below 0
    int32_t top;
    int64_t W;
    int64_t H;
    int64_t S;
};

enum { kPageBlank, kPageInked, kPageNoMemory };

int OrientationCode(int16_t orientation, int16_t rotate90, int64_t rotation) {
    if (orientation == 1) {
        if (rotate90 == 0) {
            return rotation == 1 ? 1 : 3;
        }
        if (rotate90 == 1) {
            return rotation == 1 ? 0 : (rotation == 0 ? 2 : 3);
        }
        return 3;
    }
    if (orientation == 2) {
        if (rotate90 == 0) {
            return rotation == 0 ? 0 : (rotation == 1 ? 2 : 3);
        }
        if (rotate90 == 1) {
            return rotation == 1 ? 1 : 3;
        }
    }
    return 3;
}

tagCONVERSION ConversionSettings(const tagOEMCFG &cfg, const _DEVMODE &dm) {
    tagCONVERSION c;
    c.nOrientation = OrientationCode(dm.dmOrientation, cfg.sRotate90, cfg.sRotation);
    // Offsets are in tenths of a millimetre; a direction other than 0 or 1
    // means no offset.
    c.dx = 0;
    c.dy = 0;
    if (cfg.sHrzOffset != 0 || cfg.sVtcOffset != 0) {
        int32_t kx = rvc_render::TenthsToDots(cfg.sHrzOffset, cfg.sOutputXDPI);
        int32_t ky = rvc_render::TenthsToDots(cfg.sVtcOffset, cfg.sOutputYDPI);
        c.dx = cfg.sHrzDir == 0 ? kx : (cfg.sHrzDir == 1 ? -kx : 0);
        c.dy = cfg.sVtcDir == 0 ? ky : (cfg.sVtcDir == 1 ? -ky : 0);
    }
    c.levels.fGamma = (float)cfg.nLevelsAdj / 100.0f;
    c.levels.byInLow = 0;
    c.levels.byInHigh = 255;
    c.levels.byOutLow = 0;
    c.levels.byOutHigh = 255;
    // No maximum width configured means no limit, not a limit of 0 dots.
    c.maxWidth = cfg.sMaxOutputWidth == 0
                     ? INT32_MAX
                     : rvc_render::MmToDots(cfg.sMaxOutputWidth, cfg.sOutputXDPI);
    return c;
}

// The grey image of the page's inked area. A page without ink, or with ink
// in a single output row, is blank: nothing to print.
int ConvertPage(CBmpProcessing &proc, const tagOEMCFG &cfg, const _OEMPDEV &pdev,
                const tagCONVERSION &c, tagINKAREA *ink) {
    // The conversion rewrites the header it is given for an empty page; the
    // page-device state keeps the first page's description.
    tagBITMAPINFOHEADER header = pdev.bmInfoHeader;
    ink->rect.left = 0;
    ink->rect.top = 0;
    ink->rect.right = Low32((int64_t)header.biWidth - 1);
    ink->rect.bottom = Low32((int64_t)header.biHeight - 1);
    ink->image = nullptr;
    ink->dwLength = 0;
    RVC_TRACE("TSPLRenderClass", __LINE__, "biWidth:%d, biHeight:%d, dwDataBuf2Len:%d",
              (int)pdev.bmInfoHeader.biWidth, (int)pdev.bmInfoHeader.biHeight, (int)ink->dwLength);
    proc.CoverBMP2OutputFormat(pdev.bufStart, pdev.dwBufSize, &ink->image, &ink->dwLength, &header,
                               &ink->rect, c.nOrientation, c.dx, c.dy, c.levels, cfg.sMirror,
                               cfg.nBrightness, cfg.nContrast, c.maxWidth);
    const tagRECT &r = ink->rect;
    if (r.right == r.left || r.bottom == r.top) {
        return kPageBlank;
    }
    ink->left = r.left > 0 ? r.left : 0;
    ink->top = r.top > 0 ? r.top : 0;
    ink->W = (int64_t)r.right - ink->left + 1;
    ink->H = (int64_t)r.bottom - ink->top + 1;
    if (ink->W <= 0 || ink->H <= 0) {
        return kPageBlank;
    }
    ink->S = ((8 * ink->W + 31) / 32) * 4;
    const int64_t needed = ink->S * ink->H;
    if (ink->image == nullptr || (int64_t)ink->dwLength < needed || needed > INT32_MAX) {
        return kPageNoMemory;
    }
    return kPageInked;
}

// Two levels: adaptive thresholding (method 4) or one of the dithers. 0 when
// memory ran out.
int Binarise(CBmpProcessing &proc, const tagOEMCFG &cfg, tagINKAREA *ink) {
    if (cfg.sHalftoneMethod == 4) {
        unsigned char *out = nullptr;
        int outLength = 0;
        bool ok = AdaptiveThreshold(ink->image, (int)ink->W, (int)ink->H, (int)ink->S, &out,
                                    &outLength, cfg.bNegative, 0, 64, 0, 0.5f);
        // A failed threshold leaves the grey image, every non-white byte a dot.
        if (ok && out != nullptr && (int64_t)outLength >= ink->S * ink->H) {
            free(ink->image);
            ink->image = out;
            ink->dwLength = (unsigned int)outLength;
        } else {
            free(out);
        }
        return 1;
    }
    unsigned char *scratch = (unsigned char *)malloc(ink->dwLength);
    if (scratch == nullptr) {
        return 0;
    }
    memset(scratch, 255, ink->dwLength);
    proc.Dither(cfg.sHalftoneMethod, ink->image, scratch, (unsigned int)ink->H,
                (unsigned int)ink->W, (unsigned int)ink->S, 0, cfg.bNegative);
    free(ink->image);
    ink->image = scratch;
    return 1;
}

// Long solid lines become dashes, lengths converted at the output resolution.
void DashLongLines(CBmpProcessing &proc, const tagOEMCFG &cfg, const _DEVMODE &dm,
                   const tagINKAREA &ink) {
    if (cfg.sIsLineImaginary == 0 || ink.H <= 0 || dm.dmPrintQuality == 0) {
        return;
    }
    int32_t black = rvc_render::MmToDots(cfg.sBlackInterval, cfg.sOutputXDPI);
    int32_t white = rvc_render::MmToDots(cfg.sWhiteInterval, cfg.sOutputXDPI);
    proc.DashSolidLines(ink.image, (int)ink.W, (int)ink.H, (int)ink.S, cfg.sMinImaginaryLineLen,
                        dm.dmPrintQuality, Low16(black), Low16(white), 8);
}

// The bitmap's place on the label; mirrored about the label width.
tagRECT PlaceOnLabel(const tagOEMCFG &cfg, const _OEMPDEV &pdev, const tagINKAREA &ink) {
    tagRECT q;
    q.left = ink.left;
    q.top = ink.top;
    q.right = ink.rect.right;
    q.bottom = ink.rect.bottom;
    if (cfg.sMirror != 0) {
        q.left = Low32((int64_t)pdev.nSizeWidth - ink.rect.right);
        q.right = Low32((int64_t)pdev.nSizeWidth - ink.left);
    }
    return q;
}

// Packs one two-level row: every byte other than 255 clears its bit (a dot).
// Unmirrored, pixel i sits at bit position off + i; mirrored, the row is read
// from its right end and pixel i sits at bit position i. Whole bytes go eight
// pixels at a time: the mask keeps the bits of the white pixels. The
// direction is a template argument, so the pixel loops carry no test of it.
template <bool Mirrored>
void PackRow(const unsigned char *src, unsigned char *out, int32_t count, int32_t off,
             int32_t last) {
    const unsigned char *s = Mirrored ? src + last : src;
    const int32_t shift = Mirrored ? 0 : off;
    int32_t i = 0;
    for (unsigned mask = 0; shift == 0 && i + 8 <= count; i += 8, mask = 0) {
        for (int k = 0; k < 8; ++k)
            mask |= (unsigned)((Mirrored ? s[-(i + k)] : s[i + k]) == 255) << (7 - k);
        out[i >> 3] &= (unsigned char)mask;
    }
    for (int32_t p = shift + i; i < count; ++i, ++p)
        out[p >> 3] &= (unsigned char)~(((Mirrored ? s[-i] : s[i]) != 255) << (7 - (p & 7)));
}

// The 1-bit rows of the page at q (malloc'ed, N bytes); null when memory ran
// out. A row ends where its bits would leave the bitmap; with the inked
// area's width a multiple of 8 every pixel fits.
unsigned char *PackBitmap(const tagINKAREA &ink, const tagRECT &q, bool mirrored, int64_t *N) {
    // Locals throughout: the bitmap's byte stores could alias anything read
    // through a pointer.
    const int64_t W = ink.W;
    const int64_t H = ink.H;
    const int64_t S = ink.S;
    const unsigned char *image = ink.image;
    const int32_t left8 = q.left / 8 * 8;
    const int64_t BW = ((int64_t)q.right - left8 + 8) / 8;
    const int64_t size = H * BW;
    *N = size;
    if (BW <= 0 || size > INT32_MAX) {
        return nullptr;
    }
    unsigned char *bitmap = (unsigned char *)malloc((size_t)size);
    if (bitmap == nullptr) {
        return nullptr;
    }
    memset(bitmap, 255, (size_t)size);
    const int32_t off = q.left % 8;
    const int64_t lastColumn = (int64_t)q.right - q.left;
    // The mirrored read starts at the row's right end, which must lie in the
    // row.
    const int32_t last = (int32_t)(lastColumn < W ? lastColumn : W - 1);
    for (int64_t r = 0; r < H; ++r) {
        const int64_t rowStart = r * BW;
        if (rowStart >= size) {
            break;
        }
        int64_t room = (size - rowStart) * 8;
        int64_t count = room - off;
        if (mirrored && count > room) {
            count = room;
        }
        if (count < 1) {
            count = 1;
        }
        if (count > W) {
            count = W;
        }
        if (mirrored && last < count - 1) {
            count = last + 1;
        }
        if (mirrored) {
            PackRow<true>(image + r * S, bitmap + rowStart, (int32_t)count, off, last);
        } else {
            PackRow<false>(image + r * S, bitmap + rowStart, (int32_t)count, off, last);
        }
    }
    return bitmap;
}

// dpi x offset / resolution in 32-bit arithmetic; a zero resolution gives no
// shift rather than a division by zero.
int32_t PhysShift(int32_t dpi, int32_t offset, int32_t resolution) {
    if (resolution == 0) {
        return 0;
    }
    return Low32((int64_t)Low32((int64_t)dpi * offset) / resolution);
}

// Moves the bitmap by the printable area's offsets, turned with the page.
void ShiftByPhysOffsets(int orientation, const tagOEMCFG &cfg, const _DEVMODE &dm,
                        const _OEMPDEV &pdev, tagRECT *q) {
    const int32_t shiftX =
        PhysShift(cfg.sOutputXDPI, pdev.srcGdiInfo.ptlPhysOffset.x, dm.dmPrintQuality);
    const int32_t shiftY =
        PhysShift(cfg.sOutputYDPI, pdev.srcGdiInfo.ptlPhysOffset.y, dm.dmYResolution);
    int32_t across = 0;
    int32_t along = 0;
    if (orientation == 3) {
        across = shiftX;
        along = shiftY;
    } else if (orientation == 0) {
        across = shiftY;
    } else if (orientation == 2) {
        along = shiftX;
    }
    q->left = Low32((int64_t)q->left + across);
    q->right = Low32((int64_t)q->right + across);
    q->top = Low32((int64_t)q->top + along);
    q->bottom = Low32((int64_t)q->bottom + along);
}

} // namespace

int CTSPLRenderClass::TransCommand(int isLast) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method TransCommand in");
    CBmpProcessing proc;
    if (pOemCfg == nullptr || pOemPdev == nullptr || pDevMode == nullptr ||
        pOemPdev->bufStart == nullptr) {
        return 0;
    }
    const tagCONVERSION conversion = ConversionSettings(*pOemCfg, *pDevMode);
    tagINKAREA ink;
    int converted = ConvertPage(proc, *pOemCfg, *pOemPdev, conversion, &ink);
    if (converted == kPageBlank) {
        free(ink.image);
        return 1;
    }
    int64_t N = 0;
    unsigned char *bitmap = nullptr;
    if (converted == kPageInked && Binarise(proc, *pOemCfg, &ink) != 0) {
        tagRECT q = PlaceOnLabel(*pOemCfg, *pOemPdev, ink);
        DashLongLines(proc, *pOemCfg, *pDevMode, ink);
        bitmap = PackBitmap(ink, q, pOemCfg->sMirror != 0, &N);
        if (bitmap != nullptr) {
            ShiftByPhysOffsets(conversion.nOrientation, *pOemCfg, *pDevMode, *pOemPdev, &q);
            // Once a write has failed nothing more goes out: the job is ending.
            if (OutputStreamFailed(pOutput)) {
                free(bitmap);
            } else {
                OutPutPageCommands(q, bitmap, (unsigned int)N, (int)ink.H, isLast);
            }
        }
    }
    free(ink.image);
    if (bitmap == nullptr) {
        ReportError("Unable to allocate memory for the page bitmap");
        return 0;
    }
    return 1;
}
