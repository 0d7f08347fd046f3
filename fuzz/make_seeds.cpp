// Writes the seed corpora of the fuzz targets into <dir>/<target>/:
// small raster streams of every kind the job meets, page-fuzz records and
// option strings for the shipped PPDs.
//   rvc_fuzz_seeds <dir>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <cups/raster.h>

namespace {

struct Page {
    unsigned width, height, bits, space, dpi, copies;
};

cups_page_header2_t Header(const Page &p) {
    cups_page_header2_t h;
    memset(&h, 0, sizeof(h));
    h.cupsWidth = p.width;
    h.cupsHeight = p.height;
    h.cupsBitsPerColor = p.bits == 1 ? 1 : 8;
    h.cupsBitsPerPixel = p.bits;
    h.cupsBytesPerLine = (p.width * p.bits + 7) / 8;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = (cups_cspace_t)p.space;
    h.HWResolution[0] = h.HWResolution[1] = p.dpi;
    h.NumCopies = p.copies;
    h.PageSize[0] = p.width * 72 / (p.dpi ? p.dpi : 1);
    h.PageSize[1] = p.height * 72 / (p.dpi ? p.dpi : 1);
    strcpy(h.MediaClass, "PwgRaster");
    return h;
}

// A label-like page: white with a frame, bars and a grey patch.
void WriteRaster(const std::string &path, unsigned char pick, cups_mode_t mode,
                 const std::vector<Page> &pages, unsigned truncateRows = 0) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        perror(path.c_str());
        return;
    }
    if (write(fd, &pick, 1) != 1) {
        close(fd);
        return;
    }
    cups_raster_t *r = cupsRasterOpen(fd, mode);
    for (const Page &p : pages) {
        cups_page_header2_t h = Header(p);
        cupsRasterWriteHeader2(r, &h);
        std::vector<unsigned char> line(h.cupsBytesPerLine);
        unsigned rows = truncateRows ? truncateRows : p.height;
        for (unsigned y = 0; y < rows; ++y) {
            const unsigned bpp = p.bits / 8 ? p.bits / 8 : 1;
            for (unsigned x = 0; x < p.width; ++x) {
                unsigned char v = 255;
                if (y == 2 || y + 3 == p.height || x == 2 || x + 3 == p.width) {
                    v = 0;
                } else if (y > p.height / 2 && (x / 3) % 3 == 0) {
                    v = 0;
                } else if (y > 5 && y < 12 && x > 5 && x < 30) {
                    v = (unsigned char)(x * 8);
                }
                if (p.bits == 1) {
                    if (v < 128) {
                        line[x / 8] |= (unsigned char)(0x80 >> (x % 8));
                    }
                } else {
                    for (unsigned k = 0; k < bpp; ++k) {
                        line[x * bpp + k] = (k == 0 && v < 255) ? (unsigned char)(v / 2) : v;
                    }
                }
            }
            cupsRasterWritePixels(r, line.data(), h.cupsBytesPerLine);
        }
    }
    cupsRasterClose(r);
    close(fd);
}

