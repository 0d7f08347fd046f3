// Job options marked over the PPD defaults, as the filter reads them.
#include <string>

#include <cups/ppd.h>
#include <gtest/gtest.h>

#include "filter/FilterJob.h"

namespace {

std::string Marked(ppd_file_t *ppd, const char *keyword) {
    ppd_choice_t *c = ppdFindMarkedChoice(ppd, keyword);
    return c ? c->choice : "(none)";
}

TEST(JobOptions, MarkedOverDefaultsMirrorIncluded) {
    struct Case {
        const char *options;
        const char *mirror;
        const char *density;
    } cases[] = {
        {"", "Off", "D8"},
        {"Mirror=On", "On", "D8"},
        {"Density=D8 Mirror=On", "On", "D8"},
        // The standard lower-case option stays libcups' own.
        {"mirror=On", "Off", "D8"},
    };
    for (const Case &c : cases) {
        std::string path = std::string(RVC_TEST_SOURCE_DIR) + "/tests/filter/label203.ppd";
        ppd_file_t *ppd = ppdOpenFile(path.c_str());
        ASSERT_NE(ppd, nullptr);
        std::string options = c.options;
        InitializeSetting(options.data(), ppd);
        EXPECT_EQ(Marked(ppd, "Mirror"), c.mirror) << c.options;
        EXPECT_EQ(Marked(ppd, "Density"), c.density) << c.options;
        ppdClose(ppd);
    }
}

} // namespace
