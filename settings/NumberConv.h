// Number conventions shared by the settings, the renderer and the page loop:
// 32-bit arithmetic that wraps instead of overflowing, narrow members that
// keep the low bits, and raster-header enumerations read as stored.
#ifndef RVC_SETTINGS_NUMBERCONV_H
#define RVC_SETTINGS_NUMBERCONV_H

#include <cstdint>
#include <cstring>

// The low 32 bits of a wider result, as a signed number: products and sums
// are formed in 64 bits and cut back, so extreme settings wrap.
inline int32_t Low32(int64_t v) {
    return (int32_t)(uint32_t)(uint64_t)v;
}

// The low 16 bits, as a signed number: what a 16-bit member keeps.
inline int16_t Low16(int64_t v) {
    return (int16_t)(uint16_t)(uint64_t)v;
}

// A raster header's enumeration member holds whatever the stream carried; it
// is read as the 32-bit number it is stored as, since loading an enumeration
// outside its values is undefined.
template <typename E> int RawEnum(const E &member) {
    static_assert(sizeof(E) == sizeof(int), "enumerations of the header are 32-bit");
    int v;
    memcpy(&v, &member, sizeof(v));
    return v;
}

#endif
