// Plain image records shared by the settings, the renderer and the imaging.
#ifndef RVC_SETTINGS_BITMAP_TYPES_H
#define RVC_SETTINGS_BITMAP_TYPES_H

#include <cstdint>

#pragma pack(push, 1)
// The published 40-byte bitmap information header.
struct tagBITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(tagBITMAPINFOHEADER) == 40, "bitmap header layout");

// Edges are inclusive where the renderer and the conversion use it.
struct tagRECT {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

struct tagPOINT {
    int32_t x;
    int32_t y;
};

struct tagSIZE {
    int32_t cx;
    int32_t cy;
};

#endif
