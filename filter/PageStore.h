// Raster pages into the page buffer: which rasters are printable, the
// buffer layout, and the store of one raster line into a row.
#ifndef RVC_FILTER_PAGESTORE_H
#define RVC_FILTER_PAGESTORE_H

#include <cstddef>
#include <cstdint>

#include <cups/raster.h>

// Layout of one page image: rows top-down, pixels blue-green-red (or one
// grey byte), each row padded to a multiple of 4 bytes.
struct tagPAGELAYOUT {
    uint32_t dwWidth;         // pixels per row
    uint32_t dwHeight;        // rows
    uint32_t dwBytesPerPixel; // 3 (colour) or 1 (grey)
    uint32_t dwRowBytes;      // pixel bytes of a row, without padding
    uint32_t dwStride;        // row distance in bytes
    uint32_t dwSize;          // stride x rows
};

// Checks a page header and describes its layout. Returns 1 when the page can
// be printed; otherwise 0 with the reason (an "ERROR: " message in the
// spooler's form) formatted into message.
int DescribeRasterPage(const cups_page_header2_t *header, int isFirstPage, tagPAGELAYOUT *layout,
                       char *message, size_t messageSize);

// Stores raster lines of a page with layout src into rows of a buffer with
// layout dst: colour bytes turned to blue-green-red, grey widened or colour
// narrowed when the depths differ, the row cut at dst's width and filled out
// with white where src is narrower. Padding bytes are not touched.
class CRowStore {
public:
    CRowStore(const tagPAGELAYOUT &dst, const tagPAGELAYOUT &src);
    void Store(unsigned char *row, const unsigned char *line) const;

private:
    enum Kind { kColour, kGrey, kWiden, kNarrow };
    Kind m_kind;
    uint32_t m_copyPixels;
    uint32_t m_dstPixelBytes;
    uint32_t m_dstRowBytes;
};

// Undelivered rows print as paper: the pixel bytes become white (255).
void WhiteRows(unsigned char *buffer, const tagPAGELAYOUT &layout, uint32_t firstRow);

#endif
