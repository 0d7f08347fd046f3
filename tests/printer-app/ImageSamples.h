// Test images made here with libpng's and libjpeg's writers: one picture
// (colour bars, a grey ramp, a colour gradient, a fine checkerboard, a frame
// and a diagonal) in every encoding the app's image path distinguishes.
#ifndef VORCP_TESTS_PRINTERAPP_IMAGESAMPLES_H
#define VORCP_TESTS_PRINTERAPP_IMAGESAMPLES_H

#include <string>

namespace imgtest {

enum class Format { Png, Jpeg };

struct PngImage {
    int width = 0, height = 0;
    int colorType = 0; // PNG_COLOR_TYPE_*
    int bitDepth = 8;
    bool interlaced = false;
    bool trns = false;           // a tRNS chunk (grey: black is transparent)
    unsigned ppmX = 0, ppmY = 0; // pHYs in pixels per metre, 0: none
};

struct JpegImage {
    int width = 0, height = 0;
    int components = 3;  // 1 grey, 3 colour, 4 CMYK (Adobe's inverted storage)
    int densityUnit = 0; // JFIF: 0 none, 1 per inch, 2 per centimetre
    int xDensity = 1, yDensity = 1;
};

std::string Png(const PngImage &want);
std::string Jpeg(const JpegImage &want);

// The image with its header's width and height replaced (pixel data
// unchanged): a small file that claims a large image.
std::string Resized(const std::string &image, Format format, int width, int height);

// The named samples of the image case list; "" for an unknown name.
std::string Sample(const std::string &name, Format *format = nullptr);

} // namespace imgtest

#endif
