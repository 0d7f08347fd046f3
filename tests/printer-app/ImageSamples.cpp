#include "ImageSamples.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

namespace imgtest {

namespace {

struct Rgb {
    int r, g, b;
};

// Colour bars (pure red, green, blue, yellow) on top, a grey ramp in the
// middle, a colour gradient below with a checkerboard of 2-pixel cells; a
// black frame and a diagonal across. Pure colours print differently by their
// red byte and by their luma; the checkerboard shows every sampling step.
Rgb Picture(int x, int y, int w, int h) {
    const int frame = w / 60 + 1;
    if (x < frame || y < frame || x >= w - frame || y >= h - frame)
        return {0, 0, 0};
    const long dx = (long)x * h - (long)y * w;
    if (labs(dx) < 2L * (w > h ? w : h))
        return {0, 0, 0};
    if (y < h / 3) {
        static const Rgb bars[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
        return bars[x * 4 / w];
    }
    if (y < 2 * h / 3) {
        const int v = x * 255 / (w - 1);
        return {v, v, v};
    }
    if (x > w * 3 / 4 && y > h * 5 / 6) {
        const int v = ((x / 2 + y / 2) & 1) ? 255 : 0;
        return {v, v, v};
    }
    return {x * 255 / (w - 1), (h - 1 - y) * 255 / (h - 1), (x + y) * 255 / (w + h - 2)};
}

int Grey(const Rgb &c) {
    return (c.r * 30 + c.g * 59 + c.b * 11) / 100;
}

// Opaque on the left half, fading out towards the bottom on the right.
int Alpha(int x, int y, int w, int h) {
    return x < w / 2 ? 255 : 255 - y * 255 / (h - 1);
}

void Append(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string *>(png_get_io_ptr(png))->append((const char *)data, length);
}

// A 16-bit sample with a varying low byte, so that scaling to 8 bits has
// something to round.
void Put16(std::vector<png_byte> &row, size_t &at, int v, int x, int y) {
    const int s = v * 257 ^ ((x * 31 + y * 17) & 0x7f);
    row[at++] = (png_byte)(s >> 8);
    row[at++] = (png_byte)s;
}

} // namespace

std::string Png(const PngImage &want) {
    std::string out;
    // No setjmp: a failure to write a test image aborts the test.
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, Append, nullptr);
    png_set_compression_level(png, 1);
    const int w = want.width, h = want.height, type = want.colorType, depth = want.bitDepth;
    png_set_IHDR(png, info, w, h, depth, type,
                 want.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    const bool palette = type == PNG_COLOR_TYPE_PALETTE;
    // Palette entries: 2 levels of red and green, 4 of blue at 4 bits; 4
    // levels each at 8 bits.
    const int levels = depth == 8 ? 4 : 2;
    if (palette) {
        std::vector<png_color> colours;
        std::vector<png_byte> alphas;
        for (int r = 0; r < levels; ++r)
            for (int g = 0; g < levels; ++g)
                for (int b = 0; b < 4; ++b) {
                    colours.push_back({(png_byte)(r * 255 / (levels - 1)),
                                       (png_byte)(g * 255 / (levels - 1)), (png_byte)(b * 85)});
                    alphas.push_back((png_byte)(255 - colours.size() * 3));
                }
        png_set_PLTE(png, info, colours.data(), (int)colours.size());
        if (want.trns) {
            png_set_tRNS(png, info, alphas.data(), (int)alphas.size(), nullptr);
        }
    } else if (want.trns) {
        png_color_16 transparent{};
        transparent.gray = 0; // the frame and the diagonal
        png_set_tRNS(png, info, nullptr, 0, &transparent);
    }
    if (want.ppmX != 0)
        png_set_pHYs(png, info, want.ppmX, want.ppmY, PNG_RESOLUTION_METER);
    png_write_info(png, info);

    const int channels = png_get_channels(png, info);
    std::vector<std::vector<png_byte>> rows(h);
    std::vector<png_bytep> pointers(h);
    for (int y = 0; y < h; ++y) {
        std::vector<png_byte> &row = rows[y];
        row.assign(((size_t)w * channels * depth + 7) / 8 + 1, 0);
        size_t at = 0;
        for (int x = 0; x < w; ++x) {
            const Rgb c = Picture(x, y, w, h);
            const int grey = Grey(c), alpha = Alpha(x, y, w, h);
            if (palette) {
                const int index =
                    ((c.r * levels / 256) * levels + c.g * levels / 256) * 4 + c.b / 64;
                if (depth == 8) {
                    row[at++] = (png_byte)index;
                } else { // 4 bits, high nibble first
                    row[x / 2] |= (png_byte)(index << (x % 2 ? 0 : 4));
                }
            } else if (depth < 8) { // 1-bit grey
                if (grey >= 128) {
                    row[x / 8] |= (png_byte)(0x80 >> (x % 8));
                }
            } else if (depth == 16) {
                if (type & PNG_COLOR_MASK_COLOR) {
                    Put16(row, at, c.r, x, y), Put16(row, at, c.g, x, y), Put16(row, at, c.b, x, y);
                } else {
                    Put16(row, at, grey, x, y);
                }
                if (type & PNG_COLOR_MASK_ALPHA) {
                    Put16(row, at, alpha, x, y);
                }
            } else {
                if (type & PNG_COLOR_MASK_COLOR) {
                    row[at++] = (png_byte)c.r, row[at++] = (png_byte)c.g, row[at++] = (png_byte)c.b;
                } else {
                    row[at++] = (png_byte)grey;
                }
                if (type & PNG_COLOR_MASK_ALPHA)
                    row[at++] = (png_byte)alpha;
            }
        }
        pointers[y] = row.data();
    }
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::string Jpeg(const JpegImage &want) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    // libjpeg's default error handler ends the test on a failure.
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = (JDIMENSION)want.width;
    cinfo.image_height = (JDIMENSION)want.height;
    cinfo.input_components = want.components;
    cinfo.in_color_space = want.components == 1   ? JCS_GRAYSCALE
                           : want.components == 4 ? JCS_CMYK
                                                  : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 85, TRUE);
    cinfo.density_unit = (UINT8)want.densityUnit;
    cinfo.X_density = (UINT16)want.xDensity;
    cinfo.Y_density = (UINT16)want.yDensity;
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row((size_t)want.width * want.components);
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = (int)cinfo.next_scanline;
        for (int x = 0; x < want.width; ++x) {
            const Rgb c = Picture(x, y, want.width, want.height);
            JSAMPLE *p = &row[(size_t)x * want.components];
            if (want.components == 1) {
                p[0] = (JSAMPLE)Grey(c);
            } else if (want.components == 3) {
                p[0] = (JSAMPLE)c.r, p[1] = (JSAMPLE)c.g, p[2] = (JSAMPLE)c.b;
            } else {
                // Ink from the colour, stored inverted as Adobe's programs do.
                const int k = 255 - std::max(c.r, std::max(c.g, c.b));
                const int white = 255 - k;
                auto ink = [&](int v) { return white ? (white - v) * 255 / white : 0; };
                p[0] = (JSAMPLE)(255 - ink(c.r)), p[1] = (JSAMPLE)(255 - ink(c.g));
                p[2] = (JSAMPLE)(255 - ink(c.b)), p[3] = (JSAMPLE)(255 - k);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string out((const char *)buffer, size);
    free(buffer);
    return out;
}

std::string Resized(const std::string &image, Format format, int width, int height) {
    std::string out = image;
    auto put16 = [&](size_t at, int v) { out[at] = (char)(v >> 8), out[at + 1] = (char)v; };
    if (format == Format::Png) {
        // The IHDR chunk follows the signature: length, type, width, height.
        for (int i = 0; i < 4; ++i) {
            out[16 + i] = (char)(width >> (24 - 8 * i));
            out[20 + i] = (char)(height >> (24 - 8 * i));
        }
        const uLong crc = crc32(0, (const Bytef *)out.data() + 12, 17);
        for (int i = 0; i < 4; ++i)
            out[29 + i] = (char)(crc >> (24 - 8 * i));
        return out;
    }
    // The frame header: FF C0, length, precision, height, width.
    const size_t sof = out.find("\xff\xc0");
    put16(sof + 5, height);
    put16(sof + 7, width);
    return out;
}

namespace {

struct Named {
    const char *name;
    Format format;
    PngImage png;
    JpegImage jpeg;
};

// 11811 pixels per metre is 300 pixels per inch.
const Named kSamples[] = {
    {"png-grey", Format::Png, {300, 200, PNG_COLOR_TYPE_GRAY}},
    {"png-rgb", Format::Png, {240, 360, PNG_COLOR_TYPE_RGB}},
    {"png-palette", Format::Png, {200, 120, PNG_COLOR_TYPE_PALETTE}},
    {"png-palette4-trns", Format::Png, {150, 90, PNG_COLOR_TYPE_PALETTE, 4, false, true}},
    {"png-grey-alpha", Format::Png, {160, 160, PNG_COLOR_TYPE_GRAY_ALPHA}},
    {"png-rgba", Format::Png, {200, 300, PNG_COLOR_TYPE_RGB_ALPHA}},
    {"png-grey-trns", Format::Png, {180, 120, PNG_COLOR_TYPE_GRAY, 8, false, true}},
    {"png-rgb16", Format::Png, {100, 80, PNG_COLOR_TYPE_RGB, 16}},
    {"png-grey16-alpha", Format::Png, {120, 90, PNG_COLOR_TYPE_GRAY_ALPHA, 16}},
    {"png-grey1", Format::Png, {256, 128, PNG_COLOR_TYPE_GRAY, 1}},
    {"png-rgb-interlaced", Format::Png, {210, 140, PNG_COLOR_TYPE_RGB, 8, true}},
    {"png-grey-300ppi",
     Format::Png,
     {600, 360, PNG_COLOR_TYPE_GRAY, 8, false, false, 11811, 11811}},
    {"png-grey-large", Format::Png, {2000, 1400, PNG_COLOR_TYPE_GRAY}},
    {"jpeg-grey", Format::Jpeg, {}, {320, 240, 1}},
    {"jpeg-rgb", Format::Jpeg, {}, {240, 320, 3}},
    {"jpeg-rgb-150dpi", Format::Jpeg, {}, {300, 210, 3, 1, 150, 150}},
    {"jpeg-grey-dpcm", Format::Jpeg, {}, {400, 300, 1, 2, 118, 118}},
    {"jpeg-rgb-large", Format::Jpeg, {}, {1800, 1200, 3}},
    {"jpeg-cmyk", Format::Jpeg, {}, {200, 150, 4}},
};

} // namespace

std::string Sample(const std::string &name, Format *format) {
    for (const Named &s : kSamples) {
        if (name == s.name) {
            if (format != nullptr)
                *format = s.format;
            return s.format == Format::Png ? Png(s.png) : Jpeg(s.jpeg);
        }
    }
    return "";
}

} // namespace imgtest
