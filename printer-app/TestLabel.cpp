#include "TestLabel.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include <cups/raster.h>

namespace vorcp {

namespace {

// A 5 x 7 font: each glyph seven rows, the five low bits of a row from the
// left. Lower case prints as upper case; other characters as '?'.
struct Glyph {
    char c;
    uint8_t rows[7];
};
const Glyph kFont[] = {
    {' ', {0, 0, 0, 0, 0, 0, 0}},
    {'0', {0x0e, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0e}},
    {'1', {0x04, 0x0c, 0x04, 0x04, 0x04, 0x04, 0x0e}},
    {'2', {0x0e, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1f}},
    {'3', {0x1f, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0e}},
    {'4', {0x02, 0x06, 0x0a, 0x12, 0x1f, 0x02, 0x02}},
    {'5', {0x1f, 0x10, 0x1e, 0x01, 0x01, 0x11, 0x0e}},
    {'6', {0x06, 0x08, 0x10, 0x1e, 0x11, 0x11, 0x0e}},
    {'7', {0x1f, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0e, 0x11, 0x11, 0x0e, 0x11, 0x11, 0x0e}},
    {'9', {0x0e, 0x11, 0x11, 0x0f, 0x01, 0x02, 0x0c}},
    {'A', {0x0e, 0x11, 0x11, 0x1f, 0x11, 0x11, 0x11}},
    {'B', {0x1e, 0x11, 0x11, 0x1e, 0x11, 0x11, 0x1e}},
    {'C', {0x0e, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0e}},
    {'D', {0x1c, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1c}},
    {'E', {0x1f, 0x10, 0x10, 0x1e, 0x10, 0x10, 0x1f}},
    {'F', {0x1f, 0x10, 0x10, 0x1e, 0x10, 0x10, 0x10}},
    {'G', {0x0e, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0f}},
    {'H', {0x11, 0x11, 0x11, 0x1f, 0x11, 0x11, 0x11}},
    {'I', {0x0e, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0e}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0c}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1f}},
    {'M', {0x11, 0x1b, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0e, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0e}},
    {'P', {0x1e, 0x11, 0x11, 0x1e, 0x10, 0x10, 0x10}},
    {'Q', {0x0e, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0d}},
    {'R', {0x1e, 0x11, 0x11, 0x1e, 0x14, 0x12, 0x11}},
    {'S', {0x0f, 0x10, 0x10, 0x0e, 0x01, 0x01, 0x1e}},
    {'T', {0x1f, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0e}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0a, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0a}},
    {'X', {0x11, 0x11, 0x0a, 0x04, 0x0a, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0a, 0x04, 0x04, 0x04}},
    {'Z', {0x1f, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1f}},
    {'-', {0x00, 0x00, 0x00, 0x1f, 0x00, 0x00, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0c, 0x0c}},
    {'_', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1f}},
    {':', {0x00, 0x0c, 0x0c, 0x00, 0x0c, 0x0c, 0x00}},
    {'%', {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}},
    {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}},
    {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
    {'+', {0x00, 0x04, 0x04, 0x1f, 0x04, 0x04, 0x00}},
    {'?', {0x0e, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04}},
};

const Glyph &GlyphOf(char c) {
    const char upper = (char)toupper((unsigned char)c);
    for (const Glyph &g : kFont) {
        if (g.c == upper) {
            return g;
        }
    }
    return kFont[sizeof(kFont) / sizeof(kFont[0]) - 1];
}

// Code 128's symbols: the widths of bar, space, bar, space, bar, space
// (and a last bar for the stop symbol), in modules.
const char *const kCode128[] = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312",  "132212",
    "221213", "221312", "231212", "112232", "122132", "122231", "113222", "123122",  "123221",
    "223211", "221132", "221231", "213212", "223112", "312131", "311222", "321122",  "321221",
    "312212", "322112", "322211", "212123", "212321", "232121", "111323", "131123",  "131321",
    "112313", "132113", "132311", "211313", "231113", "231311", "112133", "112331",  "132131",
    "113123", "113321", "133121", "313121", "211331", "231131", "213113", "213311",  "213131",
    "311123", "311321", "331121", "312113", "312311", "332111", "314111", "221411",  "431111",
    "111224", "111422", "121124", "121421", "141122", "141221", "112214", "112412",  "122114",
    "122411", "142112", "142211", "241211", "221114", "413111", "241112", "134111",  "111242",
    "121142", "121241", "114212", "124112", "124211", "411212", "421112", "421211",  "212141",
    "214121", "412121", "111143", "111341", "131141", "114113", "114311", "411113",  "411311",
    "113141", "114131", "311141", "411131", "211412", "211214", "211232", "2331112",
};
constexpr int kStartB = 104, kStop = 106;

