// Which raster pages are printable, their buffer layout, and the store of
// raster lines into rows of the first page's layout.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "filter/PageStore.h"

namespace {

cups_page_header2_t Header(unsigned width, unsigned height, unsigned bitsPerPixel,
                           cups_cspace_t space) {
    cups_page_header2_t h;
    memset(&h, 0, sizeof(h));
    h.HWResolution[0] = h.HWResolution[1] = 203;
    h.cupsWidth = width;
    h.cupsHeight = height;
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = bitsPerPixel;
    h.cupsBytesPerLine = (unsigned)(((uint64_t)width * bitsPerPixel + 7) / 8);
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = space;
    return h;
}

TEST(PageStore, LayoutOfPrintablePages) {
    struct Case {
        unsigned width, height, bits;
        cups_cspace_t space;
        uint32_t pixelBytes, stride;
    } cases[] = {
        {5, 7, 24, CUPS_CSPACE_RGB, 3, 16}, // 15 bytes rounded up to 16
        {8, 3, 24, CUPS_CSPACE_SRGB, 3, 24},
        {1, 1, 24, CUPS_CSPACE_ADOBERGB, 3, 4},
        {5, 2, 8, CUPS_CSPACE_W, 1, 8},
        {812, 1218, 8, CUPS_CSPACE_SW, 1, 812},
    };
    for (const Case &c : cases) {
        cups_page_header2_t h = Header(c.width, c.height, c.bits, c.space);
        tagPAGELAYOUT layout;
        ASSERT_EQ(DescribeRasterPage(&h, 1, &layout), 1);
        EXPECT_EQ(layout.dwBytesPerPixel, c.pixelBytes) << c.width;
        EXPECT_EQ(layout.dwRowBytes, c.width * c.pixelBytes) << c.width;
        EXPECT_EQ(layout.dwStride, c.stride) << c.width;
        EXPECT_EQ(layout.dwSize, c.stride * c.height) << c.width;
    }
}

TEST(PageStore, RefusedPagesSayWhy) {
    struct Case {
        const char *name;
        cups_page_header2_t header;
        int firstPage;
        const char *reason; // null: accepted
    };
    std::vector<Case> cases;
    auto add = [&](const char *name, cups_page_header2_t h, int first, const char *reason) {
        cases.push_back({name, h, first, reason});
    };
    cups_page_header2_t h = Header(64, 8, 24, CUPS_CSPACE_CMY);
    add("CMY", h, 1, "Unsupported raster data");
    h = Header(64, 8, 8, CUPS_CSPACE_K);
    add("black-is-255 grey", h, 1, "Unsupported raster data");
    h = Header(64, 8, 24, CUPS_CSPACE_RGB);
    h.cupsColorOrder = CUPS_ORDER_BANDED;
    add("banded", h, 1, "Unsupported raster data");
    h = Header(64, 8, 24, CUPS_CSPACE_RGB);
    h.cupsBitsPerColor = 16;
    add("16 bits per colour", h, 1, "Unsupported raster data");
    h = Header(64, 8, 24, CUPS_CSPACE_RGB);
    h.HWResolution[0] = 0;
    add("zero resolution", h, 1, "Unsupported raster resolution");
    add("zero resolution on a later page", h, 0, nullptr);
    h = Header(64, 8, 24, CUPS_CSPACE_RGB);
    h.HWResolution[1] = 32768;
    add("resolution beyond 16 bits", h, 1, "Unsupported raster resolution");
    h = Header(64, 8, 24, CUPS_CSPACE_RGB);
    h.cupsBytesPerLine = 190;
    add("short line", h, 1, "Raster line of 190 bytes");
    h = Header(0x20000001u, 1, 24, CUPS_CSPACE_RGB);
    add("row beyond 32 bits", h, 1, "Raster page of");
    h = Header(10000, 100000, 24, CUPS_CSPACE_RGB);
    add("page beyond 31 bits", h, 1, "Raster page of");
    h = Header(1, 0x80000000u, 8, CUPS_CSPACE_W);
    add("height beyond 31 bits", h, 1, "Raster page of");
    for (const Case &c : cases) {
        tagPAGELAYOUT layout;
        testing::internal::CaptureStderr();
        int ok = DescribeRasterPage(&c.header, c.firstPage, &layout);
        std::string message = testing::internal::GetCapturedStderr();
        if (c.reason == nullptr) {
            EXPECT_EQ(ok, 1) << c.name << ": " << message;
            continue;
        }
        EXPECT_EQ(ok, 0) << c.name;
        std::string m = message;
        EXPECT_EQ(m.rfind("\nERROR: ", 0), 0u) << c.name << ": " << m;
        EXPECT_NE(m.find(c.reason), std::string::npos) << c.name << ": " << m;
        EXPECT_EQ(m.back(), '\n') << c.name;
    }
}

tagPAGELAYOUT Layout(unsigned width, unsigned height, unsigned bits) {
    cups_page_header2_t h = Header(width, height, bits, bits == 8 ? CUPS_CSPACE_W : CUPS_CSPACE_RGB);
    tagPAGELAYOUT layout;
    EXPECT_EQ(DescribeRasterPage(&h, 1, &layout), 1);
    return layout;
}

// One row of dst's layout after storing the line, padding pre-set to 0xAA.
std::vector<unsigned char> StoreOne(const tagPAGELAYOUT &dst, const tagPAGELAYOUT &src,
                                    const std::vector<unsigned char> &line) {
    std::vector<unsigned char> row(dst.dwStride, 0xAA);
    CRowStore(dst, src).Store(row.data(), line.data());
    return row;
}

TEST(PageStore, RowsTakeTheFirstPagesLayout) {
    using Bytes = std::vector<unsigned char>;
    struct Case {
        const char *name;
        tagPAGELAYOUT dst, src;
        Bytes line, row;
    } cases[] = {
        {"colour turned to blue-green-red, padding kept", Layout(2, 1, 24), Layout(2, 1, 24),
         {1, 2, 3, 4, 5, 6},
         {3, 2, 1, 6, 5, 4, 0xAA, 0xAA}},
        {"narrower page filled out with white", Layout(2, 1, 24), Layout(1, 1, 24),
         {1, 2, 3},
         {3, 2, 1, 255, 255, 255, 0xAA, 0xAA}},
        {"wider page cut at the right", Layout(1, 1, 24), Layout(3, 1, 24),
         {1, 2, 3, 4, 5, 6, 7, 8, 9},
         {3, 2, 1, 0xAA}},
        {"grey copied", Layout(3, 1, 8), Layout(2, 1, 8), {10, 20}, {10, 20, 255, 0xAA}},
        {"grey widened into colour", Layout(2, 1, 24), Layout(2, 1, 8),
         {10, 200},
         {10, 10, 10, 200, 200, 200, 0xAA, 0xAA}},
        // (11 x 255 + 16 x 200) >> 5 = 187; pure blue 39
        {"colour narrowed into grey", Layout(2, 1, 8), Layout(2, 1, 24),
         {255, 200, 0, 0, 0, 255},
         {187, 39, 0xAA, 0xAA}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(StoreOne(c.dst, c.src, c.line), c.row) << c.name;
    }
}

TEST(PageStore, UndeliveredRowsAreWhiteWithPaddingKept) {
    tagPAGELAYOUT layout = Layout(5, 3, 24);
    std::vector<unsigned char> buffer(layout.dwSize, 0);
    WhiteRows(buffer.data(), layout, 1, layout.dwHeight);
    for (uint32_t i = 0; i < layout.dwSize; ++i) {
        uint32_t row = i / layout.dwStride, col = i % layout.dwStride;
        unsigned char expected = (row >= 1 && col < 15) ? 255 : 0;
        ASSERT_EQ(buffer[i], expected) << "row " << row << " byte " << col;
    }
}

} // namespace
