// Page emission: the held page buffer becomes a packed 1-bit bitmap of its
// inked area, placed on the label and handed to the page commands.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "imaging/BmpProcessing.h"
#include "log/ILogManager.h"
#include "render/TSPLRenderClass.h"

namespace {

int32_t Wrap32(int64_t v) { return (int32_t)(uint32_t)(uint64_t)v; }

// truncate(x) toward zero; values beyond the int range are pinned to it, so
// absurd offsets stay defined instead of overflowing the conversion.
int32_t TruncToInt(double x) {
    if (!(x == x)) {
        return 0;
    }
    if (x >= 2147483647.0) {
        return INT32_MAX;
    }
    if (x <= -2147483647.0) {
        return -INT32_MAX;
    }
    return (int32_t)x;
}

// The quarter-turn code of the conversion: 3 as is, 0 counter-clockwise,
// 1 half turn, 2 clockwise.
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

// dpi x offset / resolution in 32-bit arithmetic; a zero resolution gives no
// shift rather than a division by zero.
int32_t PhysShift(int32_t dpi, int32_t offset, int32_t resolution) {
    if (resolution == 0) {
        return 0;
    }
    return Wrap32((int64_t)Wrap32((int64_t)dpi * offset) / resolution);
}

void ReportNoMemory() {
    fputs("\nERROR: Unable to allocate memory for the page bitmap\n", stderr);
}

// Packs one two-level row: every byte other than 255 clears its bit (a dot).
// Unmirrored, pixel i sits at bit position off + i; mirrored, the row is read
// from its right end and pixel i sits at bit position i. Whole bytes go eight
// pixels at a time: the mask keeps the bits of the white pixels.
void PackRow(const unsigned char *src, unsigned char *out, int32_t count, int32_t off,
             bool mirrored, int32_t last) {
    const unsigned char *s = mirrored ? src + last : src;
    const int32_t shift = mirrored ? 0 : off;
    int32_t i = 0;
    for (unsigned mask = 0; shift == 0 && i + 8 <= count; i += 8, mask = 0) {
        for (int k = 0; k < 8; ++k)
            mask |= (unsigned)((mirrored ? s[-(i + k)] : s[i + k]) == 255) << (7 - k);
        out[i >> 3] &= (unsigned char)mask;
    }
    for (int32_t p = shift + i; i < count; ++i, ++p)
        out[p >> 3] &= (unsigned char)~(((mirrored ? s[-i] : s[i]) != 255) << (7 - (p & 7)));
}

} // namespace

