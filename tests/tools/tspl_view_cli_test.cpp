// The tspl-view program as a user runs it: files written, summary, statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/tools/job_text.h"
#include "tests/tools/png_read.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

struct Outcome {
    int status;
    std::string out;
};

Outcome run(const std::string &args) {
    std::string cmd = std::string(TSPL_VIEW_EXE) + " " + args + " 2>&1";
    Outcome r{-1, ""};
    FILE *p = popen(cmd.c_str(), "r");
    if (p == nullptr)
        return r;
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

class TsplViewCli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::path(RVC_TEST_TMP) /
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    std::string job(const std::string &name, const std::string &text) {
        std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    fs::path dir;
};

const std::string kLabel = "SIZE 16 dot,4 dot\r\nCLS\r\n" + bitmap(8, 1, 1, 1, "\x3f"s) + print(3);

TEST_F(TsplViewCli, WritesScaledPngAndNamesItInTheSummary) {
    std::string in = job("sample.tspl", kLabel);
    Outcome r = run(in + " -o " + (dir / "out").string() + " -s 3");
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string png = (dir / "out" / "sample-001-x3.png").string();
    EXPECT_NE(r.out.find("\npng: " + png + "\n"), std::string::npos) << r.out;
    Picture pic;
    ASSERT_TRUE(readPng(png, pic));
    ASSERT_EQ(pic.width, 48);
    ASSERT_EQ(pic.height, 12);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 48; ++x)
            EXPECT_EQ(pic.dot(x, y), y / 3 == 1 && (x / 3 == 8 || x / 3 == 9)) << x << "," << y;
}

TEST_F(TsplViewCli, StatusesAndCheck) {
    std::string good = job("good.tspl", kLabel);
    std::string bad = job("bad.tspl", kLabel + "CLS\r\nBITMAP 0,0,2,2,0,\xff");
    struct Case {
        std::string args;
        int status;
        std::string said;
    } cases[] = {
        {"--check " + good, 0, good + ": valid, 3 label(s), 0 cut(s)\n"},
        {"--check " + bad, 1, "byte 77: BITMAP payload is short"},
        {"-o " + (dir / "b").string() + " " + bad, 1, "b/bad-001-x3.png\n"},
        {"-s 0 " + good, 2, "scale must be"},
        {(dir / "missing.tspl").string(), 3, "cannot open"},
        {"-o /dev/null/x " + good, 3, "cannot create folder"},
        {"--check < " + good, 0, "stdin: valid"},
    };
    for (const Case &c : cases) {
        Outcome r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.said), std::string::npos) << c.args << "\n" << r.out;
    }
    // --check never writes a picture
    EXPECT_FALSE(fs::exists(fs::current_path() / "good-001-x3.png"));
}

} // namespace
