// The app's PNG and JPEG decoding without the app: broken files end fast
// and start no page, and the image matrix laid out here and sent through
// the page loop, as the app's driver sends a page, gives the golden bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include <cups/ppd.h>

#include "ImageCases.h"
#include "ImageSamples.h"
#include "filter/PageLoop.h"
#include "printer-app/Catalogue.h"
#include "printer-app/Images.h"

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

// The options PAPPL 1.3.1 makes for an image job on one of the app's
// printers (papplJobCreatePrintOptions with the driver's defaults): the job's
// copies, media, orientation, scaling and colour mode, the model's
// resolution, an sRGB page for a colour image in auto colour mode, else sGray.
pappl_pr_options_t OptionsFor(const std::string &attrs, int dpi, bool color) {
    pappl_pr_options_t o{};
    o.copies = 1;
    o.orientation_requested = IPP_ORIENT_PORTRAIT;
    o.print_scaling = PAPPL_SCALING_AUTO;
    o.printer_resolution[0] = o.printer_resolution[1] = dpi;
    std::string media = "na_index-4x6_4x6in", raster = "sgray_8";
    for (const std::string &a : rvt::Split(attrs, ' ')) {
        const size_t eq = a.find('=');
        const std::string name = a.substr(0, eq), value = eq ? a.substr(eq + 1) : "";
        if (name == "copies") {
            o.copies = std::stoi(value);
        } else if (name == "media") {
            media = value;
        } else if (name == "orientation-requested") {
            o.orientation_requested = (ipp_orient_t)std::stoi(value);
        } else if (name == "print-scaling") {
            const char *names[] = {"auto", "auto-fit", "fill", "fit", "none"};
            for (int i = 0; i < 5; ++i)
                if (value == names[i])
                    o.print_scaling = (pappl_scaling_t)(1 << i);
        } else if (name == "print-color-mode" && value == "auto" && color) {
            raster = "rgb_8";
        }
    }
    pwg_media_t *size = pwgMediaForPWG(media.c_str());
    EXPECT_NE(size, nullptr) << media;
    strncpy(o.media.size_name, media.c_str(), sizeof(o.media.size_name) - 1);
    o.media.size_width = size->width;
    o.media.size_length = size->length;
    cupsRasterInitPWGHeader(&o.header, size, raster.c_str(), dpi, dpi, "one-sided", "normal");
    return o;
}

// The job's label settings as the app's driver makes them from the printer's
// defaults and the job's vendor attributes.
std::string PpdOptionsFor(const vorcp::ModelCatalogue &model, const std::string &attrs) {
    vorcp::LabelSettings s;
    s.tracking = model.trackingDefault;
    s.labelMode = model.labelModeDefault;
    s.darknessConfigured = vorcp::DarknessPercent(model, model.densityDefault);
    for (const std::string &a : rvt::Split(attrs, ' '))
        if (a.rfind("vorcp-", 0) == 0)
            s.vendor[a.substr(0, a.find('='))] = a.substr(a.find('=') + 1);
    return vorcp::PpdOptions(model, s);
}

// The page loop behind the sink, as the app's driver drives it: every page
// one copy, uncollated.
class PageLoopSink : public vorcp::PageSink {
  public:
    PageLoopSink(const vorcp::ModelCatalogue &model, const std::string &attrs)
        : ppd_(ppdOpenFile(model.ppdPath.c_str())), out_(open_memstream(&data_, &size_)) {
        std::string options = PpdOptionsFor(model, attrs);
        InitializeSetting(options.data(), ppd_);
        PageLoopStart(&loop_, ppd_, out_);
    }
    ~PageLoopSink() override {
        ppdClose(ppd_);
        free(data_);
    }
    bool StartPage(const cups_page_header2_t &header) override {
        cups_page_header2_t h = header;
        h.NumCopies = 1;
        h.Collate = CUPS_FALSE;
        return PageLoopBeginPage(&loop_, &h) != 0;
    }
    void WriteLine(unsigned y, const unsigned char *line) override {
        PageLoopStoreRow(&loop_, y, line);
    }
    void EndPage() override { PageLoopEndPage(&loop_); }
    bool Canceled() override { return false; }
    // The job data once every page is in.
    std::string Finish() {
        EXPECT_EQ(PageLoopFinish(&loop_), 0);
        fclose(out_);
        return std::string(data_, size_);
    }

  private:
    ppd_file_t *ppd_;
    char *data_ = nullptr;
    size_t size_ = 0;
    FILE *out_;
    tagPAGELOOP loop_{};
};

ImageKind KindOf(imgtest::Format f) {
    return f == imgtest::Format::Png ? ImageKind::Png : ImageKind::Jpeg;
}