void WriteBytes(const std::string &path, const std::vector<unsigned char> &bytes) {
    FILE *f = fopen(path.c_str(), "wb");
    if (f != nullptr) {
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
}

void WriteText(const std::string &path, unsigned char pick, const std::string &text) {
    std::string b(1, (char)pick);
    b += text;
    WriteBytes(path, std::vector<unsigned char>(b.begin(), b.end()));
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: rvc_fuzz_seeds <dir>\n");
        return 1;
    }
    const std::string dir = argv[1];
    const std::string raster = dir + "/raster_job_fuzz/";
    const std::string page = dir + "/page_fuzz/";
    const std::string ppd = dir + "/ppd_options_fuzz/";
    mkdir(dir.c_str(), 0755);
    mkdir(raster.c_str(), 0755);
    mkdir(page.c_str(), 0755);
    mkdir(ppd.c_str(), 0755);

    const unsigned RGB = CUPS_CSPACE_RGB, SRGB = CUPS_CSPACE_SRGB, W = CUPS_CSPACE_W,
                   K = CUPS_CSPACE_K;
    WriteRaster(raster + "rgb_one_page", 0, CUPS_RASTER_WRITE, {{64, 40, 24, RGB, 203, 1}});
    WriteRaster(raster + "rgb_compressed_three_pages", 1, CUPS_RASTER_WRITE_COMPRESSED,
                {{64, 40, 24, SRGB, 203, 2}, {64, 40, 24, SRGB, 203, 2},
                 {64, 40, 24, SRGB, 203, 2}});
    WriteRaster(raster + "pwg_rotated", 2, CUPS_RASTER_WRITE_PWG, {{48, 72, 24, SRGB, 300, 1}});
    WriteRaster(raster + "grey_mirrored", 3, CUPS_RASTER_WRITE, {{80, 24, 8, W, 203, 1}});
    WriteRaster(raster + "negative_half_turn", 4, CUPS_RASTER_WRITE_COMPRESSED,
                {{40, 40, 24, RGB, 203, 3}});
    WriteRaster(raster + "cutter_interval", 5, CUPS_RASTER_WRITE,
                {{64, 32, 24, RGB, 203, 5}, {64, 32, 24, RGB, 203, 5}});
    WriteRaster(raster + "paper_saving", 6, CUPS_RASTER_WRITE, {{56, 30, 24, RGB, 203, 1}});
    WriteRaster(raster + "levels_quarter_turn", 7, CUPS_RASTER_WRITE_COMPRESSED,
                {{32, 64, 24, RGB, 203, 1}});
    WriteRaster(raster + "sizes_differ", 0, CUPS_RASTER_WRITE,
                {{64, 40, 24, RGB, 203, 1}, {96, 20, 24, RGB, 203, 1}, {16, 80, 8, W, 203, 1}});
    WriteRaster(raster + "cut_short", 0, CUPS_RASTER_WRITE, {{64, 40, 24, RGB, 203, 1}}, 10);
    WriteRaster(raster + "one_bit_refused", 0, CUPS_RASTER_WRITE, {{64, 16, 1, K, 203, 1}});
    WriteRaster(raster + "zero_height", 0, CUPS_RASTER_WRITE,
                {{64, 0, 24, RGB, 203, 1}, {64, 8, 24, RGB, 203, 1}});
    WriteBytes(raster + "empty_stream", {0});

    // page_fuzz: colour flag, width, height, resolution picks, copies,
    // collate, the label record's fields, then rectangles.
    auto pageSeed = [&](const char *name, uint8_t halftone, uint8_t rot, int16_t mirror,
                        uint8_t mode, uint8_t cut, int16_t interval, uint8_t dashed) {
        std::vector<unsigned char> b;
        auto put = [&](const void *p, size_t n) {
            const unsigned char *c = (const unsigned char *)p;
            for (size_t i = 0; i < n; ++i) {
                b.push_back(c[i]);
            }
        };
        auto u8 = [&](uint8_t v) { put(&v, 1); };
        auto i16 = [&](int16_t v) { put(&v, 2); };
        auto i32 = [&](int32_t v) { put(&v, 4); };
        u8(0);
        i16(159); // width 160
        i16(99);  // height 100
        u8(0); u8(0); i16(0); i16(0); // 203 x 203
        u8(2); u8(0);                // copies, collate
        u8(0); u8(0); i16(10); i16(0); i32(8); // offsets, density
        u8(rot); i16(mirror); u8(0);           // rotation, mirror, negative
        u8(mode); u8(cut);                      // post-print action, cutting method
        i32(5); i32(10);                        // brightness, contrast
        u8(0); u8(1); i16(30); i16(0);          // print method, media, gap
        i16(interval); i16(3);                  // interval, feed
        u8(halftone); u8(dashed); i16(5); i16(3); i16(1); // halftone, dashing
        i16(0);                                  // levels -> 300
        i16(104); u8(0);                         // max width, paper mode
        u8(0); u8(1);                            // labels printed, calls
        const unsigned char rects[][7] = {
            {10, 10, 200, 20, 0, 0, 0},     {20, 60, 8, 120, 0, 0, 0},
            {60, 60, 4, 120, 0, 0, 0},      {100, 60, 12, 120, 0, 0, 0},
            {30, 200, 160, 30, 128, 128, 128}, {200, 200, 40, 40, 0, 0, 255}};
        for (const auto &r : rects) {
            put(r, 7);
        }
        WriteBytes(page + name, b);
    };
    pageSeed("threshold", 1, 0, 0, 1, 0, 1, 0);
    pageSeed("floyd_quarter_turn", 2, 3, 0, 1, 0, 1, 0);
    pageSeed("bayer8_mirrored", 3, 0, 1, 2, 0, 1, 0);
    pageSeed("adaptive", 4, 1, 0, 3, 0, 1, 0);
    pageSeed("ordered16_cutter_every", 5, 2, 0, 4, 1, 1, 0);
    pageSeed("stucki_cutter_end", 6, 0, 0, 4, 2, 1, 1);
    pageSeed("screen15_cutter_interval", 7, 0, 1, 4, 3, 3, 0);
    pageSeed("bayer4_dashed", 8, 0, 0, 1, 0, 1, 1);
    pageSeed("screen8x16", 9, 3, 1, 4, 3, 0, 1);

    WriteText(ppd + "defaults", 0, "");
    WriteText(ppd + "halftone_rotation", 1,
              "Halftone=Adaptive Rotation=Rotate90CW Mirror=On PageSize=4x6");
    WriteText(ppd + "cutter", 2, "Mode=Cutter CutMethod=Interval Interval=3 copies=5");
    WriteText(ppd + "paper_saving", 3,
              "SavePaper=On MaxOutputWidth=48mm HorizontalOffset=Left "
              "HorizontalOffsetValue=2.5mm VerticalOffset=Down VerticalOffsetValue=1mm");
    WriteText(ppd + "dashed", 4,
              "IsToDashed=On MinLength=5mm IntervalBlack=2mm IntervalWhite=1mm Halftone=Bayer4");
    WriteText(ppd + "media", 5,
              "MediaType=BlackMark GAPHeight=2.5mm GAPOffset=1.5mm PrintMethod=ThermalTransfer "
              "Feed=3mm Density=15");
    WriteText(ppd + "quoted", 6, "Brightness='m20' Contrast=\"40\" Levels={Gamma045} Unknown=x");
    WriteText(ppd + "custom_size", 7, "PageSize=Custom.50x30mm NegativeFilm=On Halftone=Stucki");
    return 0;
}
