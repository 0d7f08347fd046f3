// The shipped PPD files: their defaults and choices mean to the filter what
// their texts promise, and CUPS turns a picture into the raster the filter
// takes.
#include <cups/raster.h>
#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/oemcfg.h"
#include "tests/settings/settings_test_support.h"

namespace {

using rvc_test::Ppd;

struct Model {
    const char *file;
    unsigned dpi;
};

void PrintTo(const Model &m, std::ostream *out)
{
    *out << m.file;
}

std::string PathOf(const Model &m)
{
    return std::string(RVC_PPD_DIR) + "/" + m.file;
}

const char *const kFilterOptions[] = {
    "Mirror", "Rotation", "NegativeFilm", "Density", "HorizontalOffset",
    "HorizontalOffsetValue", "VerticalOffset", "VerticalOffsetValue", "Brightness",
    "Contrast", "Levels", "Halftone", "PrintMethod", "MediaType", "GAPOffset", "GAPHeight",
    "Mode", "CutMethod", "Interval", "Feed", "MaxOutputWidth", "IsToDashed", "MinLength",
    "IntervalBlack", "IntervalWhite", "SavePaper",
};

class ShippedPpd : public ::testing::TestWithParam<Model> {
protected:
    // The raster header CUPS makes for this PPD and job options, and the
    // label configuration the filter would take from them.
    tagOEMCFG Configure(Ppd &ppd, const char *jobOptions, cups_page_header2_t *header)
    {
        ppd.Mark(jobOptions);
        cups_option_t *options = nullptr;
        int count = cupsParseOptions(jobOptions, 0, &options);
        EXPECT_EQ(cupsRasterInterpretPPD(header, ppd.get(), count, options, nullptr), 0);
        cupsFreeOptions(count, options);
        tagOEMCFG cfg = {};
        InitalizeOemCfg(&cfg, ppd.get(), header);
        return cfg;
    }
};

TEST_P(ShippedPpd, DeclaresEveryOptionTheFilterReads)
{
    Ppd ppd(PathOf(GetParam()));
    for (const char *keyword : kFilterOptions)
        EXPECT_NE(ppdFindOption(ppd.get(), keyword), nullptr) << keyword;
}

TEST_P(ShippedPpd, DefaultsPrintAnOrdinaryLabel)
{
    Ppd ppd(PathOf(GetParam()));
    cups_page_header2_t header;
    tagOEMCFG cfg = Configure(ppd, "", &header);
    const unsigned dpi = GetParam().dpi;

    // 8-bit chunky RGB at the model's resolution, 4 x 6 in.
    EXPECT_EQ(header.HWResolution[0], dpi);
    EXPECT_EQ(header.HWResolution[1], dpi);
    EXPECT_EQ(header.cupsColorSpace, CUPS_CSPACE_RGB);
    EXPECT_EQ(header.cupsColorOrder, CUPS_ORDER_CHUNKED);
    EXPECT_EQ(header.cupsBitsPerColor, 8u);
    EXPECT_EQ(header.cupsBitsPerPixel, 24u);
    EXPECT_EQ(header.cupsWidth, 4 * dpi);
    EXPECT_EQ(header.cupsHeight, 6 * dpi);

    EXPECT_EQ(+cfg.sOutputXDPI, (int16_t)dpi);
    EXPECT_EQ(+cfg.sOutputYDPI, (int16_t)dpi);
    EXPECT_EQ(+cfg.sMirror, 0);
    EXPECT_EQ(+cfg.sRotation, 0);
    EXPECT_EQ(+cfg.sRotate90, 0);
    EXPECT_EQ(+cfg.bNegative, 0);
    EXPECT_EQ(+cfg.sDensity, 8);
    EXPECT_EQ(+cfg.sHrzOffset, 0);
    EXPECT_EQ(+cfg.sVtcOffset, 0);
    EXPECT_EQ(+cfg.nBrightness, 0);
    EXPECT_EQ(+cfg.nContrast, 0);
    EXPECT_NEAR(cfg.nLevelsAdj / 100.0, 1.0, 0.02); // gamma
    EXPECT_EQ(+cfg.sHalftoneMethod, 1);
    EXPECT_EQ(+cfg.sPaperType, 0);
    EXPECT_EQ(+cfg.sLabelType, 1);
    EXPECT_EQ(+cfg.GAPHeight, 30);
    EXPECT_EQ(+cfg.GAPOffset, 0);
    EXPECT_EQ(+cfg.dwOperationAfterPrn, 3u);
    EXPECT_EQ(+cfg.sFeedLen, 0);
    EXPECT_EQ(+cfg.sMaxOutputWidth, 104); // the head's printable width
    EXPECT_EQ(+cfg.sIsLineImaginary, 0);
    EXPECT_EQ(+cfg.sPaperMode, 0);
    // Dashing, if switched on, has a period.
    EXPECT_GT(cfg.sBlackInterval + cfg.sWhiteInterval, 0);
}

TEST_P(ShippedPpd, CustomAndListedSizes)
{
    Ppd ppd(PathOf(GetParam()));
    struct Size {
        const char *job;
        int width, length; // points
    };
    const std::vector<Size> sizes = {
        {"PageSize=4x4", 288, 288},           {"PageSize=4x3", 288, 216},
        {"PageSize=4x2", 288, 144},           {"PageSize=2x1", 144, 72},
        {"PageSize=100x150mm", 283, 425},     {"PageSize=100x100mm", 283, 283},
        {"PageSize=60x40mm", 170, 113},       {"PageSize=50x30mm", 142, 85},
        {"PageSize=40x30mm", 113, 85},        {"PageSize=Custom.3x5in", 216, 360},
        {"PageSize=Custom.80x120mm", 227, 340},
    };
    for (const Size &s : sizes) {
        SCOPED_TRACE(s.job);
        cups_page_header2_t header;
        Configure(ppd, s.job, &header);
        EXPECT_NEAR((int)header.PageSize[0], s.width, 1);
        EXPECT_NEAR((int)header.PageSize[1], s.length, 1);
        EXPECT_EQ(header.cupsBitsPerPixel, 24u);
    }
}

struct Meaning {
    const char *job;
    std::function<int64_t(const tagOEMCFG &)> member;
    int64_t expected;
};

#define MEMBER(m) [](const tagOEMCFG &c) { return (int64_t)c.m; }

TEST_P(ShippedPpd, ChoicesMeanWhatTheirTextsSay)
{
    // "Mirror" is missing here: libcups takes a job option of that name for
    // the standard "mirror" option (MirrorPrint); see the next test.
    const std::vector<Meaning> meanings = {
        {"Rotation=Rotate90CCW", MEMBER(sRotation), 1},
        {"Rotation=Rotate90CCW", MEMBER(sRotate90), 1},
        {"Rotation=Rotate180", MEMBER(sRotation), 1},
        {"Rotation=Rotate180", MEMBER(sRotate90), 0},
        {"Rotation=Rotate90CW", MEMBER(sRotation), 0},
        {"Rotation=Rotate90CW", MEMBER(sRotate90), 1},
        {"NegativeFilm=On", MEMBER(bNegative), 1},
        {"Density=15", MEMBER(sDensity), 15},
        {"Density=0", MEMBER(sDensity), 0},
        {"HorizontalOffset=Right", MEMBER(sHrzDir), 0},
        {"HorizontalOffset=Left", MEMBER(sHrzDir), 1},
        {"HorizontalOffsetValue=2.5mm", MEMBER(sHrzOffset), 25},
        {"VerticalOffset=Down", MEMBER(sVtcDir), 0},
        {"VerticalOffset=Up", MEMBER(sVtcDir), 1},
        {"VerticalOffsetValue=1.5mm", MEMBER(sVtcOffset), 15},
        {"Brightness=m50", MEMBER(nBrightness), -100},
        {"Brightness=50", MEMBER(nBrightness), 100},
        {"Contrast=m5", MEMBER(nContrast), -10},
        {"Contrast=50", MEMBER(nContrast), 100},
        {"Levels=Gamma300", MEMBER(nLevelsAdj), 300},
        {"Levels=Gamma030", MEMBER(nLevelsAdj), 30},
        {"Levels=Gamma150", MEMBER(nLevelsAdj), 150},
        {"Halftone=FloydSteinberg", MEMBER(sHalftoneMethod), 2},
        {"Halftone=Bayer8", MEMBER(sHalftoneMethod), 3},
        {"Halftone=Adaptive", MEMBER(sHalftoneMethod), 4},
        {"Halftone=Ordered16", MEMBER(sHalftoneMethod), 5},
        {"Halftone=Stucki", MEMBER(sHalftoneMethod), 6},
        {"Halftone=Screen15", MEMBER(sHalftoneMethod), 7},
        {"Halftone=Bayer4", MEMBER(sHalftoneMethod), 8},
        {"Halftone=Screen8x16", MEMBER(sHalftoneMethod), 9},
        {"PrintMethod=DirectThermal", MEMBER(sPaperType), 1},
        {"PrintMethod=ThermalTransfer", MEMBER(sPaperType), 2},
        {"MediaType=Continuous", MEMBER(sLabelType), 0},
        {"MediaType=BlackMark", MEMBER(sLabelType), 2},
        {"GAPOffset=1.5mm", MEMBER(GAPOffset), 15},
        {"GAPOffset=1.5mm", MEMBER(sBLineOffset), 15},
        {"GAPHeight=2.5mm", MEMBER(GAPHeight), 25},
        {"GAPHeight=2.5mm", MEMBER(sBLineHeight), 25},
        {"Mode=None", MEMBER(dwOperationAfterPrn), 1},
        {"Mode=PeelOff", MEMBER(dwOperationAfterPrn), 2},
        {"Mode=Cutter", MEMBER(dwOperationAfterPrn), 4},
        {"CutMethod=EndOfJob", MEMBER(dwOperationModeAfterPrn), 2},
        {"CutMethod=Interval", MEMBER(dwOperationModeAfterPrn), 3},
        {"Interval=5", MEMBER(sIntervalValue), 5},
        {"Feed=3mm", MEMBER(sFeedLen), 30},
        {"MaxOutputWidth=72mm", MEMBER(sMaxOutputWidth), 72},
        {"IsToDashed=On", MEMBER(sIsLineImaginary), 1},
        {"MinLength=20mm", MEMBER(sMinImaginaryLineLen), 20},
        {"IntervalBlack=5mm", MEMBER(sBlackInterval), 5},
        {"IntervalWhite=2mm", MEMBER(sWhiteInterval), 2},
        {"SavePaper=On", MEMBER(sPaperMode), 1},
    };
    for (const Meaning &m : meanings) {
        SCOPED_TRACE(m.job);
        Ppd ppd(PathOf(GetParam()));
        cups_page_header2_t header;
        tagOEMCFG cfg = Configure(ppd, m.job, &header);
        EXPECT_EQ(m.member(cfg), m.expected);
    }
}

// The queue's default, as lpadmin writes it into the queue's copy of the
// PPD, reaches the filter.
TEST_P(ShippedPpd, MirrorFromTheQueueDefault)
{
    std::ifstream in(PathOf(GetParam()));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string from = "*DefaultMirror: Off", to = "*DefaultMirror: On";
    size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, from.size(), to);
    char path[] = "/tmp/rvc_mirror_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, text.data(), text.size()), (ssize_t)text.size());
    close(fd);
    {
        Ppd ppd{std::string(path)};
        cups_page_header2_t header;
        EXPECT_EQ(+Configure(ppd, "", &header).sMirror, 1);
    }
    unlink(path);
}

