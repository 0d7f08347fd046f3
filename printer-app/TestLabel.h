// The printer's test label, drawn by the app: its name, resolution and
// darkness, a grey wedge, a ruler in millimetres and a Code 128 barcode.
#ifndef VORCP_PRINTERAPP_TESTLABEL_H
#define VORCP_PRINTERAPP_TESTLABEL_H

#include <string>
#include <vector>

namespace vorcp {

struct TestLabelInfo {
    std::string name;           // the printer's name
    int dpi = 203;              // dots per inch, both ways
    int width = 0, height = 0;  // the label in dots
    int darknessPercent = 0;    // printer-darkness-configured
    int level = 0, levels = 16; // the darkness as the printer's density level
    std::string barcode;        // printable ASCII
};

// The label as 8-bit grey, 255 white, rows top down, width x height.
std::vector<unsigned char> DrawTestLabel(const TestLabelInfo &info);
// The label as a one-page PWG raster file; false when it cannot be written.
bool WriteTestLabel(const TestLabelInfo &info, const std::string &path);

// Code 128 (code set B) of printable ASCII text: one entry a module, true
// for a bar, quiet zones not included.
std::vector<bool> Code128(const std::string &text);

} // namespace vorcp

#endif
