// Long solid black runs printed as dashes.
#include <cstring>

#include "imaging/BmpProcessing.h"

namespace {

// The run's length in whole millimetres, rounded, saturated at the largest
// 16-bit length so a very long run still counts as long.
int RunMillimetres(long long count, int dpi) {
    const double mm = (double)count / (double)dpi * 25.4 + 0.5;
    return mm >= 32767.0 ? 32767 : (int)mm;
}

} // namespace

int CBmpProcessing::ResetBlackLineData(unsigned char *start, unsigned int length, short black,
                                       short white, short bitsPerPixel) {
    if (start == nullptr)
        return 0;
    // A negative interval or an empty period leaves the line solid.
    if (bitsPerPixel != 8 || black < 0 || white < 0)
        return 1;
    const short period = (short)(black + white);
    if (period <= 0 || (unsigned int)period >= length)
        return 1;
    for (unsigned long long d = (unsigned short)period; d < length; d += (unsigned short)period)
        std::memset(start + (d - (unsigned short)white), 255, (unsigned short)white);
    return 1;
}

void CBmpProcessing::DashSolidLines(unsigned char *image, int width, int height, int stride,
                                    short minLengthMm, short dpi, short black, short white,
                                    short bitsPerPixel) {
    if (image == nullptr || width <= 0 || height <= 0 || stride < width || dpi <= 0)
        return;
    const short period = (short)(black + white);
    if (black < 0 || white < 0 || period <= 0)
        return;
    int count = 0; // black bytes in a row, carried to the next row's start
    unsigned char *runEnd = nullptr;
    for (int y = 0; y < height; ++y) {
        unsigned char *row = image + (long long)y * stride;
        if (count > 0 && RunMillimetres(count, dpi) >= minLengthMm)
            ResetBlackLineData(runEnd - count, (unsigned int)count, black, white, bitsPerPixel);
        count = 0;
        int x = 1; // column 0 never belongs to a run
        while (x < width) {
            const void *z = std::memchr(row + x, 0, (size_t)(width - x));
            if (z == nullptr)
                break;
            int e = (int)((const unsigned char *)z - row);
            const int begin = e;
            while (e < width && row[e] == 0)
                ++e;
            count = e - begin;
            if (e == width) {
                runEnd = row + width; // may go on at the next row's start
                break;
            }
            if (RunMillimetres(count, dpi) >= minLengthMm)
                ResetBlackLineData(row + begin, (unsigned int)count, black, white, bitsPerPixel);
            count = 0;
            x = e + 1;
        }
    }
}
