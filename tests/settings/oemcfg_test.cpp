// The label configuration filled from PPD choices and the page header,
// with its trace lines.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/oemcfg.h"
#include "tests/settings/settings_test_support.h"

namespace {

using rvc_test::FixtureOption;
using rvc_test::Header;
using rvc_test::OptionWithCode;
using rvc_test::Ppd;
using rvc_test::TraceCapture;
using Lines = std::vector<std::string>;

const std::string kRotationNone = "Init sRotation: 0, sRotate90: 0 InitalizeOemCfg:93";

tagOEMCFG Zeroed()
{
    tagOEMCFG cfg;
    memset(&cfg, 0, sizeof(cfg));
    return cfg;
}

tagOEMCFG Patterned()
{
    tagOEMCFG cfg;
    memset(&cfg, 0xAB, sizeof(cfg));
    return cfg;
}

bool SameBytes(const tagOEMCFG &a, const tagOEMCFG &b)
{
    return memcmp(&a, &b, sizeof(a)) == 0;
}

// The lines added since `before` was taken.
Lines Since(const Lines &before, const Lines &now)
{
    return Lines(now.begin() + (long)before.size(), now.end());
}

TEST(OemCfg, PpdWithoutOptionsLeavesAllButTheResolutionZero)
{
    TraceCapture trace;
    Ppd ppd;
    ppd.Mark("");
    cups_page_header2_t header = Header(203, 203);
    tagOEMCFG cfg = Patterned();
    InitalizeOemCfg(&cfg, ppd.get(), &header);

    tagOEMCFG expected = Zeroed();
    expected.sOutputXDPI = 203;
    expected.sOutputYDPI = 203;
    EXPECT_TRUE(SameBytes(cfg, expected));
    EXPECT_EQ(+cfg.nLevelsAdj, 0); // not 300
    EXPECT_EQ(trace.Lines(), (Lines{kRotationNone,
                                    "Init sOutputXDPI: 203, sOutputYDPI: 203 InitalizeOemCfg:345"}));
}

TEST(OemCfg, EveryOptionInItsOrderWithItsLine)
{
    TraceCapture trace;
    // Listed out of the initialisers' order: the trace follows the code.
    Ppd ppd({OptionWithCode("SavePaper", "1"), OptionWithCode("IntervalWhite", "1"),
             OptionWithCode("IntervalBlack", "3"), OptionWithCode("MinLength", "10"),
             OptionWithCode("IsToDashed", "1"), OptionWithCode("MaxOutputWidth", "104"),
             OptionWithCode("Feed", "3"), OptionWithCode("Interval", "5"),
             OptionWithCode("CutMethod", "3"), OptionWithCode("Mode", "4"),
             OptionWithCode("GAPHeight", "2.5"), OptionWithCode("GAPOffset", "0.7"),
             OptionWithCode("MediaType", "2"), OptionWithCode("PrintMethod", "2"),
             OptionWithCode("Halftone", "4"), OptionWithCode("Levels", "10"),
             OptionWithCode("Contrast", "20"), OptionWithCode("Brightness", "-5"),
             OptionWithCode("VerticalOffsetValue", "4.6"), OptionWithCode("VerticalOffset", "0"),
             OptionWithCode("HorizontalOffsetValue", "2.3"),
             OptionWithCode("HorizontalOffset", "1"), OptionWithCode("Density", "12"),
             OptionWithCode("NegativeFilm", "1"), OptionWithCode("Rotation", "3"),
             OptionWithCode("Mirror", "1")});
    ppd.Mark("");
    cups_page_header2_t header = Header(300, 300);
    tagOEMCFG cfg = Patterned();
    InitalizeOemCfg(&cfg, ppd.get(), &header);

    tagOEMCFG e = Zeroed();
    e.sHrzDir = 1;
    e.sVtcDir = 0;
    e.sHrzOffset = 23;
    e.sVtcOffset = 46;
    e.sDensity = 12;
    e.sRotation = 0;
    e.sMirror = 1;
    e.bNegative = 1;
    e.dwOperationAfterPrn = 4;
    e.dwOperationModeAfterPrn = 3;
    e.nBrightness = -10;
    e.nContrast = 40;
    e.sPaperType = 2;
    e.sLabelType = 2;
    e.GAPHeight = 25;
    e.GAPOffset = 7;
    e.sBLineHeight = 25;
    e.sBLineOffset = 7;
    e.sIntervalValue = 5;
    e.sFeedLen = 30;
    e.sHalftoneMethod = 4;
    e.sRotate90 = 1;
    e.sIsLineImaginary = 1;
    e.sMinImaginaryLineLen = 10;
    e.sBlackInterval = 3;
    e.sWhiteInterval = 1;
    e.nLevelsAdj = 330;
    e.sMaxOutputWidth = 104;
    e.sOutputXDPI = 300;
    e.sOutputYDPI = 300;
    e.sPaperMode = 1;
    EXPECT_TRUE(SameBytes(cfg, e));

    EXPECT_EQ(trace.Lines(), (Lines{
                                 "Init sMirror: 1 InitalizeOemCfg:61",
                                 "Init sRotation: 0, sRotate90: 1 InitalizeOemCfg:93",
                                 "Init bNegative: 1 InitalizeOemCfg:108",
                                 "Init sDensity: 12 InitalizeOemCfg:122",
                                 "Init sHrzDir: 1 InitalizeOemCfg:136",
                                 "Init sHrzOffset: 23 InitalizeOemCfg:150",
                                 "Init sVtcDir: 0 InitalizeOemCfg:163",
                                 "Init sVtcOffset: 46 InitalizeOemCfg:176",
                                 "Init nBrightness: -10 InitalizeOemCfg:189",
                                 "Init nContrast: 40 InitalizeOemCfg:202",
                                 "Init nLevelsAdj: 330 InitalizeOemCfg:215",
                                 "Init sHalftoneMethod: 4 InitalizeOemCfg:228",
                                 "Init sPaperType: 2 InitalizeOemCfg:241",
                                 "Init sLabelType: 2 InitalizeOemCfg:254",
                                 "Init GAPOffset: 7 InitalizeOemCfg:282",
                                 "Init GAPHeight: 25 InitalizeOemCfg:268",
                                 "Init dwOperationAfterPrn: 4 InitalizeOemCfg:295",
                                 "Init dwOperationModeAfterPrn: 3 InitalizeOemCfg:308",
                                 "Init sIntervalValue: 5 InitalizeOemCfg:321",
                                 "Init sFeedLen: 30 InitalizeOemCfg:334",
                                 "Init sOutputXDPI: 300, sOutputYDPI: 300 InitalizeOemCfg:345",
                                 "Init sMaxOutputWidth: 104 InitalizeOemCfg:359",
                                 "Init sIsLineImaginary: 1 InitalizeOemCfg:373",
                                 "Init sMinImaginaryLineLen: 10 InitalizeOemCfg:386",
                                 "Init sBlackInterval: 3 InitalizeOemCfg:399",
                                 "Init sWhiteInterval: 1 InitalizeOemCfg:412",
                                 "Init sPaperMode: 1 InitalizeOemCfg:425",
                             }));
}

struct ValueCase {
    const char *keyword;
    const char *code;
    std::function<void(tagOEMCFG &)> expect; // members other than zero
    std::vector<std::string> lines;          // besides rotation and resolution
};

TEST(OemCfg, OneOptionValues)
{
    const std::vector<ValueCase> cases = {
        {"Levels", "0", [](tagOEMCFG &e) { e.nLevelsAdj = 300; },
         {"Init nLevelsAdj: 300 InitalizeOemCfg:215"}},
        {"Levels", "10", [](tagOEMCFG &e) { e.nLevelsAdj = 330; },
         {"Init nLevelsAdj: 330 InitalizeOemCfg:215"}},
        {"Brightness", "-5", [](tagOEMCFG &e) { e.nBrightness = -10; },
         {"Init nBrightness: -10 InitalizeOemCfg:189"}},
        {"Contrast", "-50", [](tagOEMCFG &e) { e.nContrast = -100; },
         {"Init nContrast: -100 InitalizeOemCfg:202"}},
        {"Feed", "3", [](tagOEMCFG &e) { e.sFeedLen = 30; },
         {"Init sFeedLen: 30 InitalizeOemCfg:334"}},
        // Products wider than their member keep the low bits.
        {"Feed", "4000", [](tagOEMCFG &e) { e.sFeedLen = -25536; },
         {"Init sFeedLen: -25536 InitalizeOemCfg:334"}},
        {"Brightness", "2000000000", [](tagOEMCFG &e) { e.nBrightness = -294967296; },
         {"Init nBrightness: -294967296 InitalizeOemCfg:189"}},
        {"Levels", "1000000000", [](tagOEMCFG &e) { e.nLevelsAdj = -1294966996; },
         {"Init nLevelsAdj: -1294966996 InitalizeOemCfg:215"}},
        {"MaxOutputWidth", "70000", [](tagOEMCFG &e) { e.sMaxOutputWidth = 4464; },
         {"Init sMaxOutputWidth: 4464 InitalizeOemCfg:359"}},
        {"Halftone", "65540", [](tagOEMCFG &e) { e.sHalftoneMethod = 4; },
         {"Init sHalftoneMethod: 4 InitalizeOemCfg:228"}},
        // 64-bit members: v sign-extended, printed as the low 32 bits.
        {"Mode", "-2", [](tagOEMCFG &e) { e.dwOperationAfterPrn = ~(uint64_t)1; },
         {"Init dwOperationAfterPrn: -2 InitalizeOemCfg:295"}},
        {"Density", "4294967301", [](tagOEMCFG &e) { e.sDensity = 5; },
         {"Init sDensity: 5 InitalizeOemCfg:122"}},
        // -1 is a missing option; letters read as 0.
        {"Mirror", "-1", [](tagOEMCFG &) {}, {}},
        {"Density", "abc", [](tagOEMCFG &) {}, {"Init sDensity: 0 InitalizeOemCfg:122"}},
        // Tenths of a millimetre, truncated, in single precision.
        {"GAPHeight", "2.5", [](tagOEMCFG &e) { e.GAPHeight = e.sBLineHeight = 25; },
         {"Init GAPHeight: 25 InitalizeOemCfg:268"}},
        {"GAPHeight", "-0.5", [](tagOEMCFG &e) { e.GAPHeight = e.sBLineHeight = -5; },
         {"Init GAPHeight: -5 InitalizeOemCfg:268"}},
        {"GAPHeight", "-1", [](tagOEMCFG &) {}, {}},
        {"GAPHeight", "-1.00", [](tagOEMCFG &) {}, {}},
        {"GAPOffset", "1.5", [](tagOEMCFG &e) { e.GAPOffset = e.sBLineOffset = 15; },
         {"Init GAPOffset: 15 InitalizeOemCfg:282"}},
        {"HorizontalOffsetValue", "1.25", [](tagOEMCFG &e) { e.sHrzOffset = 12; },
         {"Init sHrzOffset: 12 InitalizeOemCfg:150"}},
        {"HorizontalOffsetValue", "0.9", [](tagOEMCFG &e) { e.sHrzOffset = 9; },
         {"Init sHrzOffset: 9 InitalizeOemCfg:150"}},
        {"VerticalOffsetValue", "0.7", [](tagOEMCFG &e) { e.sVtcOffset = 7; },
         {"Init sVtcOffset: 7 InitalizeOemCfg:176"}},
        {"VerticalOffsetValue", "-2.3", [](tagOEMCFG &e) { e.sVtcOffset = -23; },
         {"Init sVtcOffset: -23 InitalizeOemCfg:176"}},
        // No tenfold 32-bit value: clamped, not-a-number as 0.
        {"HorizontalOffsetValue", "1e10", [](tagOEMCFG &e) { e.sHrzOffset = 2147483647; },
         {"Init sHrzOffset: 2147483647 InitalizeOemCfg:150"}},
        {"HorizontalOffsetValue", "-1e10", [](tagOEMCFG &e) { e.sHrzOffset = -2147483647 - 1; },
         {"Init sHrzOffset: -2147483648 InitalizeOemCfg:150"}},
        {"VerticalOffsetValue", "1e300", [](tagOEMCFG &e) { e.sVtcOffset = 2147483647; },
         {"Init sVtcOffset: 2147483647 InitalizeOemCfg:176"}},
        {"GAPHeight", "nan", [](tagOEMCFG &) {}, {"Init GAPHeight: 0 InitalizeOemCfg:268"}},
        {"GAPOffset", "1e10", [](tagOEMCFG &e) { e.GAPOffset = e.sBLineOffset = -1; },
         {"Init GAPOffset: -1 InitalizeOemCfg:282"}},
    };

    TraceCapture trace;
    cups_page_header2_t header = Header(203, 203);
    for (const ValueCase &c : cases) {
        SCOPED_TRACE(std::string(c.keyword) + " code \"" + c.code + "\"");
        Ppd ppd({OptionWithCode(c.keyword, c.code)});
        ppd.Mark("");
        Lines before = trace.Lines();
        tagOEMCFG cfg = Patterned();
        InitalizeOemCfg(&cfg, ppd.get(), &header);

        tagOEMCFG expected = Zeroed();
        expected.sOutputXDPI = expected.sOutputYDPI = 203;
        c.expect(expected);
        EXPECT_TRUE(SameBytes(cfg, expected));

        Lines lines = {kRotationNone};
        lines.insert(lines.end(), c.lines.begin(), c.lines.end());
        lines.push_back("Init sOutputXDPI: 203, sOutputYDPI: 203 InitalizeOemCfg:345");
        // Options before the resolution in the order log before it.
        if (std::string(c.keyword) == "MaxOutputWidth")
            std::swap(lines[1], lines[2]);
        EXPECT_EQ(Since(before, trace.Lines()), lines);
    }
}

TEST(OemCfg, RotationTableAndAlwaysLogged)
{
    struct Case {
        const char *code;
        int64_t rotation;
        int16_t rotate90;
    };
    const std::vector<Case> cases = {
        {"0", 0, 0}, {"1", 1, 1}, {"2", 1, 0}, {"3", 0, 1},
        {"7", 0, 0}, {"-1", 0, 0}, {"65537", 1, 1}, // low 16 bits read as 1
    };
    TraceCapture trace;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("Rotation code ") + c.code);
        Ppd ppd({OptionWithCode("Rotation", c.code)});
        ppd.Mark("");
        Lines before = trace.Lines();
        tagOEMCFG cfg = Patterned();
        InitalizeOemCfg(&cfg, ppd.get(), nullptr);
        EXPECT_EQ(+cfg.sRotation, c.rotation);
        EXPECT_EQ(+cfg.sRotate90, c.rotate90);
        EXPECT_EQ(Since(before, trace.Lines()),
                  (Lines{"Init sRotation: " + std::to_string(c.rotation) +
                         ", sRotate90: " + std::to_string(c.rotate90) + " InitalizeOemCfg:93"}));
    }
}

