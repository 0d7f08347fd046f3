// Bad input and failures: refused rasters, impossible sizes, failed
// allocations, pages of another geometry and failed writes.
#include <gtest/gtest.h>

#include "tests/filter/FilterTestSupport.h"

using namespace rvctest;

namespace {

auto All = [](int, int) { return true; };

Page Sized(unsigned w, unsigned h, std::function<bool(unsigned, unsigned)> ink) {
    Page p;
    p.width = w;
    p.height = h;
    p.ink = std::move(ink);
    return p;
}

Result Print(const std::vector<Page> &pages) {
    Job run;
    run.input = MakeRaster(pages);
    return RunFilter(run);
}

// Whether the text holds a message in the spooler's form.
bool HasError(const std::string &err, const std::string &text) {
    return err.find("\nERROR: " + text) != std::string::npos && err.back() == '\n';
}

TEST(BadInput, UnsupportedRasterIsRefusedBeforePrinting) {
    struct Case {
        const char *name;
        unsigned bitsPerColor, bitsPerPixel;
        cups_cspace_t space;
        cups_order_t order;
    } cases[] = {
        {"8-bit black-is-255 grey", 8, 8, CUPS_CSPACE_K, CUPS_ORDER_CHUNKED},
        {"1-bit grey", 1, 1, CUPS_CSPACE_W, CUPS_ORDER_CHUNKED},
        {"16-bit grey", 16, 16, CUPS_CSPACE_W, CUPS_ORDER_CHUNKED},
        {"32-bit CMYK", 8, 32, CUPS_CSPACE_CMYK, CUPS_ORDER_CHUNKED},
        {"48-bit RGB", 16, 48, CUPS_CSPACE_RGB, CUPS_ORDER_CHUNKED},
        {"24-bit CMY", 8, 24, CUPS_CSPACE_CMY, CUPS_ORDER_CHUNKED},
        {"banded RGB", 8, 8, CUPS_CSPACE_RGB, CUPS_ORDER_BANDED},
        {"planar RGB", 8, 8, CUPS_CSPACE_RGB, CUPS_ORDER_PLANAR},
        {"32-bit RGBA", 8, 32, CUPS_CSPACE_RGBA, CUPS_ORDER_CHUNKED},
    };
    for (const Case &c : cases) {
        Page p = Sized(64, 16, Box(0, 0, 63, 15));
        p.bitsPerColor = c.bitsPerColor;
        p.bitsPerPixel = c.bitsPerPixel;
        p.colorSpace = c.space;
        p.colorOrder = c.order;
        p.line = [](unsigned, unsigned char *line) { memset(line, 0, 1); };
        Result r = Print({p});
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_EQ(r.out, "") << c.name;
        EXPECT_TRUE(HasError(r.err, "Unsupported raster data")) << c.name << ": " << r.err;
        EXPECT_EQ(r.err.find("Finish print operation."), std::string::npos) << c.name;
    }
}

TEST(BadInput, ResolutionOutsideTheRecordsIsRefused) {
    struct Case {
        unsigned x, y;
        bool printed;
    } cases[] = {{0, 203, false},     {203, 0, false},   {32768, 203, false},
                 {203, 40000, false}, {1, 1, true},      {32767, 32767, true}};
    for (const Case &c : cases) {
        Page p = Sized(16, 4, Box(0, 0, 7, 1));
        p.resolution = c.x;
        p.yResolution = (int)c.y;
        Result r = Print({p});
        EXPECT_EQ(r.status, c.printed ? 0 : 1) << c.x << "x" << c.y;
        EXPECT_EQ(r.out.find("BITMAP") != std::string::npos, c.printed) << c.x << "x" << c.y;
        EXPECT_EQ(HasError(r.err, "Unsupported raster resolution"), !c.printed) << r.err;
    }
}

TEST(BadInput, RefusedLaterPageEndsTheJobWithoutItsHeldPage) {
    Page bad = Sized(64, 32, Box(0, 0, 7, 1));
    bad.bitsPerPixel = 32;
    bad.colorSpace = CUPS_CSPACE_CMYK;
    Result r = Print({Sized(64, 32, Box(0, 0, 7, 1)), bad});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, Preamble(64, 33));
    EXPECT_TRUE(HasError(r.err, "Unsupported raster data")) << r.err;
    EXPECT_EQ(Count(r.err, "Finish print operation."), 1);
}

