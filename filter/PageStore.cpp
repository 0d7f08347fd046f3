#include "PageStore.h"

#include <cstring>

#include "log/ErrorReport.h"
#include "settings/NumberConv.h"

namespace {

bool IsRgbSpace(unsigned space) {
    return space == CUPS_CSPACE_RGB || space == CUPS_CSPACE_SRGB || space == CUPS_CSPACE_ADOBERGB;
}

bool IsWhiteIsHighGrey(unsigned space) {
    return space == CUPS_CSPACE_W || space == CUPS_CSPACE_SW;
}

} // namespace

int DescribeRasterPage(const cups_page_header2_t *h, int isFirstPage, tagPAGELAYOUT *layout) {
    const unsigned space = (unsigned)RawEnum(h->cupsColorSpace);
    const unsigned order = (unsigned)RawEnum(h->cupsColorOrder);
    uint32_t bytesPerPixel = 0;
    if (h->cupsBitsPerColor == 8 && order == CUPS_ORDER_CHUNKED) {
        if (h->cupsBitsPerPixel == 24 && IsRgbSpace(space)) {
            bytesPerPixel = 3;
        } else if (h->cupsBitsPerPixel == 8 && IsWhiteIsHighGrey(space)) {
            bytesPerPixel = 1;
        }
    }
    if (bytesPerPixel == 0) {
        ReportError("Unsupported raster data (%u bits per color, %u bits per pixel, color order "
                    "%u, color space %u); only 24-bit RGB and 8-bit grey can be printed",
                    h->cupsBitsPerColor, h->cupsBitsPerPixel, order, space);
        return 0;
    }
    // The records carry resolutions as 16-bit numbers and divide by them.
    if (isFirstPage && (h->HWResolution[0] < 1 || h->HWResolution[0] > 32767 ||
                        h->HWResolution[1] < 1 || h->HWResolution[1] > 32767)) {
        ReportError("Unsupported raster resolution %ux%u dpi (1 to 32767 dpi can be printed)",
                    h->HWResolution[0], h->HWResolution[1]);
        return 0;
    }
    // Widths, heights and sizes are signed 32-bit numbers further on.
    const uint64_t bits = (uint64_t)h->cupsWidth * h->cupsBitsPerPixel;
    const uint64_t stride = ((bits + 31) >> 5) << 2;
    const uint64_t size = stride * h->cupsHeight;
    if (bits + 31 > INT32_MAX || h->cupsHeight > INT32_MAX || size > INT32_MAX) {
        ReportError("Raster page of %ux%u pixels is too large to print", h->cupsWidth,
                    h->cupsHeight);
        return 0;
    }
    if ((uint64_t)h->cupsBytesPerLine != (bits + 7) / 8) {
        ReportError("Raster line of %u bytes does not hold %u pixels of %u bits",
                    h->cupsBytesPerLine, h->cupsWidth, h->cupsBitsPerPixel);
        return 0;
    }
    layout->dwWidth = h->cupsWidth;
    layout->dwHeight = h->cupsHeight;
    layout->dwBytesPerPixel = bytesPerPixel;
    layout->dwRowBytes = h->cupsWidth * bytesPerPixel;
    layout->dwStride = (uint32_t)stride;
    layout->dwSize = (uint32_t)size;
    return 1;
}

CRowStore::CRowStore(const tagPAGELAYOUT &dst, const tagPAGELAYOUT &src)
    : m_kind(kColour), m_copyPixels(src.dwWidth < dst.dwWidth ? src.dwWidth : dst.dwWidth),
      m_dstPixelBytes(dst.dwBytesPerPixel), m_dstRowBytes(dst.dwRowBytes) {
    if (dst.dwBytesPerPixel == 3) {
        m_kind = src.dwBytesPerPixel == 3 ? kColour : kWiden;
    } else {
        m_kind = src.dwBytesPerPixel == 1 ? kGrey : kNarrow;
    }
}

void CRowStore::Store(unsigned char *row, const unsigned char *line) const {
    const uint32_t n = m_copyPixels;
    switch (m_kind) {
    case kColour:
        // The raster delivers red-green-blue; the page image is blue-green-red.
        for (uint32_t i = 0; i < n; ++i) {
            row[3 * i] = line[3 * i + 2];
            row[3 * i + 1] = line[3 * i + 1];
            row[3 * i + 2] = line[3 * i];
        }
        break;
    case kGrey:
        memcpy(row, line, n);
        break;
    case kWiden:
        // Equal components convert back to the same grey.
        for (uint32_t i = 0; i < n; ++i) {
            row[3 * i] = line[i];
            row[3 * i + 1] = line[i];
            row[3 * i + 2] = line[i];
        }
        break;
    case kNarrow:
        // The conversion's own grey weights for red, green and blue.
        for (uint32_t i = 0; i < n; ++i) {
            row[i] =
                (unsigned char)((11 * line[3 * i] + 16 * line[3 * i + 1] + 5 * line[3 * i + 2]) >>
                                5);
        }
        break;
    }
    const uint32_t used = n * m_dstPixelBytes;
    memset(row + used, 255, m_dstRowBytes - used);
}

void WhiteRows(unsigned char *buffer, const tagPAGELAYOUT &layout, uint32_t first, uint32_t end) {
    for (uint32_t r = first; r < end && r < layout.dwHeight; ++r) {
        memset(buffer + (size_t)r * layout.dwStride, 255, layout.dwRowBytes);
    }
}
