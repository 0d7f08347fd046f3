// The job's settings records from the PPD, the job's options and the first
// page header (cases in a data file), against a golden file.
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
    const std::string codes = rvt::ReadFile(rvt::SourceDir() + "/tests/data/codes.ppd");
    rvt::WriteFile(dir / "mirrored.ppd",
                   rvt::ReadFile(rvt::Ppd(dir, {{"Mirror", "On"}, {"Halftone", "Bayer8"}})));
    rvt::WriteFile(dir / "none.ppd", codes.substr(0, codes.find("*OpenUI")));
    rvt::WriteFile(dir / "codes.ppd", codes);
    std::string text;
    for (const std::string &line : rvt::CaseLines("settings-cases.txt")) {
        const std::string name = line.substr(0, line.find(' '));
        std::string options = line.substr(line.find('|') + 1);
        options.erase(0, options.find_first_not_of(' '));
        cups_page_header2_t h{};
        int collate = 0;
        sscanf(line.c_str(), "%*s %u %ux%u %u %d", &h.HWResolution[0], &h.cupsWidth, &h.cupsHeight,
               &h.NumCopies, &collate);
        ppd_file_t *ppd = ppdOpenFile((dir / name).c_str());
        ASSERT_NE(ppd, nullptr) << name;
        InitializeSetting(&options[0], ppd);
        h.HWResolution[1] = h.HWResolution[0], h.cupsBitsPerPixel = 24;
        h.Collate = collate ? CUPS_TRUE : CUPS_FALSE;
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
        text += "=== " + name + ", " + std::to_string(h.HWResolution[0]) + " dpi, " +
                std::to_string(h.cupsWidth) + "x" + std::to_string(h.cupsHeight) +
                ", options: " + options + "\n" + Dump(cfg, dm, pdev);
        ppdClose(ppd);
    }
    rvt::ExpectGolden("settings.txt", text);
}

TEST(Settings, MissingArgumentsAndAReusedPpd) {
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
    // A PPD kept for the next job starts from its defaults again.
    std::string first = "Halftone=Bayer8", next;
    InitializeSetting(&first[0], ppd), InitializeSetting(&next[0], ppd);
    EXPECT_STREQ(ppdFindMarkedChoice(ppd, "Halftone")->choice,
                 ppdFindOption(ppd, "Halftone")->defchoice);
    ppdClose(ppd);
}

} // namespace
