// Dot arithmetic of the renderer. Dot sizes are 32-bit values: products and
// sums are formed wider and cut back to their low 32 bits (Low32), so extreme
// settings wrap instead of overflowing.
#ifndef RVC_RENDER_RENDERMATH_H
#define RVC_RENDER_RENDERMATH_H

#include <cstdint>

#include "settings/NumberConv.h"
#include "settings/devmode.h"
#include "settings/oemcfg.h"

namespace rvc_render {

// truncate(x) toward zero; values beyond the int range are pinned to it, so
// absurd settings stay defined instead of overflowing the conversion.
inline int32_t TruncToInt(double x) {
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

// Lengths in the settings to printer dots, rounded to the nearest dot:
// millimetres x 1000 / 25400 inches, tenths of a millimetre x 100 / 25400.
// Both factors are whole numbers far below 2^53, so their product is exact
// and the order in which a caller names them cannot change a result.
inline int32_t MmToDots(int64_t mm, int32_t dpi) {
    return TruncToInt((double)mm * 1000.0 * dpi / 25400.0 + 0.5);
}
inline int32_t TenthsToDots(int64_t tenths, int32_t dpi) {
    return TruncToInt((double)tenths * 100.0 * dpi / 25400.0 + 0.5);
}

// dpi x dots / resolution, truncating toward zero; resolution must not be 0.
inline int32_t ScaleDots(int32_t dpi, int32_t dots, int32_t resolution) {
    return Low32((int64_t)Low32((int64_t)dpi * dots) / resolution);
}

// Raised to a multiple of 8 dots (one bitmap byte).
inline int32_t Up8(int32_t v) {
    return Low32((int64_t)Low32((int64_t)v + 7) / 8 * 8);
}

// Upright: portrait without the quarter turn, or landscape with it; every
// other pair turns the page on the label.
inline bool IsUpright(int16_t orientation, int16_t rotate90) {
    return (orientation == 1 && rotate90 == 0) || (orientation == 2 && rotate90 == 1);
}

// The label width in dots for the page geometry, before the maximum width
// applies: the page's width across the print head, in output dots, raised to
// whole bitmap bytes. 0 (no width) when a resolution is 0.
inline int LabelWidthDots(const tagOEMCFG &cfg, const _DEVMODE &dm, const _OEMPDEV &pdev,
                          int32_t *width) {
    if (dm.dmPrintQuality == 0 || dm.dmYResolution == 0) {
        return 0;
    }
    if (IsUpright(dm.dmOrientation, cfg.sRotate90)) {
        *width = Up8(ScaleDots(cfg.sOutputXDPI, pdev.srcGdiInfo.szlPhysSize.cx, dm.dmPrintQuality));
    } else {
        *width = Up8(ScaleDots(cfg.sOutputXDPI, pdev.srcGdiInfo.szlPhysSize.cy, dm.dmYResolution));
    }
    return 1;
}

} // namespace rvc_render

#endif
