// Any bytes as a PNG or a JPEG document through the printer app's decoder:
// every input ends with a document status and no page, or with whole pages
// (every line once, top down), and the decoder never touches memory outside
// its picture (the sanitizers watch). The first four bytes choose the kind
// and the layout: print-scaling, orientation, grey or colour page, copies,
// resolution and label; the rest is the file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "printer-app/Images.h"

namespace {

// Aborts (a finding) on a page sent out of order.
class CheckingSink : public vorcp::PageSink {
  public:
    bool StartPage(const cups_page_header2_t &header) override {
        Expect(!open_);
        open_ = true, height_ = header.cupsHeight, next_ = 0, ++pages;
        return true;
    }
    void WriteLine(unsigned y, const unsigned char *line) override {
        Expect(open_ && y == next_++ && y < height_);
        sum_ += line[0];
    }
    void EndPage() override {
        Expect(open_ && next_ == height_);
        open_ = false;
    }
    bool Canceled() override { return false; }
    static void Expect(bool ok) {
        if (!ok) {
            abort();
        }
    }
    int pages = 0;

  private:
    bool open_ = false;
    unsigned height_ = 0, next_ = 0, sum_ = 0;
};

pappl_pr_options_t Options(const uint8_t *control, bool color) {
    static const pappl_scaling_t kScaling[] = {PAPPL_SCALING_AUTO, PAPPL_SCALING_AUTO_FIT,
                                               PAPPL_SCALING_FILL, PAPPL_SCALING_FIT,
                                               PAPPL_SCALING_NONE, (pappl_scaling_t)0};
    static const char *const kMedia[] = {"na_index-4x6_4x6in", "oe_4x2-label_4x2in",
                                         "oe_2x1-label_2x1in", "om_small_10x10mm"};
    pappl_pr_options_t o{};
    o.print_scaling = kScaling[control[1] % 6];
    o.orientation_requested = (ipp_orient_t)(IPP_ORIENT_PORTRAIT + control[2] % 5);
    o.copies = 1 + (control[3] & 1);
    const int dpi = control[3] & 2 ? 300 : 203;
    o.printer_resolution[0] = o.printer_resolution[1] = dpi;
    pwg_media_t *media = pwgMediaForPWG(kMedia[(control[3] >> 2) & 3]);
    o.media.size_width = media->width, o.media.size_length = media->length;
    const bool rgb = color && (control[3] & 16) != 0;
    cupsRasterInitPWGHeader(&o.header, media, rgb ? "rgb_8" : "sgray_8", dpi, dpi, "one-sided",
                            "normal");
    return o;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4) {
        return 0;
    }
    // The document as a file in memory.
    const int fd = memfd_create("image", 0);
    if (fd < 0 || write(fd, data + 4, size - 4) != (ssize_t)(size - 4)) {
        abort();
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    CheckingSink sink;
    int asked = 0, copies = 0;
    // Small limits keep every input fast.
    vorcp::ImageLimits limits;
    limits.maxWidth = limits.maxHeight = 3000;
    limits.maxBytes = 4u << 20;
    const vorcp::DocumentStatus status = vorcp::PrintImage(
        path, data[0] & 1 ? vorcp::ImageKind::Jpeg : vorcp::ImageKind::Png,
        [&](bool color) {
            ++asked;
            pappl_pr_options_t o = Options(data, color);
            copies = o.copies;
            return o;
        },
        sink, limits);
    close(fd);
    CheckingSink::Expect(asked <= 1);
    if (status.ok()) {
        CheckingSink::Expect(asked == 1 && sink.pages == copies);
    } else {
        CheckingSink::Expect(sink.pages == 0 && !status.message.empty() &&
                             (status.reason == PAPPL_JREASON_DOCUMENT_FORMAT_ERROR ||
                              status.reason == PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR));
    }
    return 0;
}
