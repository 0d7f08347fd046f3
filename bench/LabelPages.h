// Synthetic label pages in the page-buffer layout the filter hands to the
// renderer (rows top-down, blue-green-red, rows padded to 4 bytes): a
// shipping label with text and barcodes covering about 15 % of its area,
// a dense full-page pattern, and the same pictures for any resolution.
#ifndef RVC_BENCH_LABELPAGES_H
#define RVC_BENCH_LABELPAGES_H

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace rvcbench {

enum class Content { Label, Dense };

struct PageImage {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<unsigned char> bgr; // stride x height bytes
    double inkShare = 0;            // pixels that are not paper-white

    void Set(int x, int y, unsigned char v) {
        if (x < 0 || y < 0 || x >= width || y >= height) {
            return;
        }
        unsigned char *p = &bgr[(size_t)y * stride + 3 * (size_t)x];
        p[0] = p[1] = p[2] = v;
    }
    void Fill(int x0, int y0, int w, int h, unsigned char v) {
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x) {
                Set(x, y, v);
            }
        }
    }
};

// Deterministic pseudo-random numbers (the pages are the same every run).
struct Lcg {
    uint32_t s;
    explicit Lcg(uint32_t seed) : s(seed) {}
    uint32_t Next() {
        s = s * 1664525u + 1013904223u;
        return s >> 8;
    }
};

// Text: lines of glyph cells, each glyph a few strokes of a 5 x 7 grid
// with a grey anti-aliasing edge; barcodes: bars of 1 to 4 modules.
inline PageImage MakePage(Content content, double widthInches, double heightInches, int dpi) {
    PageImage img;
    img.width = (int)(widthInches * dpi + 0.5);
    img.height = (int)(heightInches * dpi + 0.5);
    img.stride = ((img.width * 24 + 31) >> 5) << 2;
    img.bgr.assign((size_t)img.stride * img.height, 0);
    for (int y = 0; y < img.height; ++y) {
        unsigned char *row = &img.bgr[(size_t)y * img.stride];
        for (int x = 0; x < 3 * img.width; ++x) {
            row[x] = 255;
        }
    }
    const double k = dpi / 203.0;
    Lcg rnd(12345);
    if (content == Content::Dense) {
        // Every pixel inked: a diagonal grey ramp with a fine checker on top.
        for (int y = 0; y < img.height; ++y) {
            for (int x = 0; x < img.width; ++x) {
                int v = ((x + y) * 255) / (img.width + img.height);
                if (((x >> 2) ^ (y >> 2)) & 1) {
                    v = v / 2;
                }
                img.Set(x, y, (unsigned char)(v > 249 ? 249 : v));
            }
        }
    } else {
        const int margin = (int)(12 * k);
        const int frame = (int)(3 * k);
        img.Fill(margin, margin, img.width - 2 * margin, frame, 0);
        img.Fill(margin, img.height - margin - frame, img.width - 2 * margin, frame, 0);
        img.Fill(margin, margin, frame, img.height - 2 * margin, 0);
        img.Fill(img.width - margin - frame, margin, frame, img.height - 2 * margin, 0);
        // Text block: the upper half of the label, lines of 5 x 7 glyphs.
        const int cell = (int)(3 * k) > 0 ? (int)(3 * k) : 1; // one glyph dot
        const int glyphW = 6 * cell, lineH = 10 * cell;
        const int textBottom = img.height / 2;
        for (int ly = margin + 4 * frame; ly + lineH < textBottom; ly += lineH) {
            const int lineEnd =
                margin + 4 * frame +
                (int)((rnd.Next() % 40 + 60) / 100.0 * (img.width - 2 * margin - 8 * frame));
            for (int gx = margin + 4 * frame; gx + glyphW < lineEnd; gx += glyphW) {
                if (rnd.Next() % 7 == 0) {
                    continue; // a word gap
                }
                const uint32_t bits = rnd.Next();
                for (int gy = 0; gy < 7; ++gy) {
                    for (int gc = 0; gc < 5; ++gc) {
                        // Strokes: a vertical, a horizontal and some random dots.
                        bool on = (gc == 0 && (bits & 1)) || (gy == 3 && (bits & 2)) ||
                                  (gy == 0 && (bits & 4)) || (gc == 4 && (bits & 8)) ||
                                  ((bits >> (gy * 3 + gc)) & 0x10 && ((gy + gc) % 3 == 0));
                        if (on) {
                            img.Fill(gx + gc * cell, ly + gy * cell, cell, cell, 0);
                            img.Fill(gx + gc * cell + cell, ly + gy * cell, 1, cell, 128);
                        }
                    }
                }
            }
        }
        // Two barcodes in the lower half, and a grey logo patch.
        const int module = (int)(2 * k) > 0 ? (int)(2 * k) : 1;
        const int codes[2][2] = {{textBottom + 2 * margin, (int)(0.6 * dpi)},
                                 {textBottom + 2 * margin + (int)(1.2 * dpi), (int)(0.35 * dpi)}};
        for (const auto &c : codes) {
            int x = margin + 6 * frame;
            const int end = img.width * 3 / 4;
            bool bar = true;
            while (x < end) {
                const int w = module * (int)(1 + rnd.Next() % 4);
                if (bar) {
                    img.Fill(x, c[0], w, c[1], 0);
                }
                x += w;
                bar = !bar;
            }
        }
        const int logo = (int)(0.6 * dpi);
        for (int y = 0; y < logo; ++y) {
            for (int x = 0; x < logo; ++x) {
                if ((x - logo / 2) * (x - logo / 2) + (y - logo / 2) * (y - logo / 2) <
                    logo * logo / 4) {
                    img.Set(img.width - margin - 4 * frame - logo + x, textBottom + margin + y,
                            (unsigned char)(60 + 120 * x / logo));
                }
            }
        }
    }
    size_t ink = 0;
    for (int y = 0; y < img.height; ++y) {
        for (int x = 0; x < img.width; ++x) {
            ink += img.bgr[(size_t)y * img.stride + 3 * (size_t)x] < 250;
        }
    }
    img.inkShare = (double)ink / ((double)img.width * img.height);
    return img;
}

} // namespace rvcbench

#endif
