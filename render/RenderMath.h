// Integer helpers of the renderer. Dot sizes are 32-bit values: products and
// sums are formed wider and cut back to their low 32 bits, so extreme
// settings wrap instead of overflowing.
#ifndef RVC_RENDER_RENDERMATH_H
#define RVC_RENDER_RENDERMATH_H

#include <cstdint>

namespace rvc_render {

inline int32_t Low32(int64_t v) { return (int32_t)(uint32_t)(uint64_t)v; }

// dpi x dots / resolution, truncating toward zero; resolution must not be 0.
inline int32_t ScaleDots(int32_t dpi, int32_t dots, int32_t resolution) {
    return Low32((int64_t)Low32((int64_t)dpi * dots) / resolution);
}

// Raised to a multiple of 8 dots (one bitmap byte).
inline int32_t Up8(int32_t v) { return Low32((int64_t)Low32((int64_t)v + 7) / 8 * 8); }

// Upright: portrait without the quarter turn, or landscape with it; every
// other pair turns the page on the label.
inline bool IsUpright(int16_t orientation, int16_t rotate90) {
    return (orientation == 1 && rotate90 == 0) || (orientation == 2 && rotate90 == 1);
}

} // namespace rvc_render

#endif