int CTSPLRenderClass::TransCommand(int isLast) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method TransCommand in");
    CBmpProcessing proc;
    if (pOemCfg == nullptr || pOemPdev == nullptr || pDevMode == nullptr ||
        pOemPdev->bufStart == nullptr) {
        return 0;
    }
    const tagOEMCFG &cfg = *pOemCfg;
    const _DEVMODE &dm = *pDevMode;
    _OEMPDEV &pdev = *pOemPdev;

    // The conversion rewrites the header it is given for an empty page; the
    // page-device state keeps the first page's description.
    tagBITMAPINFOHEADER header = pdev.bmInfoHeader;
    tagRECT rect;
    rect.left = 0;
    rect.top = 0;
    rect.right = Wrap32((int64_t)header.biWidth - 1);
    rect.bottom = Wrap32((int64_t)header.biHeight - 1);
    unsigned char *image = nullptr;
    unsigned int imageLength = 0;

    const int orientation = OrientationCode(dm.dmOrientation, cfg.sRotate90, cfg.sRotation);

    // Offsets are in tenths of a millimetre.
    int32_t dx = 0;
    int32_t dy = 0;
    if (cfg.sHrzOffset != 0 || cfg.sVtcOffset != 0) {
        int32_t kx = TruncToInt((double)cfg.sHrzOffset * 100.0 * cfg.sOutputXDPI / 25400.0 + 0.5);
        int32_t ky =
            TruncToInt(cfg.sOutputYDPI * (100.0 * (double)cfg.sVtcOffset) / 25400.0 + 0.5);
        dx = cfg.sHrzDir == 0 ? kx : (cfg.sHrzDir == 1 ? -kx : 0);
        dy = cfg.sVtcDir == 0 ? ky : (cfg.sVtcDir == 1 ? -ky : 0);
    }

    COLORLEVELSITEM levels;
    levels.fGamma = (float)cfg.nLevelsAdj / 100.0f;
    levels.byInLow = 0;
    levels.byInHigh = 255;
    levels.byOutLow = 0;
    levels.byOutHigh = 255;

    // No maximum width configured means no limit, not a limit of 0 dots.
    int32_t maxWidth = TruncToInt(cfg.sOutputXDPI * (1000.0 * cfg.sMaxOutputWidth) / 25400.0 + 0.5);
    if (cfg.sMaxOutputWidth == 0) {
        maxWidth = INT32_MAX;
    }

    RVC_TRACE("TSPLRenderClass", __LINE__, "biWidth:%d, biHeight:%d, dwDataBuf2Len:%d",
              (int)pdev.bmInfoHeader.biWidth, (int)pdev.bmInfoHeader.biHeight, (int)imageLength);
    proc.CoverBMP2OutputFormat(pdev.bufStart, pdev.dwBufSize, &image, &imageLength, &header, &rect,
                               orientation, dx, dy, levels, cfg.sMirror, cfg.nBrightness,
                               cfg.nContrast, maxWidth);

    // No ink, or ink in a single output row: nothing to print.
    if (rect.right == rect.left || rect.bottom == rect.top) {
        free(image);
        return 1;
    }

    const int32_t L = rect.left > 0 ? rect.left : 0;
    const int32_t T = rect.top > 0 ? rect.top : 0;
    const int64_t W = (int64_t)rect.right - L + 1;
    const int64_t H = (int64_t)rect.bottom - T + 1;
    if (W <= 0 || H <= 0) {
        free(image);
        return 1;
    }
    const int64_t S = ((8 * W + 31) / 32) * 4;
    const int64_t needed = S * H;
    if (image == nullptr || (int64_t)imageLength < needed || needed > INT32_MAX) {
        free(image);
        ReportNoMemory();
        return 0;
    }

    if (cfg.sHalftoneMethod == 4) {
        unsigned char *out = nullptr;
        int outLength = 0;
        bool ok = AdaptiveThreshold(image, (int)W, (int)H, (int)S, &out, &outLength,
                                    cfg.bNegative, 0, 64, 0, 0.5f);
        // A failed threshold leaves the grey image, every non-white byte a dot.
        if (ok && out != nullptr && (int64_t)outLength >= needed) {
            free(image);
            image = out;
            imageLength = (unsigned int)outLength;
        } else {
            free(out);
        }
    } else {
        unsigned char *scratch = (unsigned char *)malloc(imageLength);
        if (scratch == nullptr) {
            free(image);
            ReportNoMemory();
            return 0;
        }
        memset(scratch, 255, imageLength);
        proc.Dither(cfg.sHalftoneMethod, image, scratch, (unsigned int)H, (unsigned int)W,
                    (unsigned int)S, 0, cfg.bNegative);
        free(image);
        image = scratch;
    }

    tagRECT q;
    q.left = L;
    q.top = T;
    q.right = rect.right;
    q.bottom = rect.bottom;
    const bool mirrored = cfg.sMirror != 0;
    if (mirrored) {
        q.left = Wrap32((int64_t)pdev.nSizeWidth - rect.right);
        q.right = Wrap32((int64_t)pdev.nSizeWidth - L);
    }

    const int32_t left8 = q.left / 8 * 8;
    const int64_t BW = ((int64_t)q.right - left8 + 8) / 8;
    const int64_t N = H * BW;
    unsigned char *bitmap = nullptr;
    if (BW > 0 && N <= INT32_MAX) {
        bitmap = (unsigned char *)malloc((size_t)N);
    }
    if (bitmap == nullptr) {
        free(image);
        ReportNoMemory();
        return 0;
    }
    memset(bitmap, 255, (size_t)N);

    if (cfg.sIsLineImaginary != 0 && H > 0 && dm.dmPrintQuality != 0) {
        int32_t black =
            TruncToInt(cfg.sOutputXDPI * (1000.0 * cfg.sBlackInterval) / 25400.0 + 0.5);
        int32_t white =
            TruncToInt(cfg.sWhiteInterval * 1000.0 * cfg.sOutputXDPI / 25400.0 + 0.5);
        proc.DashSolidLines(image, (int)W, (int)H, (int)S, cfg.sMinImaginaryLineLen,
                            dm.dmPrintQuality, (short)(int16_t)(uint16_t)(uint32_t)black,
                            (short)(int16_t)(uint16_t)(uint32_t)white, 8);
    }

    // A row ends where its bits would leave the bitmap; with the inked area's
    // width a multiple of 8 every pixel fits.
    const int32_t off = q.left % 8;
    const int64_t lastColumn = (int64_t)q.right - q.left;
    for (int64_t r = 0; r < H; ++r) {
        const int64_t rowStart = r * BW;
        if (rowStart >= N) {
            break;
        }
        int64_t room = (N - rowStart) * 8;
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
        // The mirrored read starts at the row's right end, which must lie in
        // the row.
        int32_t last = (int32_t)(lastColumn < W ? lastColumn : W - 1);
        if (mirrored && last < count - 1) {
            count = last + 1;
        }
        PackRow(image + r * S, bitmap + rowStart, (int32_t)count, off, mirrored, last);
    }

    int32_t shiftX = PhysShift(cfg.sOutputXDPI, pdev.srcGdiInfo.ptlPhysOffset.x, dm.dmPrintQuality);
    int32_t shiftY = PhysShift(cfg.sOutputYDPI, pdev.srcGdiInfo.ptlPhysOffset.y, dm.dmYResolution);
    if (orientation == 3) {
        q.left = Wrap32((int64_t)q.left + shiftX);
        q.right = Wrap32((int64_t)q.right + shiftX);
        q.top = Wrap32((int64_t)q.top + shiftY);
        q.bottom = Wrap32((int64_t)q.bottom + shiftY);
    } else if (orientation == 0) {
        q.left = Wrap32((int64_t)q.left + shiftY);
        q.right = Wrap32((int64_t)q.right + shiftY);
    } else if (orientation == 2) {
        q.top = Wrap32((int64_t)q.top + shiftX);
        q.bottom = Wrap32((int64_t)q.bottom + shiftX);
    }

    // Once a write has failed nothing more goes out: the job is ending.
    if (ferror(stdout)) {
        free(bitmap);
    } else {
        OutPutPageCommands(q, bitmap, (unsigned int)N, (int)H, isLast);
    }
    free(image);
    return 1;
}
