// The app's PNG and JPEG decoding without the app: broken files end fast
// and start no page, and a cancel ends the page being sent. (The image
// matrix's bytes are the app's test's, over IPP.) And the model catalogue's
// check of a PPD.
#include <gtest/gtest.h>

#include <cstring>

#include "ImageSamples.h"
#include "printer-app/Catalogue.h"
#include "printer-app/Images.h"
#include "tests/support/Support.h"

namespace {

using vorcp::DocumentStatus;
using vorcp::ImageKind;

// The pages a document sends, each as its lines one after another.
class RecordingSink : public vorcp::PageSink {
  public:
    bool StartPage(const cups_page_header2_t &header) override {
        pages.emplace_back();
        bytesPerLine = header.cupsBytesPerLine;
        return true;
    }
    void WriteLine(unsigned y, const unsigned char *line) override {
        EXPECT_EQ(y, pages.back().size() / bytesPerLine);
        pages.back().append((const char *)line, bytesPerLine);
    }
    void EndPage() override { ++ended; }
    bool Canceled() override { return cancelAfter >= 0 && (long)lines() >= cancelAfter; }
    size_t lines() const {
        size_t n = 0;
        for (const std::string &p : pages)
            n += p.size() / bytesPerLine;
        return n;
    }
    std::vector<std::string> pages;
    unsigned bytesPerLine = 1;
    int ended = 0;
    long cancelAfter = -1;
};

// A 4 x 6 in job's options at 203 dpi: the copies asked for, an sRGB page
// for a colour image, else sGray.
pappl_pr_options_t OptionsFor(int copies, bool color) {
    pappl_pr_options_t o{};
    o.copies = copies;
    o.orientation_requested = IPP_ORIENT_PORTRAIT;
    o.print_scaling = PAPPL_SCALING_AUTO;
    o.printer_resolution[0] = o.printer_resolution[1] = 203;
    pwg_media_t *size = pwgMediaForPWG("na_index-4x6_4x6in");
    strcpy(o.media.size_name, size->pwg);
    o.media.size_width = size->width;
    o.media.size_length = size->length;
    cupsRasterInitPWGHeader(&o.header, size, color ? "rgb_8" : "sgray_8", 203, 203, "one-sided",
                            "normal");
    return o;
}

ImageKind KindOf(imgtest::Format f) {
    return f == imgtest::Format::Png ? ImageKind::Png : ImageKind::Jpeg;
}

// Each broken or unprintable file ends with its reason and a message that
// names what is wrong, before any page (the app's test sends others over
// IPP).
TEST(Images, BrokenAndOversizedFilesEndBeforeAnyPage) {
    using imgtest::Format;
    const std::string png = imgtest::Sample("png-rgb"), jpeg = imgtest::Sample("jpeg-rgb");
    imgtest::PngImage wide{64, 32, 0};
    wide.ppmX = 11811, wide.ppmY = 5906;
    imgtest::JpegImage flat{64, 32, 1, 1, 300, 150};
    const auto format = PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
               unprintable = PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR;
    const struct {
        const char *name;
        Format kind;
        std::string data;
        pappl_jreason_t reason;
        const char *message;
    } cases[] = {
        {"JPEG as PNG", Format::Png, jpeg, format, "not a PNG image"},
        {"PNG cut after its header", Format::Png, png.substr(0, 40), format,
         "The PNG file is damaged or cut short: "},
        {"text as JPEG", Format::Jpeg, "not a label\n", format, "not a JPEG image"},
        {"empty JPEG", Format::Jpeg, "", format, "not a JPEG image"},
        {"JPEG of 20000 x 20000", Format::Jpeg, imgtest::Resized(jpeg, Format::Jpeg, 20000, 20000),
         unprintable, "20000 x 20000 pixels, larger than the 16384 x 16384 pixels"},
        {"PNG of 16000 x 16000 in colour", Format::Png,
         imgtest::Resized(png, Format::Png, 16000, 16000), unprintable,
         "16000 x 16000 pixels in colour, 733 MB of pixels, more than the 64 MB"},
        {"PNG of non-square pixels", Format::Png, imgtest::Png(wide), unprintable,
         "not square (300 x 150 pixels per inch)"},
        {"JPEG of non-square pixels", Format::Jpeg, imgtest::Jpeg(flat), unprintable,
         "not square (300 x 150 pixels per inch)"},
    };
    rvt::TempDir dir;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        rvt::WriteFile(dir / "doc", c.data);
        RecordingSink sink;
        const DocumentStatus status = vorcp::PrintImage(
            dir / "doc", KindOf(c.kind), [](bool color) { return OptionsFor(1, color); }, sink);
        EXPECT_EQ(status.reason, c.reason);
        EXPECT_NE(status.message.find(c.message), std::string::npos) << status.message;
        EXPECT_TRUE(sink.pages.empty());
    }
}

// A cancel ends the page being sent and starts no further copy.
TEST(Images, ACanceledJobEndsItsPage) {
    rvt::TempDir dir;
    rvt::WriteFile(dir / "grey.jpg", imgtest::Sample("jpeg-grey"));
    RecordingSink sink;
    sink.cancelAfter = 700;
    const DocumentStatus status = vorcp::PrintImage(
        dir / "grey.jpg", ImageKind::Jpeg, [](bool color) { return OptionsFor(3, color); }, sink);
    EXPECT_TRUE(status.ok()) << status.message;
    EXPECT_EQ(sink.pages.size(), 1u);
    EXPECT_EQ(sink.ended, 1);
    EXPECT_EQ(sink.lines(), 700u);
}

// A PPD that lacks an option the app sets is refused with the option's name
// (the app's own PPDs have them all).
TEST(Catalogue, APpdWithoutALabelOptionIsRefused) {
    const std::string shipped = RVC_PPD_DIR "/rastertovorcp-203.ppd", ppd = rvt::ReadFile(shipped);
    vorcp::ModelCatalogue model;
    std::string error;
    ASSERT_TRUE(vorcp::LoadCatalogue(shipped, &model, &error)) << error;
    rvt::TempDir dir;
    for (const std::string keyword : {"Halftone", "Density"}) {
        const size_t open = ppd.find("*OpenUI *" + keyword + "/");
        const size_t close = ppd.find('\n', ppd.find("*CloseUI: *" + keyword, open));
        ASSERT_NE(close, std::string::npos) << keyword;
        const std::string path = dir / (keyword + ".ppd");
        rvt::WriteFile(path, ppd.substr(0, open) + ppd.substr(close + 1));
        EXPECT_FALSE(vorcp::LoadCatalogue(path, &model, &error)) << keyword;
        EXPECT_EQ(error, path + ": no option " + keyword);
    }
}

} // namespace