TEST(OemCfg, ResolutionFromTheHeader)
{
    struct Case {
        unsigned x, y;
        int16_t storedX, storedY;
    };
    // The low 16 bits; a zero resolution is stored as it is.
    const std::vector<Case> cases = {{203, 203, 203, 203}, {300, 600, 300, 600},
                                     {40000, 40000, -25536, -25536}, {0, 0, 0, 0}};
    TraceCapture trace;
    Ppd ppd;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.x);
        cups_page_header2_t header = Header(c.x, c.y);
        Lines before = trace.Lines();
        tagOEMCFG cfg = Patterned();
        InitalizeOemCfg(&cfg, ppd.get(), &header);
        EXPECT_EQ(+cfg.sOutputXDPI, c.storedX);
        EXPECT_EQ(+cfg.sOutputYDPI, c.storedY);
        EXPECT_EQ(Since(before, trace.Lines()),
                  (Lines{kRotationNone, "Init sOutputXDPI: " + std::to_string(c.storedX) +
                                            ", sOutputYDPI: " + std::to_string(c.storedY) +
                                            " InitalizeOemCfg:345"}));
    }
}

TEST(OemCfg, NullArgumentsChangeAndLogNothing)
{
    TraceCapture trace;
    Ppd ppd({OptionWithCode("Mirror", "1"), OptionWithCode("GAPHeight", "3")});
    ppd.Mark("");
    cups_page_header2_t header = Header(203, 203);

    InitalizeOemCfg(nullptr, ppd.get(), &header);
    tagOEMCFG cfg = Patterned();
    InitalizeOemCfg(&cfg, nullptr, &header); // not even cleared
    EXPECT_TRUE(SameBytes(cfg, Patterned()));
    InitMirror(&cfg, nullptr);
    InitRotation(&cfg, nullptr);
    InitGapHeight(&cfg, nullptr);
    InitOutputDpi(&cfg, nullptr);
    InitMirror(nullptr, ppd.get());
    InitRotation(nullptr, ppd.get());
    InitGapHeight(nullptr, ppd.get());
    InitOutputDpi(nullptr, &header);
    EXPECT_TRUE(SameBytes(cfg, Patterned()));
    EXPECT_EQ(trace.Lines(), Lines{});

    // Without a header only the resolution stays unset.
    InitalizeOemCfg(&cfg, ppd.get(), nullptr);
    EXPECT_EQ(+cfg.sMirror, 1);
    EXPECT_EQ(+cfg.GAPHeight, 30);
    EXPECT_EQ(+cfg.sOutputXDPI, 0);
    EXPECT_EQ(+cfg.sOutputYDPI, 0);
    EXPECT_EQ(trace.Lines(), (Lines{"Init sMirror: 1 InitalizeOemCfg:61", kRotationNone,
                                    "Init GAPHeight: 30 InitalizeOemCfg:268"}));
}

TEST(OemCfg, JobOptionOverridesTheDefault)
{
    Ppd ppd({{"Mode", "Tear", {{"None", "1"}, {"Peel", "2"}, {"Tear", "3"}, {"Cut", "4"}}}});
    ppd.Mark("Mode=Cut");
    tagOEMCFG cfg = Zeroed();
    InitMode(&cfg, ppd.get());
    EXPECT_EQ(+cfg.dwOperationAfterPrn, 4u);
}

} // namespace