// Each choice: a number that is not the missing-option marker, and where the
// text states a number (millimetres, levels, a count) it is that number.
TEST_P(ShippedPpd, EveryChoiceCodeMatchesItsText)
{
    Ppd ppd(PathOf(GetParam()));
    static const std::regex leadingNumber(R"(^([+-]?\d+(\.\d+)?)( |$))");
    for (const char *keyword : kFilterOptions) {
        ppd_option_t *option = ppdFindOption(ppd.get(), keyword);
        ASSERT_NE(option, nullptr) << keyword;
        for (int i = 0; i < option->num_choices; ++i) {
            ppd_choice_t &choice = option->choices[i];
            SCOPED_TRACE(std::string(keyword) + " " + choice.choice);
            ppdMarkOption(ppd.get(), keyword, choice.choice);
            int asInt = GetOptionChoiceIndex(keyword, ppd.get());
            float asFloat = GetOptionChoiceIndexf(keyword, ppd.get());
            EXPECT_NE(asInt, -1);
            EXPECT_NE(asFloat, -1.0f);

            std::string text = choice.text;
            std::smatch number;
            if (std::string(keyword) == "Rotation")
                continue; // "90 degrees" is no value
            if (text == "Off")
                EXPECT_EQ(asInt, 0);
            else if (text == "On")
                EXPECT_EQ(asInt, 1);
            else if (std::string(keyword) == "Levels") {
                ASSERT_TRUE(std::regex_search(text, number, leadingNumber));
                EXPECT_NEAR((3.0 * asInt + 300) / 100, std::stod(number[1]), 0.005);
            } else if (std::regex_search(text, number, leadingNumber)) {
                EXPECT_FLOAT_EQ(asFloat, std::stof(number[1]));
                // Whole-number settings are read as integers.
                if (text.find('.') == std::string::npos) {
                    EXPECT_EQ(asInt, std::stoi(number[1]));
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Models, ShippedPpd,
                         ::testing::Values(Model{"rastertovorcp-203.ppd", 203},
                                           Model{"rastertovorcp-300.ppd", 300}),
                         [](const ::testing::TestParamInfo<Model> &info) {
                             return std::to_string(info.param.dpi) + "dpi";
                         });

// A 2 x 3 in picture at 100 pixels per inch: white with a black frame.
void WritePng(const std::string &path)
{
    const int width = 200, height = 300;
    FILE *file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_pHYs(png, info, 3937, 3937, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    std::vector<png_byte> row(width * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bool ink = x < 10 || y < 10 || x >= width - 10 || y >= height - 10;
            row[x * 3] = row[x * 3 + 1] = row[x * 3 + 2] = ink ? 0 : 255;
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    fclose(file);
}

TEST_P(ShippedPpd, CupsMakesRgbRasterAtTheModelsResolution)
{
    char dir[] = "/tmp/rvc_cupsfilter_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string png = std::string(dir) + "/label.png";
    const std::string raster = std::string(dir) + "/label.ras";
    WritePng(png);
    const std::string command = std::string(RVC_CUPSFILTER) + " -p '" + PathOf(GetParam()) +
                                "' -m application/vnd.cups-raster '" + png + "' > '" + raster +
                                "' 2>/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;

    int fd = open(raster.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    cups_raster_t *stream = cupsRasterOpen(fd, CUPS_RASTER_READ);
    ASSERT_NE(stream, nullptr);
    cups_page_header2_t header;
    int pages = 0;
    bool ink = false;
    const unsigned dpi = GetParam().dpi;
    while (cupsRasterReadHeader2(stream, &header)) {
        ++pages;
        EXPECT_EQ(header.HWResolution[0], dpi);
        EXPECT_EQ(header.HWResolution[1], dpi);
        EXPECT_EQ(header.cupsColorSpace, CUPS_CSPACE_RGB);
        EXPECT_EQ(header.cupsColorOrder, CUPS_ORDER_CHUNKED);
        EXPECT_EQ(header.cupsBitsPerColor, 8u);
        EXPECT_EQ(header.cupsBitsPerPixel, 24u);
        EXPECT_EQ(header.cupsBytesPerLine, 3 * header.cupsWidth);
        EXPECT_EQ(header.cupsWidth, 4 * dpi); // the default 4 x 6 in label
        EXPECT_EQ(header.cupsHeight, 6 * dpi);
        std::vector<unsigned char> line(header.cupsBytesPerLine);
        for (unsigned y = 0; y < header.cupsHeight; ++y) {
            if (cupsRasterReadPixels(stream, line.data(), header.cupsBytesPerLine) == 0)
                break;
            for (unsigned char byte : line)
                ink = ink || byte < 128;
        }
    }
    cupsRasterClose(stream);
    close(fd);
    EXPECT_EQ(pages, 1);
    EXPECT_TRUE(ink) << "the picture's frame is missing from the raster";
    unlink(png.c_str());
    unlink(raster.c_str());
    rmdir(dir);
}

} // namespace
