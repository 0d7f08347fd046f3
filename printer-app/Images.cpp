// PNG and JPEG documents: decoded whole into memory within the limits, then
// placed on the label and sampled line by line the way PAPPL 1.3.1's image
// path does, so that a job prints the bytes it printed there. Where that
// path printed the wrong picture, this one does not: a colour PNG printed
// in grey takes each pixel's luma, not its red byte; grey PNGs of 1, 2 or
// 4 bits are scaled to the full grey range, not printed black; transparency
// is composited over white in every depth; CMYK JPEGs print.
#include "Images.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

namespace vorcp {

namespace {

// A decoded image: rows top down, `components` bytes a pixel (grey or RGB).
struct Picture {
    int width = 0, height = 0;
    int components = 0;
    int ppi = 0; // pixels per inch, 0: unknown
    bool color = false;
    std::vector<unsigned char> pixels;
    std::vector<unsigned char *> rows; // where the decoders write each row
};

DocumentStatus Failure(pappl_jreason_t reason, const std::string &message) {
    return {reason, message};
}

std::string Megabytes(size_t bytes) {
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB";
}

// Width and height first, then the decoded size: both from the header.
DocumentStatus CheckSize(long width, long height, int components, const ImageLimits &limits) {
    const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
    if (width < 1 || height < 1) {
        return Failure(PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                       "The image has no pixels (" + size + ")");
    }
    if (width > limits.maxWidth || height > limits.maxHeight) {
        return Failure(PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
                       "The image is " + size + ", larger than the " +
                           std::to_string(limits.maxWidth) + " x " +
                           std::to_string(limits.maxHeight) + " pixels this printer takes");
    }
    const size_t bytes = (size_t)width * (size_t)height * (size_t)components;
    if (bytes > limits.maxBytes) {
        return Failure(PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
                       "The image is " + size + (components > 1 ? " in colour" : "") + ", " +
                           Megabytes(bytes) + " of pixels, more than the " +
                           Megabytes(limits.maxBytes) + " this printer takes");
    }
    return {};
}

DocumentStatus CheckDensity(int xppi, int yppi) {
    if (xppi == yppi) {
        return {};
    }
    return Failure(PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
                   "The image's pixels are not square (" + std::to_string(xppi) + " x " +
                       std::to_string(yppi) + " pixels per inch); save it with square pixels");
}

void AllocateRows(Picture *p) {
    const size_t stride = (size_t)p->width * (size_t)p->components;
    p->pixels.assign(stride * (size_t)p->height, 0xff);
    p->rows.resize((size_t)p->height);
    for (int y = 0; y < p->height; ++y) {
        p->rows[(size_t)y] = p->pixels.data() + stride * (size_t)y;
    }
}

// --- PNG -----------------------------------------------------------------
//
// libpng reports errors by longjmp to the setjmp of the phase that called it.
// The phase functions hold no object with a destructor, and every message
// goes to a fixed buffer: nothing is skipped by the jump.

struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    char reason[256] = "";
    png_uint_32 width = 0, height = 0;
    int colorType = 0, bitDepth = 0;
    int xppi = 0, yppi = 0;
    bool hasTrns = false;
    size_t rowBytes = 0;
    ~PngReader() { png_destroy_read_struct(&png, &info, nullptr); }
};

void PngError(png_structp png, png_const_charp message) {
    auto *reader = static_cast<PngReader *>(png_get_error_ptr(png));
    snprintf(reader->reason, sizeof(reader->reason), "%s", message);
    png_longjmp(png, 1);
}

// Warnings (a bad ancillary chunk, an odd profile) leave the image printable.
void PngWarning(png_structp, png_const_charp) {}

bool ReadPngHeader(FILE *file, PngReader *r) {
    if (setjmp(png_jmpbuf(r->png))) {
        return false;
    }
    png_init_io(r->png, file);
    png_set_sig_bytes(r->png, 8);
#if defined(PNG_SKIP_sRGB_CHECK_PROFILE) && defined(PNG_SET_OPTION_SUPPORTED)
    // Profiles some programs write are "invalid" to libpng yet harmless.
    png_set_option(r->png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
#endif
    png_read_info(r->png, r->info);
    r->width = png_get_image_width(r->png, r->info);
    r->height = png_get_image_height(r->png, r->info);
    r->colorType = png_get_color_type(r->png, r->info);
    r->bitDepth = png_get_bit_depth(r->png, r->info);
    r->xppi = (int)png_get_x_pixels_per_inch(r->png, r->info);
    r->yppi = (int)png_get_y_pixels_per_inch(r->png, r->info);
    r->hasTrns = png_get_valid(r->png, r->info, PNG_INFO_tRNS) != 0;
    return true;
}

// 8-bit grey or RGB: 16 bits scaled, low depths and palettes expanded,
// transparency composited over white. rowBytes tells what libpng will write.
bool SetPngTransforms(PngReader *r) {
    if (setjmp(png_jmpbuf(r->png))) {
        return false;
    }
    png_structp png = r->png;
    if (r->hasTrns) {
        png_set_tRNS_to_alpha(png);
    }
    if (r->bitDepth > 8) {
        png_set_scale_16(png);
    }
    if (r->bitDepth < 8) {
        png_set_packing(png);
        if ((r->colorType & PNG_COLOR_MASK_COLOR) == 0) {
            png_set_expand_gray_1_2_4_to_8(png);
        }
    }
    if (r->colorType & PNG_COLOR_MASK_PALETTE) {
        png_set_palette_to_rgb(png);
    }
    // White in the depth libpng composites at: 16-bit samples are composited
    // before they are scaled, everything else at 8 bits.
    png_color_16 white{};
    white.red = white.green = white.blue = white.gray = r->bitDepth == 16 ? 65535 : 255;
    png_set_background(png, &white, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1);
    png_set_interlace_handling(png);
    png_read_update_info(png, r->info);
    r->rowBytes = png_get_rowbytes(png, r->info);
    return true;
}

bool ReadPngPixels(PngReader *r, unsigned char **rows) {
    if (setjmp(png_jmpbuf(r->png))) {
        return false;
    }
    png_read_image(r->png, rows);
    return true;
}

DocumentStatus DecodePng(FILE *file, const ImageLimits &limits, Picture *picture) {
    unsigned char signature[8];
    if (fread(signature, 1, sizeof(signature), file) != sizeof(signature) ||
        png_sig_cmp(signature, 0, sizeof(signature)) != 0) {
        return Failure(PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                       "The document is not a PNG image; send it with its own format");
    }
    PngReader r;
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, PngError, PngWarning);
    r.info = r.png != nullptr ? png_create_info_struct(r.png) : nullptr;
    if (r.info == nullptr) {
        return Failure(PAPPL_JREASON_ABORTED_BY_SYSTEM, "Out of memory for the PNG image");
    }
    auto damaged = [&r] {
        return Failure(PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                       std::string("The PNG file is damaged or cut short: ") + r.reason);
    };
    if (!ReadPngHeader(file, &r)) {
        return damaged();
    }
    picture->color = (r.colorType & PNG_COLOR_MASK_COLOR) != 0;
    picture->components = picture->color ? 3 : 1;
    DocumentStatus status = CheckSize(r.width, r.height, picture->components, limits);
    if (status.ok()) {
        status = CheckDensity(r.xppi, r.yppi);
    }
    if (!status.ok()) {
        return status;
    }
    picture->width = (int)r.width;
    picture->height = (int)r.height;
    picture->ppi = r.xppi;
    if (!SetPngTransforms(&r)) {
        return damaged();
    }
    if (r.rowBytes != (size_t)picture->width * (size_t)picture->components) {
        return Failure(PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                       "The PNG image's pixel format is not supported");
    }
    AllocateRows(picture);
    if (!ReadPngPixels(&r, picture->rows.data())) {
        return damaged();
    }
    return {};
}

// --- JPEG ----------------------------------------------------------------
//
// libjpeg's errors, and its warning that the file ended early (it would
// otherwise print the rest grey), return by longjmp to the phase's setjmp.

struct JpegReader {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    jmp_buf back;
    char reason[JMSG_LENGTH_MAX] = "";
    int code = 0; // libjpeg's message code
    bool created = false;
    ~JpegReader() {
        if (created) {
            jpeg_destroy_decompress(&info);
        }
    }
};

[[noreturn]] void JpegFail(j_common_ptr info) {
    auto *r = reinterpret_cast<JpegReader *>(info->client_data);
    r->code = info->err->msg_code;
    info->err->format_message(info, r->reason);
    longjmp(r->back, 1);
}

void JpegMessage(j_common_ptr info, int level) {
    const int code = info->err->msg_code;
    if (level < 0 && (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER)) {
        JpegFail(info);
    }
}

bool ReadJpegHeader(FILE *file, JpegReader *r) {
    if (setjmp(r->back)) {
        return false;
    }
    jpeg_create_decompress(&r->info);
    r->created = true;
    jpeg_stdio_src(&r->info, file);
    jpeg_read_header(&r->info, TRUE);
    return true;
}

// CMYK is read as it is stored and converted here; everything else is
// converted by libjpeg into the page's grey or RGB.
bool ReadJpegPixels(JpegReader *r, Picture *p, std::vector<unsigned char> *cmyk) {
    if (setjmp(r->back)) {
        return false;
    }
    jpeg_decompress_struct *info = &r->info;
    const bool inks = info->num_components == 4;
    info->quantize_colors = FALSE;
    info->out_color_space = inks ? JCS_CMYK : p->components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(info);
    // Adobe's programs store CMYK inverted (255 is no ink), and mark it.
    const bool inverted = info->saw_Adobe_marker;
    while (info->output_scanline < info->output_height) {
        unsigned char *row = p->rows[info->output_scanline];
        JSAMPROW target = inks ? cmyk->data() : row;
        jpeg_read_scanlines(info, &target, 1);
        if (!inks) {
            continue;
        }
        const unsigned char *s = cmyk->data();
        for (int x = 0; x < p->width; ++x, s += 4) {
            int c[4];
            for (int i = 0; i < 4; ++i) {
                c[i] = inverted ? s[i] : 255 - s[i]; // 255 - ink
            }
            const int red = (c[0] * c[3] + 127) / 255, green = (c[1] * c[3] + 127) / 255,
                      blue = (c[2] * c[3] + 127) / 255;
            if (p->components == 1) {
                row[x] = (unsigned char)((19595 * red + 38470 * green + 7471 * blue + 32768) >> 16);
            } else {
                row[3 * x] = (unsigned char)red, row[3 * x + 1] = (unsigned char)green;
                row[3 * x + 2] = (unsigned char)blue;
            }
        }
    }
    return true;
}

DocumentStatus DecodeJpeg(FILE *file, const OptionsFor &options, const ImageLimits &limits,
                          Picture *picture, pappl_pr_options_t *chosen) {
    JpegReader r;
    r.info.err = jpeg_std_error(&r.errors);
    r.errors.error_exit = JpegFail;
    r.errors.emit_message = JpegMessage;
    r.info.client_data = &r;
    auto damaged = [&r] {
        if (r.code == JERR_NO_SOI || r.code == JERR_INPUT_EMPTY) {
            return Failure(PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                           "The document is not a JPEG image; send it with its own format");
        }
        return Failure(PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                       std::string("The JPEG file is damaged or cut short: ") + r.reason);
    };
    if (!ReadJpegHeader(file, &r)) {
        return damaged();
    }
    const jpeg_decompress_struct &info = r.info;
    DocumentStatus status = CheckSize(info.image_width, info.image_height, 1, limits);
    if (!status.ok()) {
        return status;
    }
    int xppi = 0, yppi = 0;
    if (info.density_unit == 1) {
        xppi = info.X_density, yppi = info.Y_density;
    } else if (info.density_unit == 2) {
        xppi = info.X_density * 254 / 100, yppi = info.Y_density * 254 / 100;
    }
    status = CheckDensity(xppi, yppi);
    if (!status.ok()) {
        return status;
    }
    // The page's colour decides what libjpeg decodes to.
    picture->color = info.num_components > 1;
    *chosen = options(picture->color);
    picture->components = chosen->header.cupsNumColors == 1 ? 1 : 3;
    status = CheckSize(info.image_width, info.image_height, picture->components, limits);
    if (!status.ok()) {
        return status;
    }
    picture->width = (int)info.image_width;
    picture->height = (int)info.image_height;
    picture->ppi = xppi;
    AllocateRows(picture);
    std::vector<unsigned char> cmyk(info.num_components == 4 ? (size_t)picture->width * 4 : 0);
    if (!ReadJpegPixels(&r, picture, &cmyk)) {
        return damaged();
    }
    return {};
}

// --- Placement -----------------------------------------------------------
//
// Where the image lands on the page and how it is walked, in PAPPL 1.3.1's
// integer arithmetic: the image is rotated by stepping through its pixels in
// another order, scaled by an error accumulator per axis, and centred in the
// printable area (cropped where it is larger).

struct Placement {
    int xsize = 0, ysize = 0; // the image on the page, in dots
    int xstart = 0, xend = 0, ystart = 0, yend = 0;
    long first = 0;          // offset of the pixel at the placed image's top left
    long xdir = 0, ydir = 0; // offsets one page dot to the right, one line down
    int xmod = 0, ymod = 0;
    long xstep = 0, ystep = 0;
};

DocumentStatus Place(const pappl_pr_options_t &o, const Picture &p, Placement *out) {
    pappl_scaling_t scaling = o.print_scaling;
    const long xres = o.printer_resolution[0], yres = o.printer_resolution[1];
    const long width = (long)o.header.cupsWidth, height = (long)o.header.cupsHeight;
    long ileft = 0, itop = 0, iwidth = width, iheight = height;
    if (scaling != PAPPL_SCALING_FILL) {
        ileft = o.media.left_margin * xres / 2540;
        itop = o.media.top_margin * yres / 2540;
        iwidth = width - (o.media.left_margin + o.media.right_margin) * xres / 2540;
        iheight = height - (o.media.bottom_margin + o.media.top_margin) * yres / 2540;
    }
    if (iwidth <= 0 || iheight <= 0 || xres <= 0 || yres <= 0) {
        return Failure(PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
                       "The label size leaves no room to print the image");
    }

    ipp_orient_t orientation = o.orientation_requested;
    if (orientation == IPP_ORIENT_NONE) {
        orientation =
            p.width > p.height && width < height ? IPP_ORIENT_LANDSCAPE : IPP_ORIENT_PORTRAIT;
    }
    const bool turned =
        orientation == IPP_ORIENT_LANDSCAPE || orientation == IPP_ORIENT_REVERSE_LANDSCAPE;
    // The image as it stands on the page.
    const long imgWidth = turned ? p.height : p.width, imgHeight = turned ? p.width : p.height;

    int ppi = p.ppi;
    long xsize = 0, ysize = 0;
    if (scaling == PAPPL_SCALING_AUTO || scaling == PAPPL_SCALING_AUTO_FIT) {
        if (ppi <= 0) {
            // Without a resolution the image is scaled to the label.
            xsize = iwidth + 1, ysize = iheight + 1;
        } else {
            xsize = imgWidth * xres / ppi, ysize = imgHeight * yres / ppi;
        }
        if (xsize > iwidth || ysize > iheight) {
            const bool borderless = o.media.bottom_margin == 0 && o.media.left_margin == 0 &&
                                    o.media.right_margin == 0 && o.media.top_margin == 0;
            scaling = scaling == PAPPL_SCALING_AUTO && borderless ? PAPPL_SCALING_FILL
                                                                  : PAPPL_SCALING_FIT;
        } else {
            scaling = PAPPL_SCALING_NONE;
        }
    } else if (scaling == PAPPL_SCALING_NONE && ppi <= 0) {
        ppi = 200;
    }
    if (scaling == PAPPL_SCALING_NONE) {
        xsize = imgWidth * xres / ppi, ysize = imgHeight * yres / ppi;
    } else {
        xsize = iwidth, ysize = xsize * imgHeight / imgWidth;
        if ((ysize > iheight && scaling == PAPPL_SCALING_FIT) ||
            (ysize < iheight && scaling == PAPPL_SCALING_FILL)) {
            ysize = iheight, xsize = ysize * imgWidth / imgHeight;
        }
    }
    // A sliver of an image still takes a dot.
    out->xsize = (int)std::max(xsize, 1L);
    out->ysize = (int)std::max(ysize, 1L);

    const long c = p.components, w = p.width, h = p.height;
    switch (orientation) {
    case IPP_ORIENT_REVERSE_PORTRAIT:
        out->first = c * w * h - c, out->xdir = -c, out->ydir = -c * w;
        break;
    case IPP_ORIENT_LANDSCAPE: // a quarter turn anticlockwise
        out->first = c * w - c, out->xdir = c * w, out->ydir = -c;
        break;
    case IPP_ORIENT_REVERSE_LANDSCAPE: // a quarter turn clockwise
        out->first = c * (h - 1) * w, out->xdir = -c * w, out->ydir = c;
        break;
    default:
        out->first = 0, out->xdir = c, out->ydir = c * w;
        break;
    }
    out->xstart = (int)(ileft + (iwidth - out->xsize) / 2);
    out->xend = (int)std::min((long)out->xstart + out->xsize, width);
    out->ystart = (int)(itop + (iheight - out->ysize) / 2);
    out->yend = (int)std::min((long)out->ystart + out->ysize, height);
    out->xmod = (int)(imgWidth % out->xsize);
    out->xstep = imgWidth / out->xsize * out->xdir;
    out->ymod = (int)(imgHeight % out->ysize);
    out->ystep = imgHeight / out->ysize * out->ydir;
    return {};
}

// --- Sampling ------------------------------------------------------------

inline unsigned char Luma(int r, int g, int b) {
    return (unsigned char)((19595 * r + 38470 * g + 7471 * b + 32768) >> 16);
}

// One line of the image on the page: `In` bytes a pixel in the picture,
// `Out` on the page, nearest neighbour or bilinear. Pixels the walk would
// take from outside the picture print white.
template <int In, int Out, bool Smooth>
void SampleLine(const Picture &p, const Placement &pl, long row, int yerr, unsigned char *line) {
    const unsigned char *pixels = p.pixels.data();
    const long size = (long)p.pixels.size();
    long at = row;
    int x = pl.xstart, xerr = -pl.xmod / 2;
    if (pl.xstart < 0) {
        at -= (long)pl.xstart * pl.xmod / pl.xsize * pl.xdir;
        x = 0;
        xerr = (int)(-pl.xmod / 2 - (long)pl.xstart * pl.xmod % pl.xsize);
    }
    unsigned char *dot = line + (long)x * Out;
    for (; x < pl.xend; ++x, dot += Out) {
        int v[In];
        if (at < 0 || at >= size) {
            for (int i = 0; i < In; ++i) {
                v[i] = 255;
            }
        } else if (Smooth && yerr >= 0 && xerr >= 0) {
            // A neighbour outside the picture is the pixel itself.
            auto inside = [&](long offset) { return offset < 0 || offset >= size ? at : offset; };
            const unsigned char *here = pixels + at, *right = pixels + inside(at + pl.xdir),
                                *down = pixels + inside(at + pl.ydir),
                                *downRight = pixels + inside(at + pl.xdir + pl.ydir);
            for (int i = 0; i < In; ++i) {
                const int top = ((pl.xsize - xerr) * here[i] + xerr * right[i]) / pl.xsize;
                const int bottom = ((pl.xsize - xerr) * down[i] + xerr * downRight[i]) / pl.xsize;
                v[i] = ((pl.ysize - yerr) * top + yerr * bottom) / pl.ysize;
            }
        } else {
            for (int i = 0; i < In; ++i) {
                v[i] = pixels[at + i];
            }
        }
        if (Out == 1) {
            dot[0] = In == 1 ? (unsigned char)v[0] : Luma(v[0], v[1], v[2]);
        } else {
            for (int i = 0; i < Out; ++i) {
                dot[i] = (unsigned char)v[In == 1 ? 0 : i];
            }
        }
        at += pl.xstep;
        xerr += pl.xmod;
        if (xerr >= pl.xsize) {
            xerr -= pl.xsize;
            at += pl.xdir;
        }
    }
}

using LineSampler = void (*)(const Picture &, const Placement &, long, int, unsigned char *);

template <bool Smooth> LineSampler SamplerFor(int in, int out) {
    if (in == 1) {
        return out == 1 ? SampleLine<1, 1, Smooth> : SampleLine<1, 3, Smooth>;
    }
    return out == 1 ? SampleLine<3, 1, Smooth> : SampleLine<3, 3, Smooth>;
}

// The page formats the page path prints: 8-bit grey or 24-bit RGB, white
// at 255. 0 for any other.
int PageComponents(const cups_page_header2_t &h) {
    const cups_cspace_t space = h.cupsColorSpace;
    if (h.cupsBitsPerColor != 8 || h.cupsColorOrder != CUPS_ORDER_CHUNKED) {
        return 0;
    }
    if (h.cupsBitsPerPixel == 8 && (space == CUPS_CSPACE_W || space == CUPS_CSPACE_SW)) {
        return 1;
    }
    if (h.cupsBitsPerPixel == 24 &&
        (space == CUPS_CSPACE_RGB || space == CUPS_CSPACE_SRGB || space == CUPS_CSPACE_ADOBERGB)) {
        return 3;
    }
    return 0;
}

DocumentStatus SendPages(const Picture &p, const pappl_pr_options_t &options, bool smooth,
                         PageSink &sink) {
    const cups_page_header2_t &header = options.header;
    const int out = PageComponents(header);
    if (out == 0 || header.cupsBytesPerLine < header.cupsWidth * (unsigned)out) {
        return Failure(PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
                       "The label's raster format (" + std::to_string(header.cupsBitsPerPixel) +
                           " bits per pixel, colour space " +
                           std::to_string((int)header.cupsColorSpace) + ") cannot take an image");
    }
    Placement pl;
    DocumentStatus status = Place(options, p, &pl);
    if (!status.ok()) {
        return status;
    }
    const LineSampler sample =
        smooth ? SamplerFor<true>(p.components, out) : SamplerFor<false>(p.components, out);
    std::vector<unsigned char> line(header.cupsBytesPerLine);
    const unsigned height = header.cupsHeight;
    for (int copy = 0; copy < options.copies || copy == 0; ++copy) {
        if (sink.Canceled() || !sink.StartPage(header)) {
            return {};
        }
        memset(line.data(), 0xff, line.size());
        int y = 0;
        for (; y < pl.ystart; ++y) {
            sink.WriteLine((unsigned)y, line.data());
        }
        // Above the page's top the walk starts part way into the image.
        long row = pl.first;
        int yerr = -pl.ymod / 2;
        if (pl.ystart < 0) {
            row -= (long)pl.ystart * pl.ymod / pl.ysize * pl.ydir;
            yerr = (int)(-pl.ymod / 2 - (long)pl.ystart * pl.ymod % pl.ysize);
        }
        for (; y < pl.yend; ++y) {
            if (sink.Canceled()) {
                sink.EndPage();
                return {};
            }
            sample(p, pl, row, yerr, line.data());
            sink.WriteLine((unsigned)y, line.data());
            row += pl.ystep;
            yerr += pl.ymod;
            if (yerr >= pl.ysize) {
                row += pl.ydir;
                yerr -= pl.ysize;
            }
        }
        memset(line.data(), 0xff, line.size());
        for (; y < (int)height; ++y) {
            sink.WriteLine((unsigned)y, line.data());
        }
        sink.EndPage();
    }
    return {};
}

struct FileCloser {
    void operator()(FILE *f) const { fclose(f); }
};

} // namespace

DocumentStatus PrintImage(const std::string &path, ImageKind kind, const OptionsFor &options,
                          PageSink &sink, const ImageLimits &limits) {
    std::unique_ptr<FILE, FileCloser> file(fopen(path.c_str(), "rb"));
    if (!file) {
        return Failure(PAPPL_JREASON_ABORTED_BY_SYSTEM,
                       "Unable to open the document: " + std::string(strerror(errno)));
    }
    Picture picture;
    pappl_pr_options_t chosen{};
    DocumentStatus status;
    if (kind == ImageKind::Png) {
        status = DecodePng(file.get(), limits, &picture);
        if (status.ok()) {
            chosen = options(picture.color);
        }
    } else {
        status = DecodeJpeg(file.get(), options, limits, &picture, &chosen);
    }
    file.reset();
    if (!status.ok()) {
        return status;
    }
    // JPEG's blocks are smoothed when scaled; PNG's pixels stay sharp.
    return SendPages(picture, chosen, kind == ImageKind::Jpeg, sink);
}

} // namespace vorcp
