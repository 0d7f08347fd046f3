// PNG and JPEG documents decoded by the app itself (libpng, libjpeg) and
// laid out on the label as IPP's print-scaling and orientation-requested
// ask, one grey page per copy, handed to the job's page path.
#ifndef VORCP_PRINTERAPP_IMAGES_H
#define VORCP_PRINTERAPP_IMAGES_H

#include <cstddef>
#include <functional>
#include <string>

#include <pappl/pappl.h>

namespace vorcp {

// Where a document's pages go: the job's page path.
class PageSink {
  public:
    virtual ~PageSink() = default;
    // A new page; false ends the document (the reason is the sink's).
    virtual bool StartPage(const cups_page_header2_t &header) = 0;
    // Line y of the page begun last, cupsBytesPerLine bytes.
    virtual void WriteLine(unsigned y, const unsigned char *line) = 0;
    virtual void EndPage() = 0;
    // The job was canceled: no further page is started.
    virtual bool Canceled() = 0;
};

// Why a document could not be printed; ok() when it was.
struct DocumentStatus {
    pappl_jreason_t reason = PAPPL_JREASON_NONE;
    std::string message; // for job-state-message: what a user can act on
    bool ok() const { return reason == PAPPL_JREASON_NONE; }
};

// The largest image the app decodes; larger ones are refused from their
// header, before any pixel is read.
struct ImageLimits {
    int maxWidth = 16384, maxHeight = 16384; // pixels
    size_t maxBytes = 64u << 20;             // decoded pixels, all components
};

// The job's print options for an image, made once the image's header is
// known: color tells whether it has colour.
using OptionsFor = std::function<pappl_pr_options_t(bool color)>;

enum class ImageKind { Png, Jpeg };

// Decodes the image file and sends its copies to the sink. Broken or
// truncated files end with PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, images
// over the limits with PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR; in both
// cases no page has been started.
//
// options is asked once: for a JPEG after its header (the page's
// cupsNumColors decides whether libjpeg decodes grey or RGB), for a PNG
// after its pixels, never for a file that fails before. Of its answer
// PrintImage reads header (8-bit W/SW or 24-bit RGB/sRGB/AdobeRGB; pages
// are sent with it unchanged), media (margins), orientation_requested,
// print_scaling, copies and printer_resolution. A canceled job or a sink
// that refuses a page ends the document with an ok status: the sink knows
// why.
DocumentStatus PrintImage(const std::string &path, ImageKind kind, const OptionsFor &options,
                          PageSink &sink, const ImageLimits &limits = {});

} // namespace vorcp

#endif
