// No attribute a job may carry is silently ignored: each one a label
// printer lists as supported changes the label, or its reason not to is
// written down.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "AppHarness.h"
#include "ImageSamples.h"

namespace {

// Each attribute the printer lists in job-creation-attributes-supported
// changes the label (a case of app-settings.txt sets it, or
// app-job-attributes.txt has an image job that shows it) or is listed there
// with the reason it cannot.
TEST(AppAttributes, EachChangesTheLabelOrSaysWhyNot) {
    std::set<std::string> printed;
    for (const std::string &line : rvt::CaseLines("app-settings.txt")) {
        std::vector<std::string> f = rvt::Split(line, '|');
        f.resize(5);
        for (const std::string &a : rvt::Split(f[1], ' '))
            printed.insert(a.substr(0, a.find('=')));
        if (f[3] != "1")
            printed.insert("copies");
    }
    struct Row {
        std::string image, reason;
    };
    std::map<std::string, Row> rows;
    for (const std::string &line : rvt::CaseLines("app-job-attributes.txt")) {
        std::vector<std::string> f = rvt::Split(line, '|');
        f.resize(3);
        rows[f[0]] = {f[1], f[2]};
    }

    apptest::App app;
    ASSERT_EQ(app.Start(), "");
    ipp_t *request = app.Request(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "job-creation-attributes-supported");
    ipp_t *response = app.Send(request);
    ipp_attribute_t *listed =
        ippFindAttribute(response, "job-creation-attributes-supported", IPP_TAG_KEYWORD);
    ASSERT_NE(listed, nullptr) << cupsLastErrorString();
    std::set<std::string> attributes;
    for (int i = 0; i < ippGetCount(listed); ++i)
        attributes.insert(ippGetString(listed, i, nullptr));
    ippDelete(response);

    // A colour picture, so that the colour mode can show.
    const std::string png = imgtest::Sample("png-rgb");
    auto print = [&](const std::string &name, const std::string &attrs) {
        const apptest::Job j = app.Print(png, "image/png", name, attrs);
        EXPECT_EQ(j.state, IPP_JSTATE_COMPLETED) << name << ": " << j.message;
        return app.Out(name);
    };
    const std::string plain = print("plain", "");
    for (const std::string &attribute : attributes) {
        SCOPED_TRACE(attribute);
        auto row = rows.find(attribute);
        if (row == rows.end()) {
            EXPECT_TRUE(printed.count(attribute))
                << "neither app-settings.txt nor app-job-attributes.txt has it";
        } else if (row->second.reason.empty()) {
            EXPECT_TRUE(print(attribute, row->second.image) != plain)
                << row->second.image << " prints what the job without it prints";
        }
    }
    for (const auto &[attribute, row] : rows)
        EXPECT_TRUE(attributes.count(attribute)) << attribute << " is no longer listed";
}

} // namespace