TEST(BadInput, PagesTooLargeForTheRecordsAreRefused) {
    struct Case {
        const char *name;
        unsigned width, height, bytesPerLine;
    } cases[] = {
        // width x 24 bits leaves 32 bits; the line length is what wraps.
        {"row stride", 0x20000001u, 1, 3},
        {"stride x height", 10000, 200000, 0},
    };
    for (const Case &c : cases) {
        Page p = Sized(c.width, c.height, Box(0, 0, 0, 0));
        p.bytesPerLine = c.bytesPerLine;
        p.rowsWritten = 0;
        Result r = Print({p});
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_TRUE(HasError(r.err, "Raster page of")) << c.name << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.name;
    }
}

TEST(BadInput, FailedPageAllocationEndsTheJob) {
    // 8000 x 8000 x 3 bytes cannot be had within the limit.
    Page p = Sized(8000, 8000, Box(0, 0, 0, 0));
    p.rowsWritten = 0;
    Job run;
    run.input = MakeRaster({p});
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer reserves more address space than any limit would allow;
    // its own allocation limit stands in.
    run.extraEnv.push_back("ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:"
                           "max_allocation_size_mb=100");
#else
    run.addressLimit = 150u << 20;
#endif
    Result r = RunFilter(run);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(HasError(r.err, "Unable to allocate memory")) << r.err;
    EXPECT_EQ(r.out.find("BITMAP"), std::string::npos);
    EXPECT_EQ(r.err.find("Finish print operation."), std::string::npos);
}

TEST(BadInput, LaterPagesAreCutOrFilledToTheFirstPagesLayout) {
    Page larger = Sized(128, 64, Box(40, 20, 100, 50));
    Page smaller = Sized(16, 8, Box(0, 0, 15, 7));
    Page grey = Sized(64, 32, Box(8, 2, 15, 3));
    grey.bitsPerPixel = 8;
    grey.colorSpace = CUPS_CSPACE_W;
    Result r = Print({Sized(64, 32, Box(0, 0, 7, 1)), larger, smaller, grey});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ParseJob(r.out).error, "");
    std::string expected = Preamble(64, 33) + PageOut(Pack(0, 0, 7, 1, All), 1) +
                           // cut at the first page's right edge and bottom
                           PageOut(Pack(40, 20, 63, 31, All), 1) +
                           // the rest of the first page's area is white
                           PageOut(Pack(0, 0, 15, 7, All), 1) +
                           // a grey page after a colour one prints the same
                           PageOut(Pack(8, 2, 15, 3, All), 1);
    EXPECT_EQ(r.out, expected);
}

TEST(BadInput, FailedWritesEndTheJobWithAnError) {
    struct Case {
        const char *name;
        Out out;
        bool large;
    } cases[] = {
        {"full device, final flush", Out::DevFull, false},
        {"full device, during the job", Out::DevFull, true},
        {"vanished reader", Out::ClosedPipe, true},
    };
    for (const Case &c : cases) {
        // Large pages overflow the output buffer while page 1 is emitted.
        Page p = c.large ? Sized(800, 200, Box(0, 0, 799, 199)) : Sized(64, 32, Box(0, 0, 7, 1));
        Job run;
        run.out = c.out;
        run.input = MakeRaster({p, p, p});
        Result r = RunFilter(run);
        EXPECT_EQ(r.signal, 0) << c.name;
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_TRUE(HasError(r.err, "Unable to write the print data")) << c.name << ": " << r.err;
        EXPECT_EQ(Count(r.err, "ERROR:"), 1) << c.name;
        if (c.large) {
            // Nothing more is read once page 1 could not be sent.
            EXPECT_EQ(Count(r.err, "Finish print operation."), 1) << c.name;
        }
    }
}

} // namespace
