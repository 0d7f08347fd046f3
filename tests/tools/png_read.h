// Reading back a PNG written by the viewer, as 0/1 dots (1 = black).
#pragma once

#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

struct Picture {
    int width = 0, height = 0;
    std::vector<int> dots;
    bool dot(int x, int y) const { return dots[std::size_t(y) * width + x] != 0; }
};

inline bool readPng(const std::string &path, Picture &out) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    image.format = PNG_FORMAT_GRAY;
    std::vector<png_byte> grey(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, grey.data(), 0, nullptr))
        return false;
    out.width = int(image.width);
    out.height = int(image.height);
    out.dots.resize(grey.size());
    for (std::size_t i = 0; i < grey.size(); ++i)
        out.dots[i] = grey[i] < 128;
    return true;
}
