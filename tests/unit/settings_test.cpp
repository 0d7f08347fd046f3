// The job's settings records from the PPD, the job's options and the first
// page header, against a golden file; option codes read as numbers.
#include <cstring>
#include <string>

#include <cups/cups.h>
#include <cups/ppd.h>
#include <gtest/gtest.h>

#include "filter/FilterJob.h"
#include "settings/devmode.h"
#include "settings/oemcfg.h"
#include "tests/support/Support.h"

namespace {

#define FIELD(rec, f) (std::string(#f "=") + std::to_string(+(rec).f) + " ")

std::string Dump(const tagOEMCFG &c) {
    return FIELD(c, sHrzDir) + FIELD(c, sVtcDir) + FIELD(c, sHrzOffset) + FIELD(c, sVtcOffset) +
           FIELD(c, sDensity) + FIELD(c, sRotation) + FIELD(c, sMirror) + FIELD(c, bNegative) +
           "\n" + FIELD(c, dwOperationAfterPrn) + FIELD(c, dwOperationModeAfterPrn) +
           FIELD(c, nBrightness) + FIELD(c, nContrast) + FIELD(c, sPaperType) +
           FIELD(c, sLabelType) + FIELD(c, GAPHeight) + FIELD(c, GAPOffset) + "\n" +
           FIELD(c, sBLineHeight) + FIELD(c, sBLineOffset) + FIELD(c, sIntervalValue) +
           FIELD(c, sFeedLen) + FIELD(c, sHalftoneMethod) + FIELD(c, sRotate90) +
           FIELD(c, sIsLineImaginary) + FIELD(c, sMinImaginaryLineLen) + "\n" +
           FIELD(c, sBlackInterval) + FIELD(c, sWhiteInterval) + FIELD(c, nLevelsAdj) +
           FIELD(c, sMaxOutputWidth) + FIELD(c, sOutputXDPI) + FIELD(c, sOutputYDPI) +
           FIELD(c, sPaperMode) + "\n";
}

std::string Dump(const _DEVMODE &d, const _OEMPDEV &p) {
    return FIELD(d, dmOrientation) + FIELD(d, dmPrintQuality) + FIELD(d, dmYResolution) +
           FIELD(d, dmCollate) + "\n" + FIELD(p, dwBufSize) + FIELD(p, bmInfoHeader.biWidth) +
           FIELD(p, bmInfoHeader.biHeight) + FIELD(p, bmInfoHeader.biBitCount) +
           FIELD(p, srcGdiInfo.ulVertRes) + FIELD(p, srcGdiInfo.ptlPhysOffset.x) +
           FIELD(p, srcGdiInfo.ptlPhysOffset.y) + "\n" + FIELD(p, srcGdiInfo.szlPhysSize.cx) +
           FIELD(p, srcGdiInfo.szlPhysSize.cy) + FIELD(p, dwCurPageNum) + FIELD(p, sCurCopies) +
           FIELD(p, dwPagePrinted) + FIELD(p, nSizeWidth) + FIELD(p, nSizeHeight) +
           (p.bufStart ? "bufStart set" : "") + "\n";
}

cups_page_header2_t Header(unsigned dpi, unsigned width, unsigned height, unsigned copies,
                           bool collate) {
    cups_page_header2_t h;
    memset(&h, 0, sizeof(h));
    h.HWResolution[0] = h.HWResolution[1] = dpi;
    h.cupsWidth = width;
    h.cupsHeight = height;
    h.cupsBitsPerPixel = 24;
    h.NumCopies = copies;
    h.Collate = collate ? CUPS_TRUE : CUPS_FALSE;
    h.Orientation = CUPS_ORIENT_90; // the filter works in portrait whatever it says
    return h;
}

const char kMinimalPpd[] =
    "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
    "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"T.PPD\"\n"
    "*Manufacturer: \"T\"\n*Product: \"(T)\"\n*ModelName: \"T\"\n*ShortNickName: \"T\"\n"
    "*NickName: \"T\"\n";

// One option named Value with the given code in its default choice.
std::string OptionPpd(const std::string &code) {
    return std::string(kMinimalPpd) +
           "*OpenUI *Value: PickOne\n*OrderDependency: 10 AnySetup *Value\n*DefaultValue: A\n"
           "*Value A: \"" +
           code + "\"\n*Value B: \"12345\"\n*CloseUI: *Value\n";
}

TEST(Settings, RecordsFromPpdOptionsAndHeader) {
    rvt::TempDir dir;
    const std::string shipped = rvt::Ppd(dir);
    const std::string mirrored = rvt::Ppd(dir, {{"Mirror", "On"}, {"Halftone", "Bayer8"}});
    rvt::WriteFile(dir / "minimal.ppd", kMinimalPpd);
    struct Case {
        std::string ppd, options;
        cups_page_header2_t header;
    };
    const Case cases[] = {
        {shipped, "", Header(203, 812, 1218, 1, false)},
        {shipped,
         "Rotation=Rotate90CW NegativeFilm=On Density=12 HorizontalOffset=Left "
         "HorizontalOffsetValue=2.5mm VerticalOffset=Down VerticalOffsetValue=3mm Brightness=m20 "
         "Contrast=30 Levels=Gamma300 Halftone=Stucki PrintMethod=ThermalTransfer "
         "MediaType=BlackMark GAPHeight=2.5mm GAPOffset=0.5mm Mode=Cutter CutMethod=Interval "
         "Interval=3 Feed=5mm MaxOutputWidth=72mm IsToDashed=On MinLength=15mm IntervalBlack=4mm "
         "IntervalWhite=2mm SavePaper=On",
         Header(300, 1200, 600, 3, true)},
        {shipped, "Rotation=Rotate90CCW Levels=Gamma030 MediaType=Continuous Mode=PeelOff",
         Header(40000, 70000, 5, 70000, false)},
        {shipped, "Rotation=Rotate180 HorizontalOffset=Right VerticalOffset=Up Mode=None",
         Header(0, 0, 0, 0, false)},
        // A job's Mirror option is not the PPD's: only the queue default counts.
        {mirrored, "Mirror=Off", Header(203, 812, 1218, 1, false)},
        {dir / "minimal.ppd", "", Header(203, 812, 1218, 1, false)},
    };
    std::string text;
    for (const Case &c : cases) {
        ppd_file_t *ppd = ppdOpenFile(c.ppd.c_str());
        ASSERT_NE(ppd, nullptr) << c.ppd;
        std::string options = c.options;
        InitializeSetting(&options[0], ppd);
        tagOEMCFG cfg;
        _DEVMODE dm;
        _OEMPDEV pdev;
        memset(&cfg, 0x5a, sizeof(cfg)); // everything must be written
        memset(&dm, 0x5a, sizeof(dm));
        memset(&pdev, 0x5a, sizeof(pdev));
        InitalizeOemCfg(&cfg, ppd, &c.header);
        InitDevmode(&dm, &c.header);
        InitOemPDEV(&pdev, &c.header);
        text += "=== " + c.ppd.substr(c.ppd.rfind('/') + 1) + ", " +
                std::to_string(c.header.HWResolution[0]) + " dpi, options: " + c.options + "\n" +
                Dump(cfg) + Dump(dm, pdev);
        ppdClose(ppd);
    }
    rvt::ExpectGolden("settings.txt", text);
}

TEST(Settings, NullArgumentsChangeNothing) {
    rvt::TempDir dir;
    ppd_file_t *ppd = ppdOpenFile(rvt::Ppd(dir).c_str());
    cups_page_header2_t h = Header(203, 8, 8, 1, false);
    tagOEMCFG cfg, before;
    _DEVMODE dm, dmBefore;
    _OEMPDEV pdev, pdevBefore;
    memset(&cfg, 0x5a, sizeof(cfg));
    memset(&dm, 0x5a, sizeof(dm));
    memset(&pdev, 0x5a, sizeof(pdev));
    before = cfg, dmBefore = dm, pdevBefore = pdev;
    InitalizeOemCfg(&cfg, nullptr, &h);
    InitalizeOemCfg(nullptr, ppd, &h);
    InitDevmode(&dm, nullptr);
    InitDevmode(nullptr, &h);
    InitOemPDEV(&pdev, nullptr);
    InitOemPDEV(nullptr, &h);
    EXPECT_EQ(memcmp(&cfg, &before, sizeof(cfg)), 0);
    EXPECT_EQ(memcmp(&dm, &dmBefore, sizeof(dm)), 0);
    EXPECT_EQ(memcmp(&pdev, &pdevBefore, sizeof(pdev)), 0);
    // Without a header only the resolution stays unset.
    InitalizeOemCfg(&cfg, ppd, nullptr);
    EXPECT_EQ(cfg.sOutputXDPI, 0);
    EXPECT_EQ(cfg.sDensity, 8);
    ppdClose(ppd);
}

TEST(Settings, OptionCodesReadAsNumbers) {
    rvt::TempDir dir;
    const struct {
        const char *code;
        int asInt;
        float asFloat;
    } cases[] = {
        {"3", 3, 3.0f},
        {"2.5", 2, 2.5f},
        {"-1", -1, -1.0f},
        {"-0.5", 0, -0.5f},
        {"  +7", 7, 7.0f},
        {"12abc", 12, 12.0f},
        {"abc", 0, 0.0f},
        {"", 0, 0.0f},
        {"4294967301", 5, 4294967301.0f}, // the low 32 bits of the long
    };
    for (const auto &c : cases) {
        rvt::WriteFile(dir / "v.ppd", OptionPpd(c.code));
        ppd_file_t *ppd = ppdOpenFile((dir / "v.ppd").c_str());
        ASSERT_NE(ppd, nullptr);
        EXPECT_STREQ(GetOptionChoiceCode("Value", ppd), c.code);
        EXPECT_EQ(GetOptionChoiceIndex("Value", ppd), c.asInt) << c.code;
        EXPECT_EQ(GetOptionChoiceIndexf("Value", ppd), c.asFloat) << c.code;
        // A marked choice wins over the default.
        ppdMarkOption(ppd, "Value", "B");
        EXPECT_EQ(GetOptionChoiceIndex("Value", ppd), 12345);
        // Missing options and arguments read as the markers.
        EXPECT_EQ(GetOptionChoiceCode("Other", ppd), nullptr);
        EXPECT_EQ(GetOptionChoiceIndex("Other", ppd), -1);
        EXPECT_EQ(GetOptionChoiceIndexf("Other", ppd), -1.0f);
        EXPECT_EQ(GetOptionChoiceIndex(nullptr, ppd), -1);
        ppdClose(ppd);
    }
    EXPECT_EQ(GetOptionChoiceIndex("Value", nullptr), -1);
    EXPECT_EQ(GetOptionChoiceIndexf("Value", nullptr), -1.0f);
    EXPECT_EQ(GetOptionChoiceCode("Value", nullptr), nullptr);
}

} // namespace
