// Reading and interpreting a TSPL job the way a label printer would: the
// commands rastertovorcp writes, with the printer's image buffer and cutter
// state carried from label to label.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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

// A job read as its bytes arrive, as a printer reads it from a connection:
// next() reads commands only when asked, up to the next PRINT, and the bytes
// not read yet wait in the reader. Until end() a command is read only once
// it is whole, so the job reads as it would all at once (readJob).
class JobReader {
  public:
    enum class Step {
        NeedData, // every byte so far is read, or they end inside a command
        Printed,  // a PRINT printed labels: see printed()
        Done,     // the job ended after a whole command: see result()
        Fault,    // the job is faulty: see result()
    };
    // What the last PRINT printed.
    struct Print {
        const Label *label = nullptr; // its picture; copies so far include these
        long copies = 0;              // labels this PRINT printed
        std::size_t number = 0;       // the picture's number in the job, from 1
    };

    // keepLabels false: the result keeps the totals but no labels (a
    // printer has no use for the pictures it has printed).
    explicit JobReader(bool keepLabels = true);
    ~JobReader();
    JobReader(const JobReader &) = delete;
    JobReader &operator=(const JobReader &) = delete;

    // The job's next bytes; dropped once the job is done or faulty.
    void feed(const std::uint8_t *data, std::size_t size);
    // No more bytes come: a command cut short is now a fault.
    void end();
    // Bytes fed and not read yet.
    std::size_t waiting() const;

    Step next();
    // After Printed, until the next call of next().
    const Print &printed() const;
    // After Done or Fault: the job as far as it was read.
    ReadResult &result();

  private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// Labels fully read before a fault stay in the result; the one being read
// when the fault was found is left out.
ReadResult readJob(const std::uint8_t *data, std::size_t size);
inline ReadResult readJob(const std::vector<std::uint8_t> &bytes) {
    return readJob(bytes.data(), bytes.size());
}

// A fingerprint of a label's picture: its size and every dot.
std::uint64_t pictureHash(const Label &label);

// The human-readable report: settings, one block per label (with the PNG
// written for it, when pngPaths holds one per label), totals.
std::string summary(const Job &job, const std::vector<std::string> &pngPaths);

} // namespace tsplview
