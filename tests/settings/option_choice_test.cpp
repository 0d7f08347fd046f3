// Reading option choices as numbers from their code strings.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/oemcfg.h"
#include "tests/settings/settings_test_support.h"

namespace {

using rvc_test::FixtureOption;
using rvc_test::OptionWithCode;
using rvc_test::Ppd;

TEST(OptionChoice, JobOptionMarkedOverDefaultIsRead)
{
    Ppd ppd({{"Density", "Eight", {{"Eight", "8"}, {"Twelve", "12"}}}});
    ppd.Mark("Density=Twelve");
    EXPECT_STREQ(GetOptionChoiceCode("Density", ppd.get()), "12");
    EXPECT_EQ(GetOptionChoiceIndex("Density", ppd.get()), 12);
    EXPECT_FLOAT_EQ(GetOptionChoiceIndexf("Density", ppd.get()), 12.0f);
}

TEST(OptionChoice, UnmarkedOptionFallsBackToItsDefault)
{
    // Nothing marked at all: the declared default choice is used.
    Ppd ppd({{"Density", "Twelve", {{"Eight", "8"}, {"Twelve", "12"}}}});
    EXPECT_STREQ(GetOptionChoiceCode("Density", ppd.get()), "12");
    EXPECT_EQ(GetOptionChoiceIndex("Density", ppd.get()), 12);
}

TEST(OptionChoice, MissingOptionOrDefaultGivesMarkers)
{
    Ppd ppd({{"Density", "NoSuchChoice", {{"Eight", "8"}}}});
    for (const char *keyword : {"Density", "Mirror"}) {
        SCOPED_TRACE(keyword);
        EXPECT_EQ(GetOptionChoiceCode(keyword, ppd.get()), nullptr);
        EXPECT_EQ(GetOptionChoiceIndex(keyword, ppd.get()), -1);
        EXPECT_EQ(GetOptionChoiceIndexf(keyword, ppd.get()), -1.0f);
    }
}

TEST(OptionChoice, NullArgumentsGiveMarkers)
{
    Ppd ppd({OptionWithCode("Density", "8")});
    EXPECT_EQ(GetOptionChoiceCode(nullptr, ppd.get()), nullptr);
    EXPECT_EQ(GetOptionChoiceCode("Density", nullptr), nullptr);
    EXPECT_EQ(GetOptionChoiceIndex(nullptr, ppd.get()), -1);
    EXPECT_EQ(GetOptionChoiceIndex("Density", nullptr), -1);
    EXPECT_EQ(GetOptionChoiceIndexf(nullptr, ppd.get()), -1.0f);
    EXPECT_EQ(GetOptionChoiceIndexf("Density", nullptr), -1.0f);
}

struct CodeCase {
    const char *code;
    int asInt;
    float asFloat;
};

TEST(OptionChoice, CodeTextReadBothWays)
{
    const std::vector<CodeCase> cases = {
        {"3", 3, 3.0f},
        {"2.5", 2, 2.5f},
        {"-1", -1, -1.0f},   // indistinguishable from a missing option
        {"-0.5", 0, -0.5f},
        {"  +7", 7, 7.0f},   // leading blanks and a sign
        {"12abc", 12, 12.0f},
        {"abc", 0, 0.0f},
        {"", 0, 0.0f},
        {"4294967301", 5, 4294967301.0f}, // low 32 bits of the long
    };
    for (const CodeCase &c : cases) {
        SCOPED_TRACE(std::string("code \"") + c.code + "\"");
        Ppd ppd({OptionWithCode("Value", c.code)});
        ppd.Mark("");
        EXPECT_EQ(GetOptionChoiceIndex("Value", ppd.get()), c.asInt);
        EXPECT_EQ(GetOptionChoiceIndexf("Value", ppd.get()), c.asFloat);
    }
}

TEST(OptionChoice, FloatReadingOfOutOfRangeCodes)
{
    Ppd big({OptionWithCode("Value", "1e300")});
    EXPECT_EQ(GetOptionChoiceIndexf("Value", big.get()), std::numeric_limits<float>::infinity());
    Ppd small({OptionWithCode("Value", "-1e300")});
    EXPECT_EQ(GetOptionChoiceIndexf("Value", small.get()), -std::numeric_limits<float>::infinity());
    Ppd nan({OptionWithCode("Value", "nan")});
    EXPECT_TRUE(std::isnan(GetOptionChoiceIndexf("Value", nan.get())));
}

} // namespace
