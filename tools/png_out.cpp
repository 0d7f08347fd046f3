#include "png_out.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tsplview {
namespace {

struct PngFailure {
    char message[200];
};

void onError(png_structp png, png_const_charp msg) {
    auto *f = static_cast<PngFailure *>(png_get_error_ptr(png));
    std::snprintf(f->message, sizeof f->message, "%s", msg);
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

// Everything that must survive a longjmp out of libpng is set up by the
// caller; this function holds no object with a destructor.
bool encode(std::FILE *file, png_uint_32 width, png_uint_32 height, const unsigned char *rows,
            std::size_t stride, PngFailure *failure) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, failure, onError, onWarning);
    if (png == nullptr) {
        std::snprintf(failure->message, sizeof failure->message, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(failure->message, sizeof failure->message, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (png_uint_32 y = 0; y < height; ++y)
        png_write_row(png, rows + std::size_t(y) * stride);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

bool writePng(const std::string &path, const Label &label, int scale, std::string &error) {
    if (label.width <= 0 || label.height <= 0) {
        error = "label of " + std::to_string(label.width) + " x " + std::to_string(label.height) +
                " dots has no picture";
        return false;
    }
    if (scale < 1)
        scale = 1;
    const std::size_t w = std::size_t(label.width) * scale, h = std::size_t(label.height) * scale;
    if (w > 0x7fffffffu || h > 0x7fffffffu) {
        error = "scaled picture too large for PNG";
        return false;
    }
    // Grey 1 is white: every bit starts set and a dot clears it.
    const std::size_t stride = (w + 7) / 8;
    std::vector<unsigned char> rows(stride * h, 0xff);
    for (int y = 0; y < label.height; ++y)
        for (int x = 0; x < label.width; ++x) {
            if (!label.dot(x, y))
                continue;
            for (int sy = 0; sy < scale; ++sy)
                for (int sx = 0; sx < scale; ++sx) {
                    std::size_t px = std::size_t(x) * scale + sx;
                    std::size_t py = std::size_t(y) * scale + sy;
                    rows[py * stride + px / 8] &= static_cast<unsigned char>(~(0x80u >> (px % 8)));
                }
        }

    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    PngFailure failure{};
    bool ok = encode(file, png_uint_32(w), png_uint_32(h), rows.data(), stride, &failure);
    if (std::fclose(file) != 0 && ok) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!ok) {
        error = "cannot write " + path + ": " + failure.message;
        std::remove(path.c_str());
    }
    return ok;
}

} // namespace tsplview
