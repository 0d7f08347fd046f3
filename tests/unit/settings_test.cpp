// The job's settings records from the PPD, the job's options and the first
// page header, against a golden file.
#include <cstring>
#include <string>

#include <cups/ppd.h>
#include <gtest/gtest.h>

#include "filter/PageLoop.h"
#include "tests/support/Support.h"

namespace {

#define FIELD(rec, f) (std::string(#f "=") + std::to_string(+(rec).f) + " ")

std::string Dump(const tagOEMCFG &c, const _DEVMODE &d, const _OEMPDEV &p) {
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
           FIELD(c, sPaperMode) + "\n" + FIELD(d, dmOrientation) + FIELD(d, dmPrintQuality) +
           FIELD(d, dmYResolution) + FIELD(d, dmCollate) + FIELD(p, dwBufSize) +
           FIELD(p, bmInfoHeader.biWidth) + FIELD(p, bmInfoHeader.biHeight) +
           FIELD(p, bmInfoHeader.biBitCount) + "\n" + FIELD(p, srcGdiInfo.ulVertRes) +
           FIELD(p, srcGdiInfo.ptlPhysOffset.x) + FIELD(p, srcGdiInfo.ptlPhysOffset.y) +
           FIELD(p, srcGdiInfo.szlPhysSize.cx) + FIELD(p, srcGdiInfo.szlPhysSize.cy) +
           FIELD(p, dwCurPageNum) + FIELD(p, sCurCopies) + FIELD(p, dwPagePrinted) +
           FIELD(p, nSizeWidth) + FIELD(p, nSizeHeight) + (p.bufStart ? "bufStart" : "") + "\n";
}

TEST(Settings, RecordsFromPpdOptionsAndHeader) {
    rvt::TempDir dir;
    const std::string shipped = rvt::Ppd(dir), codes = rvt::SourceDir() + "/tests/data/codes.ppd";
    rvt::WriteFile(dir / "mirrored.ppd",
                   rvt::ReadFile(rvt::Ppd(dir, {{"Mirror", "On"}, {"Halftone", "Bayer8"}})));
    rvt::WriteFile(dir / "none.ppd",
                   rvt::ReadFile(codes).substr(0, rvt::ReadFile(codes).find("*OpenUI")));
    const struct {
        std::string ppd, options;
        unsigned dpi, width, height, copies;
        bool collate;
    } cases[] = {
        {shipped, "", 203, 812, 1218, 1, false},
        {shipped,
         "Rotation=Rotate90CW NegativeFilm=On Density=12 HorizontalOffset=Left "
         "HorizontalOffsetValue=2.5mm "
         "VerticalOffset=Down VerticalOffsetValue=3mm Brightness=m20 Contrast=30 Levels=Gamma300 "
         "Halftone=Stucki "
         "PrintMethod=ThermalTransfer MediaType=BlackMark GAPHeight=2.5mm GAPOffset=0.5mm "
         "Mode=Cutter "
         "CutMethod=Interval Interval=3 Feed=5mm MaxOutputWidth=72mm IsToDashed=On MinLength=15mm "
         "IntervalBlack=4mm IntervalWhite=2mm SavePaper=On",
         300, 1200, 600, 3, true},
        {shipped, "Rotation=Rotate90CCW Levels=Gamma030 MediaType=Continuous Mode=PeelOff", 40000,
         70000, 5, 70000},
        {shipped, "Rotation=Rotate180 HorizontalOffset=Right VerticalOffset=Up Mode=None", 0, 0, 0,
         0},
        // A job's Mirror option is not the PPD's: only the queue default counts.
        {dir / "mirrored.ppd", "Mirror=Off", 203, 812, 1218, 1},
        {dir / "none.ppd", "", 203, 812, 1218, 1},
        {codes, "", 203, 812, 1218, 1},
        {codes, "Density=B Levels=B", 203, 812, 1218, 1}, // a marked choice over the default
    };
    std::string text;
    for (const auto &c : cases) {
        ppd_file_t *ppd = ppdOpenFile(c.ppd.c_str());
        ASSERT_NE(ppd, nullptr) << c.ppd;
        std::string options = c.options;
        InitializeSetting(&options[0], ppd);
        cups_page_header2_t h;
        memset(&h, 0, sizeof(h));
        h.HWResolution[0] = h.HWResolution[1] = c.dpi;
        h.cupsWidth = c.width, h.cupsHeight = c.height, h.NumCopies = c.copies,
        h.cupsBitsPerPixel = 24;
        h.Collate = c.collate ? CUPS_TRUE : CUPS_FALSE;
        h.Orientation = CUPS_ORIENT_90; // the filter works in portrait whatever it says
        tagOEMCFG cfg;
        _DEVMODE dm;
        _OEMPDEV pdev;
        memset(&cfg, 0x5a, sizeof(cfg)); // everything must be written
        memset(&dm, 0x5a, sizeof(dm));
        memset(&pdev, 0x5a, sizeof(pdev));
        InitalizeOemCfg(&cfg, ppd, &h);
        InitDevmode(&dm, &h);
        InitOemPDEV(&pdev, &h);
        text += "=== " + c.ppd.substr(c.ppd.rfind('/') + 1) + ", " + std::to_string(c.dpi) +
                " dpi, " + std::to_string(c.width) + "x" + std::to_string(c.height) +
                ", options: " + c.options + "\n" + Dump(cfg, dm, pdev);
        ppdClose(ppd);
    }
    rvt::ExpectGolden("settings.txt", text);
}

TEST(Settings, MissingArgumentsChangeNothing) {
    rvt::TempDir dir;
    ppd_file_t *ppd = ppdOpenFile(rvt::Ppd(dir).c_str());
    cups_page_header2_t h{};
    tagOEMCFG cfg, before;
    _DEVMODE dm{};
    _OEMPDEV pdev{};
    memset(&cfg, 0x5a, sizeof(cfg));
    before = cfg;
    InitalizeOemCfg(&cfg, nullptr, &h);
    InitalizeOemCfg(nullptr, ppd, &h);
    InitDevmode(&dm, nullptr), InitDevmode(nullptr, &h);
    InitOemPDEV(&pdev, nullptr), InitOemPDEV(nullptr, &h);
    EXPECT_EQ(memcmp(&cfg, &before, sizeof(cfg)) + dm.dmPrintQuality + pdev.sCurCopies, 0);
    // Without a header only the resolution stays unset.
    InitalizeOemCfg(&cfg, ppd, nullptr);
    EXPECT_EQ(cfg.sOutputXDPI * 100 + cfg.sDensity, 8);
    EXPECT_EQ(GetOptionChoiceCode("Density", nullptr), nullptr);
    EXPECT_EQ(GetOptionChoiceIndex(nullptr, ppd) + GetOptionChoiceIndexf("NoSuchOption", ppd), -2);
    ppdClose(ppd);
}

} // namespace
