// The PPD choices that IPP settings stand for where the mapping rounds or
// picks (the label printer's attributes are checked over IPP, label.test).
#include <gtest/gtest.h>

#include <functional>

#include "AppHarness.h"
#include "printer-app/Catalogue.h"

namespace {

using vorcp::LabelSettings;

vorcp::ModelCatalogue Load(const char *dpi) {
    vorcp::ModelCatalogue model;
    std::string error;
    EXPECT_TRUE(
        vorcp::LoadCatalogue(apptest::PpdDir() + "/rastertovorcp-" + dpi + ".ppd", &model, &error))
        << error;
    return model;
}

// The default darkness level survives the way to a percentage and back.
TEST(AppCatalogue, DefaultDarknessRoundTrips) {
    for (const char *dpi : {"203", "300"}) {
        const vorcp::ModelCatalogue m = Load(dpi);
        EXPECT_EQ(vorcp::DarknessLevel(m, vorcp::DarknessPercent(m, m.densityDefault)),
                  m.densityDefault);
    }
}

struct Case {
    const char *name;
    LabelSettings settings;
    const char *expected; // the choices the option string must hold
};

LabelSettings With(std::function<void(LabelSettings &)> set) {
    LabelSettings s;
    s.tracking = "gap";
    s.labelMode = "tear-off";
    s.darknessConfigured = 53;
    set(s);
    return s;
}

TEST(AppCatalogue, SettingsAsPpdChoices) {
    const vorcp::ModelCatalogue m = Load("203");
    const Case cases[] = {
        {"no shift", With([](LabelSettings &) {}),
         "HorizontalOffset=None HorizontalOffsetValue=0mm VerticalOffset=None"},
        {"nearest distance", With([](LabelSettings &s) { s.leftOffset = 260; }),
         "HorizontalOffset=Right HorizontalOffsetValue=2.5mm"},
        {"shift left", With([](LabelSettings &s) { s.leftOffset = -1000; }),
         "HorizontalOffset=Left HorizontalOffsetValue=10mm"},
        {"too small to shift", With([](LabelSettings &s) { s.leftOffset = 20; }),
         "HorizontalOffset=None"},
        {"shift down", With([](LabelSettings &s) { s.topOffset = 70; }),
         "VerticalOffset=Down VerticalOffsetValue=0.5mm"},
        {"darkest", With([](LabelSettings &s) { s.darknessConfigured = 100; }), "Density=15"},
        {"lighter job", With([](LabelSettings &s) { s.printDarkness = -100; }), "Density=0 "},
        {"no darkness", With([](LabelSettings &s) { s.darknessConfigured = -1; }), "Density=8"},
        {"continuous", With([](LabelSettings &s) { s.tracking = "continuous"; }),
         "MediaType=Continuous"},
        {"mark", With([](LabelSettings &s) { s.tracking = "mark"; }), "MediaType=BlackMark"},
        {"rewind", With([](LabelSettings &s) { s.labelMode = "rewind"; }), "Mode=None"},
        {"cutter", With([](LabelSettings &s) { s.labelMode = "cutter"; }),
         "Mode=Cutter CutMethod=EveryLabel"},
        {"cut interval", With([](LabelSettings &s) {
             s.labelMode = "cutter";
             s.vendor["vorcp-cut-interval"] = "5";
         }),
         "Mode=Cutter CutMethod=Interval"},
        {"cutter-delayed", With([](LabelSettings &s) { s.labelMode = "cutter-delayed"; }),
         "Mode=Cutter CutMethod=EndOfJob"},
        {"unknown value", With([](LabelSettings &s) { s.vendor["vorcp-halftone"] = "bogus"; }),
         "Halftone=Threshold"},
    };
    for (const Case &c : cases) {
        const std::string options = vorcp::PpdOptions(m, c.settings) + " ";
        EXPECT_NE(options.find(c.expected), std::string::npos) << c.name << ": " << options;
    }
}

} // namespace