TEST(Images, TheMatrixLaysOutAsTheGoldenRows) {
    std::map<int, vorcp::ModelCatalogue> models;
    for (int dpi : {203, 300}) {
        std::string error;
        ASSERT_TRUE(vorcp::LoadCatalogue(
            RVC_PPD_DIR "/rastertovorcp-" + std::to_string(dpi) + ".ppd", &models[dpi], &error))
            << error;
    }
    rvt::TempDir dir;
    std::map<std::string, imgtest::Format> samples;
    std::vector<std::pair<std::string, std::string>> results;
    for (const imgtest::ImageCase &c : imgtest::ImageCases()) {
        if (samples.count(c.sample) == 0)
            rvt::WriteFile(dir / c.sample, imgtest::Sample(c.sample, &samples[c.sample]));
        PageLoopSink sink(models[c.dpi], c.attrs);
        const DocumentStatus status = vorcp::PrintImage(
            dir / c.sample, KindOf(samples[c.sample]),
            [&](bool color) { return OptionsFor(c.attrs, c.dpi, color); }, sink);
        ASSERT_TRUE(status.ok()) << c.name << ": " << status.message;
        results.emplace_back(c.name, imgtest::Digest(sink.Finish()));
    }
    if (imgtest::UpdateGolden(results))
        return;
    const std::map<std::string, imgtest::Golden> golden = imgtest::ReadGolden();
    for (const auto &[name, result] : results) {
        auto it = golden.find(name);
        ASSERT_NE(it, golden.end()) << name;
        EXPECT_EQ(result, it->second.expected) << name;
    }
}

// A colour PNG printed in grey takes the luma of its pixels, as libjpeg
// turns colour into grey; PAPPL took the red byte.
TEST(Images, AColourPngInGreyPrintsItsLuma) {
    rvt::TempDir dir;
    imgtest::PngSpec spec{240, 360, 2 /* RGB */};
    rvt::WriteFile(dir / "rgb.png", imgtest::Png(spec));
    RecordingSink grey, colour;
    const std::string none = "print-scaling=none";
    auto print = [&](RecordingSink &sink, const std::string &attrs) {
        return vorcp::PrintImage(
            dir / "rgb.png", ImageKind::Png,
            [&](bool color) { return OptionsFor(attrs, 200, color); }, sink);
    };
    ASSERT_TRUE(print(grey, none).ok());
    ASSERT_TRUE(print(colour, none + " print-color-mode=auto").ok());
    ASSERT_EQ(grey.pages.size(), 1u);
    ASSERT_EQ(colour.pages.size(), 1u);
    const std::string &g = grey.pages[0], &c = colour.pages[0];
    ASSERT_EQ(c.size(), 3 * g.size());
    int coloured = 0;
    for (size_t i = 0; i < g.size(); ++i) {
        const int r = (unsigned char)c[3 * i], gr = (unsigned char)c[3 * i + 1],
                  b = (unsigned char)c[3 * i + 2];
        coloured += r != gr || gr != b;
        ASSERT_EQ((unsigned char)g[i], (19595 * r + 38470 * gr + 7471 * b + 32768) >> 16) << i;
    }
    EXPECT_GT(coloured, 10000); // the bars and the gradient
}

// Each broken or unprintable file ends with its reason and a message that
// names what is wrong, well under a second, before any page.
TEST(Images, BrokenAndOversizedFilesEndBeforeAnyPage) {
    using imgtest::Format;
    const std::string png = imgtest::Sample("png-rgb"), jpeg = imgtest::Sample("jpeg-rgb");
    imgtest::PngSpec wide{64, 32, 0};
    wide.ppmX = 11811, wide.ppmY = 5906;
    imgtest::JpegSpec flat{64, 32, 1, 1, 300, 150};
    const auto format = PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
               unprintable = PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR;
    const struct {
        const char *name;
        Format kind;
        std::string data;
        pappl_jreason_t reason;
        const char *message;
    } cases[] = {
        {"text as PNG", Format::Png, "not a label\n", format, "not a PNG image"},
        {"JPEG as PNG", Format::Png, jpeg, format, "not a PNG image"},
        {"PNG cut in half", Format::Png, png.substr(0, png.size() / 2), format,
         "The PNG file is damaged or cut short: "},
        {"PNG cut after its header", Format::Png, png.substr(0, 40), format,
         "The PNG file is damaged or cut short: "},
        {"text as JPEG", Format::Jpeg, "not a label\n", format, "not a JPEG image"},
        {"empty JPEG", Format::Jpeg, "", format, "not a JPEG image"},
        {"JPEG cut in half", Format::Jpeg, jpeg.substr(0, jpeg.size() / 2), format,
         "The JPEG file is damaged or cut short: Premature end"},
        {"PNG of 20000 x 20000", Format::Png, imgtest::Resized(png, Format::Png, 20000, 20000),
         unprintable, "20000 x 20000 pixels, larger than the 16384 x 16384 pixels"},
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
        const auto start = std::chrono::steady_clock::now();
        const DocumentStatus status = vorcp::PrintImage(
            dir / "doc", KindOf(c.kind), [](bool color) { return OptionsFor("", 203, color); },
            sink);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(status.reason, c.reason);
        EXPECT_NE(status.message.find(c.message), std::string::npos) << status.message;
        EXPECT_TRUE(sink.pages.empty());
        EXPECT_LT(took, std::chrono::milliseconds(200));
    }
}

// A cancel ends the page being sent and starts no further copy.
TEST(Images, ACanceledJobEndsItsPage) {
    rvt::TempDir dir;
    rvt::WriteFile(dir / "grey.jpg", imgtest::Sample("jpeg-grey"));
    RecordingSink sink;
    sink.cancelAfter = 700;
    const DocumentStatus status = vorcp::PrintImage(
        dir / "grey.jpg", ImageKind::Jpeg,
        [](bool color) { return OptionsFor("copies=3", 203, color); }, sink);
    EXPECT_TRUE(status.ok()) << status.message;
    EXPECT_EQ(sink.pages.size(), 1u);
    EXPECT_EQ(sink.ended, 1);
    EXPECT_EQ(sink.lines(), 700u);
}

} // namespace
