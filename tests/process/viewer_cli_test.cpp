// tspl-view as a user runs it: the pictures it writes, its summary and its
// statuses.
#include <sys/wait.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "tests/support/Support.h"

namespace {

std::pair<int, std::string> View(const std::string &args) {
    FILE *p = popen((std::string(RVC_VIEWER_EXE) + " " + args + " 2>&1").c_str(), "r");
    std::string out;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof(buf), p)) > 0;)
        out.append(buf, n);
    int st = pclose(p);
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

TEST(ViewerCli, PicturesSummaryAndStatuses) {
    rvt::TempDir dir;
    const std::string label = "SIZE 16 dot,4 dot\r\nCLS\r\nBITMAP 8,1,1,1,0,\x3f\r\nPRINT 1,3\r\n";
    rvt::WriteFile(dir / "good.tspl", label);
    rvt::WriteFile(dir / "bad.tspl", label + "CLS\r\nBITMAP 0,0,2,2,0,\xff");
    auto [status, out] = View(dir / "good.tspl" + " -o " + dir / "out -s 3");
    ASSERT_EQ(status, 0) << out;
    const std::string png = dir / "out/good-001-x3.png";
    EXPECT_NE(out.find("\npng: " + png + "\n"), std::string::npos) << out;
    // 16 x 4 dots at scale 3: the PNG header's width and height.
    const std::string head = rvt::ReadFile(png).substr(16, 8);
    EXPECT_EQ(head, std::string("\0\0\0\x30\0\0\0\x0c", 8));
    const struct {
        std::string args;
        int status;
        std::string said;
    } cases[] = {
        {"--check " + dir / "good.tspl", 0, dir / "good.tspl" + ": valid, 3 label(s), 0 cut(s)\n"},
        {"--check " + dir / "bad.tspl", 1, "byte 77: BITMAP payload is short"},
        {"-o " + dir / "b " + dir / "bad.tspl", 1, "b/bad-001-x3.png\n"},
        {"-s 0 " + dir / "good.tspl", 2, "scale must be"},
        {dir / "missing.tspl", 3, "cannot open"},
        {"-o /dev/null/x " + dir / "good.tspl", 3, "cannot create folder"},
        {"--check < " + dir / "good.tspl", 0, "stdin: valid"},
    };
    for (const auto &c : cases) {
        auto [st, said] = View(c.args);
        EXPECT_EQ(st, c.status) << c.args << "\n" << said;
        EXPECT_NE(said.find(c.said), std::string::npos) << c.args << "\n" << said;
    }
}

} // namespace
