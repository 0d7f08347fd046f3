// Raster pages into the page buffer: which rasters are printable, the
// buffer layout, and the store of one raster line into a row.
#ifndef RVC_FILTER_PAGESTORE_H
#define RVC_FILTER_PAGESTORE_H

#include <cstddef>
#include <cstdint>

#include <cups/raster.h>

#include "filter/PageLoop.h"

// Checks a page header and describes its layout. Returns 1 when the page can
// be printed; otherwise 0 after reporting the reason to the spooler.
int DescribeRasterPage(const cups_page_header2_t *header, int isFirstPage, tagPAGELAYOUT *layout);

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

// Undelivered rows print as paper: the pixel bytes of rows first to end - 1
// become white (255).
void WhiteRows(unsigned char *buffer, const tagPAGELAYOUT &layout, uint32_t first, uint32_t end);

#endif
