// The PPD choices that IPP settings stand for where the mapping rounds,
// clamps or falls back; the exact mappings print in the app's bytes test.
#include <gtest/gtest.h>

#include "printer-app/Catalogue.h"

namespace {

TEST(AppCatalogue, SettingsAsPpdChoices) {
    vorcp::ModelCatalogue m;
    std::string error;
    ASSERT_TRUE(vorcp::LoadCatalogue(RVC_PPD_DIR "/rastertovorcp-203.ppd", &m, &error)) << error;
    // Settings and a part of the option string they give.
    const std::pair<vorcp::LabelSettings, const char *> cases[] = {
        // 7.2 mm lies between the 6 and 8 mm choices, nearer the larger.
        {{.leftOffset = -720}, "HorizontalOffset=Left HorizontalOffsetValue=8mm "},
        {{.topOffset = 20}, "VerticalOffset=None "},
        {{.darknessConfigured = 100}, "Density=15 "},
        {{.darknessConfigured = 53, .printDarkness = -100}, "Density=0 "},
        {{.vendor = {{"vorcp-halftone", "bogus"}}}, "Halftone=Threshold "},
    };
    for (const auto &[settings, expected] : cases) {
        const std::string options = vorcp::PpdOptions(m, settings) + " ";
        EXPECT_NE(options.find(expected), std::string::npos) << expected << " in " << options;
    }
}

} // namespace