class Canvas {
  public:
    Canvas(int w, int h) : w_(w), h_(h), px_((size_t)w * h, 255) {}
    void Fill(int x0, int y0, int x1, int y1, unsigned char v) {
        x0 = std::max(x0, 0), y0 = std::max(y0, 0), x1 = std::min(x1, w_), y1 = std::min(y1, h_);
        for (int y = y0; y < y1; ++y) {
            std::fill(px_.begin() + (size_t)y * w_ + x0, px_.begin() + (size_t)y * w_ + x1, v);
        }
    }
    // Text from (x, y), each font dot scale x scale; the width it took.
    int Text(int x, int y, int scale, const std::string &text) {
        for (char c : text) {
            const Glyph &g = GlyphOf(c);
            for (int r = 0; r < 7; ++r) {
                for (int col = 0; col < 5; ++col) {
                    if (g.rows[r] & (0x10 >> col)) {
                        Fill(x + col * scale, y + r * scale, x + (col + 1) * scale,
                             y + (r + 1) * scale, 0);
                    }
                }
            }
            x += 6 * scale;
        }
        return (int)text.size() * 6 * scale;
    }
    std::vector<unsigned char> &Pixels() { return px_; }

  private:
    int w_, h_;
    std::vector<unsigned char> px_;
};

} // namespace

std::vector<bool> Code128(const std::string &text) {
    std::vector<int> symbols = {kStartB};
    int sum = kStartB;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = (unsigned char)text[i];
        const int value = c >= 32 && c < 127 ? c - 32 : '?' - 32;
        symbols.push_back(value);
        sum += value * (int)(i + 1);
    }
    symbols.push_back(sum % 103);
    symbols.push_back(kStop);
    std::vector<bool> modules;
    for (int s : symbols) {
        bool bar = true;
        for (const char *w = kCode128[s]; *w; ++w, bar = !bar) {
            modules.insert(modules.end(), (size_t)(*w - '0'), bar);
        }
    }
    return modules;
}

std::vector<unsigned char> DrawTestLabel(const TestLabelInfo &info) {
    Canvas canvas(info.width, info.height);
    const double mm = info.dpi / 25.4;
    const int margin = (int)(2 * mm);
    // Text about 3 mm high.
    const int scale = std::max(1, (int)(3 * mm / 7));
    int y = margin;
    canvas.Text(margin, y, scale, info.name);
    y += 9 * scale;
    canvas.Text(margin, y, scale,
                std::to_string(info.dpi) + " DPI  DARKNESS " +
                    std::to_string(info.darknessPercent) + "% (" + std::to_string(info.level) +
                    "/" + std::to_string(info.levels - 1) + ")");
    y += 9 * scale + margin;

    // A grey wedge in eleven steps, white to black.
    const int wedgeHeight = (int)(6 * mm), usable = info.width - 2 * margin;
    for (int step = 0; step <= 10; ++step) {
        canvas.Fill(margin + usable * step / 11, y, margin + usable * (step + 1) / 11,
                    y + wedgeHeight, (unsigned char)(255 - step * 255 / 10));
    }
    y += wedgeHeight + margin;

    // The barcode, its modules a whole number of dots, quiet zones around.
    const std::vector<bool> modules = Code128(info.barcode);
    const int module = std::max(2, (int)(0.25 * mm + 0.5));
    const int barHeight = (int)(10 * mm);
    if ((int)(modules.size() + 20) * module <= usable) {
        int x = margin + 10 * module;
        for (bool bar : modules) {
            if (bar) {
                canvas.Fill(x, y, x + module, y + barHeight, 0);
            }
            x += module;
        }
        y += barHeight + margin;
    }

    // A ruler along the foot: a tick each millimetre, longer each 5 and
    // each 10, numbered in centimetres.
    const int base = info.height - margin;
    canvas.Fill(margin, base - 1, info.width - margin, base, 0);
    for (int n = 0; margin + (int)(n * mm) < info.width - margin; ++n) {
        const int x = margin + (int)(n * mm + 0.5);
        const int length = (int)((n % 10 == 0 ? 4 : n % 5 == 0 ? 2.5 : 1.5) * mm);
        canvas.Fill(x, base - length, x + std::max(1, (int)(0.15 * mm)), base, 0);
        if (n % 10 == 0 && n > 0) {
            canvas.Text(x + 2, base - length - 8 * std::max(1, scale / 2), std::max(1, scale / 2),
                        std::to_string(n / 10));
        }
    }
    return std::move(canvas.Pixels());
}

bool WriteTestLabel(const TestLabelInfo &info, const std::string &path) {
    const std::vector<unsigned char> pixels = DrawTestLabel(info);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    cups_raster_t *raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG);
    cups_page_header2_t header;
    pwg_media_t *size = pwgMediaForSize((int)(info.width * 2540.0 / info.dpi + 0.5),
                                        (int)(info.height * 2540.0 / info.dpi + 0.5));
    bool ok = raster != nullptr && size != nullptr &&
              cupsRasterInitPWGHeader(&header, size, "sgray_8", info.dpi, info.dpi, "one-sided",
                                      "normal");
    if (ok) {
        header.cupsWidth = (unsigned)info.width;
        header.cupsHeight = (unsigned)info.height;
        header.cupsBytesPerLine = (unsigned)info.width;
        ok = cupsRasterWriteHeader2(raster, &header) &&
             cupsRasterWritePixels(raster, const_cast<unsigned char *>(pixels.data()),
                                   (unsigned)pixels.size()) == pixels.size();
    }
    cupsRasterClose(raster);
    ok = close(fd) == 0 && ok;
    if (!ok) {
        unlink(path.c_str());
    }
    return ok;
}

} // namespace vorcp
