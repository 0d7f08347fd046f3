// Reading and interpreting a TSPL job the way a label printer would: the
// commands rastertovorcp writes, with the printer's image buffer and cutter
// state carried from label to label.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tsplview {

enum class Switch { Unset, Off, On };

// The printer's settings as the job left them at a given moment.
struct PrinterSettings {
    bool haveSize = false;
    int width = 0, height = 0; // dots
    bool haveGap = false;
    int gapTenths = 0, gapOffsetTenths = 0; // tenths of a millimetre
    Switch ribbon = Switch::Unset, tear = Switch::Unset, peel = Switch::Unset;
    bool haveDirection = false;
    int direction = 0, mirror = 0;
    bool haveReference = false;
    int referenceX = 0, referenceY = 0;
    bool haveDensity = false;
    int density = 0;
    bool haveOffset = false;
    int offsetTenths = 0;
    int cutter = -1; // -1 never set, 0 off, n: cut after every n labels
};

// One picture that came out of the printer, possibly as several copies:
// consecutive PRINT commands of the same image without a CLS between them
// (the cutter sequences resend one page's bitmap block by block).
struct Label {
    int width = 0, height = 0;
    std::vector<std::uint8_t> dots; // width * height, 1 = dot, top row first
    bool inked = false;
    int inkLeft = 0, inkTop = 0, inkRight = 0, inkBottom = 0; // inclusive
    long copies = 0;
    long firstNumber = 0;        // job-wide number of its first copy, from 1
    std::vector<long> cutsAfter; // job-wide label numbers followed by a cut
    std::vector<std::string> warnings;
    std::size_t offset = 0; // byte offset of its first PRINT

    bool dot(int x, int y) const { return dots[std::size_t(y) * width + x] != 0; }
    long lastNumber() const { return firstNumber + copies - 1; }
    bool cutFollows() const { return !cutsAfter.empty() && cutsAfter.back() == lastNumber(); }
};

struct Job {
    PrinterSettings settings;  // as at the first PRINT (or the end, if none)
    std::vector<Label> labels; // only labels with at least one copy
    long totalLabels = 0;
    long totalCuts = 0;
};

struct ReadResult {
    Job job; // everything read before a fault
    bool ok = true;
    std::size_t errorOffset = 0;
    std::string error; // empty when ok
};

// Labels fully read before a fault stay in the result; the one being read
// when the fault was found is left out.
ReadResult readJob(const std::uint8_t *data, std::size_t size);
inline ReadResult readJob(const std::vector<std::uint8_t> &bytes) {
    return readJob(bytes.data(), bytes.size());
}

// The human-readable report: settings, one block per label (with the PNG
// written for it, when pngPaths holds one per label), totals.
std::string summary(const Job &job, const std::vector<std::string> &pngPaths);

} // namespace tsplview
