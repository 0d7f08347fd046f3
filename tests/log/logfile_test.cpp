#include "LogTestSupport.h"

#include <regex>

using namespace logtest;
using tslog::ILogManager;

TEST(LogStartup, StartWritesBannerAndListingThenTraces) {
    TempDir dir;
    ILogManager *m = ILogManager::getInstance();
    ASSERT_TRUE(m->setLoggerPath(0, dir.path.c_str()));
    ASSERT_TRUE(m->setLoggerName(0, "vortspl"));
    ASSERT_TRUE(m->start());
    RVC_TRACE("rastovortspl", 178, "abc");
    std::vector<std::string> lines = readLines(dir.path + "/vortspl.log");
    ASSERT_EQ(lines.size(), 3u);
    const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d{4,}\] )";
    EXPECT_TRUE(std::regex_match(
        lines[0], std::regex(stamp + "LOG_ALARM -----------------  tslog thread started!   "
                                     "---------------------------- tslog:1936")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(stamp + "LOG_ALARM logger id=0 key=Main name=vortspl path=" +
                                                      dir.path + "/ level=1 display=true tslog:1946")))
        << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(stamp + "LOG_DEBUG abc rastovortspl:178")))
        << lines[2];
    EXPECT_EQ(m->getStatusTotalWriteCount(), 3u);
}
