// Page image operations: conversion to the grey image of the inked area,
// halftoning, adaptive thresholding and solid-line dashing.
#ifndef RVC_IMAGING_BMPPROCESSING_H
#define RVC_IMAGING_BMPPROCESSING_H

#include <cstdint>

#include "settings/bitmap_types.h"

struct COLORLEVELSITEM {
    float fGamma;
    unsigned char byInLow;
    unsigned char byInHigh;
    unsigned char byOutLow;
    unsigned char byOutHigh;
};
static_assert(sizeof(COLORLEVELSITEM) == 8, "levels item layout");

class CBmpProcessing {
  public:
    CBmpProcessing();
    virtual ~CBmpProcessing();

    void SetColorLevelsData(COLORLEVELSITEM *item, int index);
    void InitColorLevelsTable(int index);

    // 1 on success (an empty page included), 0 when a caller's buffer is too
    // small. The output buffer is malloc'ed unless the caller supplies one.
    int CoverBMP2OutputFormat(unsigned char *src, unsigned int srcLength, unsigned char **out,
                              unsigned int *outLength, tagBITMAPINFOHEADER *header, tagRECT *rect,
                              int orientation, int dx, int dy, COLORLEVELSITEM levels, int mirror,
                              int brightness, int contrast, int maxWidth);

    // Two-level image into dst; methods 1, 2, 3, 5, 6, 7, 8, 9. Always 1.
    int Dither(int method, unsigned char *src, unsigned char *dst, unsigned int height,
               unsigned int width, unsigned int stride, unsigned int unused, int negative);

    // Cuts one black run into dashes; 0 for a null start, else 1.
    int ResetBlackLineData(unsigned char *start, unsigned int length, short black, short white,
                           short bitsPerPixel);

    // The dashing pass over a two-level 8-bit image: every horizontal black
    // run of at least minLengthMm millimetres (at dpi dots per inch) is cut
    // into black/white dashes of the given lengths in dots.
    void DashSolidLines(unsigned char *image, int width, int height, int stride, short minLengthMm,
                        short dpi, short black, short white, short bitsPerPixel);

    COLORLEVELSITEM m_LevelsItem[4];
    unsigned char m_LevelsTable[4][256];
    unsigned char m_LevelsTableReady[4];
    int16_t m_BrightContrastTable[256];
};

// Block-wise adaptive thresholding; output is calloc'ed, owned by the caller.
bool AdaptiveThreshold(const unsigned char *src, int width, int height, int stride,
                       unsigned char **out, int *outLength, int negative, int method, int blockSize,
                       int offset, float weight);
// Threshold 0..254 of the image (or region), or -1.
int OptimalThreshold(int method, const unsigned char *data, int width, int height, int stride,
                     tagRECT *region);
// Bilinear enlargement; 1 on success, 0 for an empty target.
int Resample(const unsigned char *src, int srcWidth, int srcHeight, int srcStride, int dstWidth,
             int dstHeight, unsigned char **dst);

#endif
