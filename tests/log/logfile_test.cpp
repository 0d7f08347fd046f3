#include "LogTestSupport.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <ctime>
#include <regex>
#include <thread>

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
    EXPECT_TRUE(std::regex_match(
        lines[1], std::regex(stamp + "LOG_ALARM logger id=0 key=Main name=vortspl path=" +
                             dir.path + "/ level=1 display=true tslog:1946")))
        << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(stamp + "LOG_DEBUG abc rastovortspl:178")))
        << lines[2];
    EXPECT_EQ(m->getStatusTotalWriteCount(), 3u);
}

namespace {

void useUtc() {
    setenv("TZ", "UTC", 1);
    tzset();
}

// A record for logger id at a chosen time, with a short message.
tslog::LogData *recordAt(int id, int64_t time, const char *text) {
    tslog::LogData *record = manager()->makeLogData(id, tslog::LOG_DEBUG);
    record->time = time;
    record->contentLength = tslog::fillLogPrefix(record);
    size_t length = strlen(text);
    memcpy(record->content + record->contentLength, text, length);
    record->contentLength += static_cast<int32_t>(length);
    return record;
}

int64_t march3of2024() {
    return 1709467200;
} // 2024-03-03 12:00:00 UTC

bool isDirectory(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

TEST(LogStartup, ListingNamesEveryEnabledLogger) {
    TempDir dir;
    tslog::LogerManager *m = manager();
    ASSERT_TRUE(m->setLoggerPath(0, dir.path.c_str()));
    int second = m->createLogger("Second");
    int third = m->createLogger("Third");
    ASSERT_TRUE(m->setLoggerDisplay(second, false));
    ASSERT_TRUE(m->setLoggerLevel(second, 4));
    ASSERT_TRUE(m->enableLogger(third, false));
    ASSERT_TRUE(m->start());
    EXPECT_FALSE(m->start()); // already running: nothing more is written
    std::vector<std::string> lines = readLines(dir.path + "/Main.log");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(messageOf(lines[1]), "logger id=0 key=Main name=Main path=" + dir.path +
                                       "/ level=1 display=true tslog:1946");
    EXPECT_EQ(messageOf(lines[2]),
              "logger id=1 key=Second name=Second path=./log/ level=4 display=false tslog:1946");
    EXPECT_FALSE(fileExists("./log/Second.log"));
}

TEST(LogStartup, StopAndStartAgain) {
    TempDir dir;
    tslog::LogerManager *m = manager();
    ASSERT_TRUE(m->setLoggerPath(0, dir.path.c_str()));
    ASSERT_TRUE(m->start());
    std::string file = dir.path + "/Main.log";
    EXPECT_EQ(readLines(file).size(), 2u);
    EXPECT_TRUE(m->stop());
    EXPECT_FALSE(m->stop());
    EXPECT_FALSE(m->isLoggerEnable(0));
    EXPECT_FALSE(m->prePushLog(0, tslog::LOG_FATAL));
    // Logger 0 stays disabled: the second start writes nothing.
    ASSERT_TRUE(m->start());
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 1, "dropped");
    EXPECT_EQ(readLines(file).size(), 2u);
    EXPECT_TRUE(m->stop());
    ASSERT_TRUE(m->enableLogger(0, true));
    ASSERT_TRUE(m->start());
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 2, "kept");
    std::vector<std::string> lines = readLines(file);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(messageOf(lines[2]).substr(0, 17), "-----------------");
    EXPECT_EQ(messageOf(lines[4]), "kept rastovortspl:2");
}

TEST(LogFiles, MonthDirectoriesAreCreated) {
    useUtc();
    TempDir dir;
    tslog::LogerManager *m = manager();
    ASSERT_TRUE(m->setLoggerPath(0, (dir.path + "/log").c_str()));
    ASSERT_TRUE(m->setLoggerName(0, "vortspl"));
    ASSERT_TRUE(m->setLoggerMonthdir(0, true));
    ASSERT_TRUE(m->start());
    EXPECT_TRUE(m->pushLog(recordAt(0, march3of2024(), "march"), "f", 1));
    std::vector<std::string> lines = readLines(dir.path + "/log/2024_03/vortspl.log");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(0, 10), "2024-03-03");
    // The start-up lines went to the month of the wall clock.
    time_t now = time(nullptr);
    struct tm local;
    gmtime_r(&now, &local);
    char month[64];
    snprintf(month, sizeof month, "/%04d_%02d/", local.tm_year + 1900, local.tm_mon + 1);
    EXPECT_EQ(readLines(dir.path + "/log" + month + "vortspl.log").size(), 2u);
}

TEST(LogFiles, BackslashesSeparateCreatedDirectoriesOnly) {
    TempDir dir;
    tslog::LogerManager *m = manager();
    std::string path = dir.path + "/a\\b\\";
    ASSERT_TRUE(m->setLoggerPath(0, path.c_str()));
    EXPECT_EQ(m->getLoggerInfo(0)->path, path);
    ASSERT_TRUE(m->start());
    EXPECT_TRUE(isDirectory(dir.path + "/a"));
    EXPECT_TRUE(isDirectory(dir.path + "/a/b"));
    // The file is opened under the path text as written.
    EXPECT_EQ(readLines(dir.path + "/a\\b\\Main.log").size(), 2u);
    EXPECT_FALSE(fileExists(dir.path + "/a/b/Main.log"));
}

TEST(LogFiles, SizeLimitReopensTheSameFile) {
    TempDir dir;
    tslog::LogerManager *m = manager();
    std::string file = dir.path + "/big.log";
    {
        std::ofstream out(file, std::ios::binary);
        out << std::string(1048576 + 100, 'o');
    }
    ASSERT_TRUE(m->setLoggerPath(0, dir.path.c_str()));
    ASSERT_TRUE(m->setLoggerName(0, "big"));
    ASSERT_TRUE(m->setLoggerLimitsize(0, 1));
    ASSERT_TRUE(m->start());
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 3, "appended");
    std::string text = readFile(file);
    EXPECT_EQ(text.substr(0, 1048576 + 100), std::string(1048576 + 100, 'o'));
    EXPECT_NE(text.find("appended rastovortspl:3\r\n"), std::string::npos);
    EXPECT_EQ(m->getLoggerInfo(0)->writtenBytes, text.size());
    EXPECT_EQ(std::system(("test $(ls '" + dir.path + "' | wc -l) -eq 1").c_str()), 0);
}

TEST(LogFiles, UncreatableDirectoryClearsOutfile) {
    TempDir dir;
    tslog::LogerManager *m = manager();
    std::ofstream(dir.path + "/plain") << "a file, not a directory";
    ASSERT_TRUE(m->setLoggerPath(0, (dir.path + "/plain/sub").c_str()));
    ASSERT_TRUE(m->start());
    EXPECT_FALSE(m->getLoggerInfo(0)->outfile);
    EXPECT_EQ(m->getStatusTotalWriteCount(), 0u);
    EXPECT_TRUE(m->prePushLog(0, tslog::LOG_DEBUG));
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 1, "lost");
    EXPECT_EQ(m->getStatusTotalWriteCount(), 0u);
    // Once the directory is usable and outfile is set again, lines are written.
    ASSERT_TRUE(m->setLoggerPath(0, dir.path.c_str()));
    ASSERT_TRUE(m->setLoggerOutFile(0, true));
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 2, "found");
    std::vector<std::string> lines = readLines(dir.path + "/Main.log");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(messageOf(lines[0]), "found rastovortspl:2");
}

TEST(LogFiles, SymbolicLinkIsNeverFollowed) {
    TempDir dir;
    tslog::LogerManager *m = manager();
    std::string target = dir.path + "/target";
    std::ofstream(target) << "keep";
    ASSERT_EQ(symlink(target.c_str(), (dir.path + "/vortspl.log").c_str()), 0);
    ASSERT_TRUE(m->setLoggerPath(0, dir.path.c_str()));
    ASSERT_TRUE(m->setLoggerName(0, "vortspl"));
    ASSERT_TRUE(m->start());
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 1, "must not land in the target");
    EXPECT_EQ(readFile(target), "keep");
    EXPECT_FALSE(m->getLoggerInfo(0)->outfile);
    EXPECT_EQ(m->getStatusTotalWriteCount(), 0u);
}

TEST(LogFiles, ReservePrunesOldFilesButNeverTheOpenOne) {
    TempDir dir;
    tslog::LogerManager *m = manager();
    ASSERT_TRUE(m->setLoggerPath(0, dir.path.c_str()));
    ASSERT_TRUE(m->setLoggerName(0, "a"));
    ASSERT_TRUE(m->setLoggerReserveTime(0, 1));
    ASSERT_TRUE(m->start());
    ASSERT_TRUE(m->setLoggerName(0, "b"));
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 1, "in b");
    ASSERT_EQ(m->getLoggerInfo(0)->history.size(), 2u);
    usleep(2100 * 1000);
    // Both entries are older than the reserve; the file being opened stays.
    ASSERT_TRUE(m->setLoggerName(0, "a"));
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 2, "in a again");
    EXPECT_FALSE(fileExists(dir.path + "/b.log"));
    std::vector<std::string> lines = readLines(dir.path + "/a.log");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(messageOf(lines[2]), "in a again rastovortspl:2");
    ASSERT_EQ(m->getLoggerInfo(0)->history.size(), 1u);
    EXPECT_EQ(m->getLoggerInfo(0)->history.back().second, dir.path + "/a.log");
}

TEST(LogFiles, WithoutReserveNothingIsDeleted) {
    TempDir dir;
    tslog::LogerManager *m = manager();
    ASSERT_TRUE(m->setLoggerPath(0, dir.path.c_str()));
    ASSERT_TRUE(m->setLoggerName(0, "a"));
    ASSERT_TRUE(m->start());
    ASSERT_TRUE(m->setLoggerName(0, "b"));
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 1, "in b");
    EXPECT_TRUE(fileExists(dir.path + "/a.log"));
    EXPECT_TRUE(fileExists(dir.path + "/b.log"));
    EXPECT_TRUE(m->getLoggerInfo(0)->history.empty());
}

TEST(LogThreads, ConcurrentLinesStayWhole) {
    TempDir dir;
    tslog::LogerManager *m = manager();
    ASSERT_TRUE(m->setLoggerPath(0, dir.path.c_str()));
    ASSERT_TRUE(m->start());
    const int perThread = 20;
    auto writer = [&](char mark) {
        std::string body(3000, mark);
        for (int i = 0; i < perThread; ++i)
            tslog::LogPrintf(tslog::LOG_DEBUG, "worker", i, "%s", body.c_str());
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    std::vector<std::string> lines = readLines(dir.path + "/Main.log");
    ASSERT_EQ(lines.size(), 2u + 2 * perThread);
    int seen[2] = {0, 0};
    for (size_t i = 2; i < lines.size(); ++i) {
        std::string message = messageOf(lines[i]);
        ASSERT_GE(message.size(), 3000u);
        char mark = message[0];
        ASSERT_TRUE(mark == 'a' || mark == 'b');
        EXPECT_EQ(message.substr(0, 3000), std::string(3000, mark));
        EXPECT_EQ(message.substr(3000, 8), " worker:");
        ++seen[mark - 'a'];
    }
    EXPECT_EQ(seen[0], perThread);
    EXPECT_EQ(seen[1], perThread);
    EXPECT_EQ(m->getStatusTotalWriteCount(), 2u + 2 * perThread);
}

TEST(LogFiles, ShortWriteClosesOnceAndTheNextLineReopens) {
    TempDir dir;
    tslog::LogerManager *m = manager();
    ASSERT_TRUE(m->setLoggerPath(0, dir.path.c_str()));
    ASSERT_TRUE(m->start());
    std::string file = dir.path + "/Main.log";
    off_t size = static_cast<off_t>(readFile(file).size());
    // A file-size limit just past the current end makes the next write short.
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(size + 10);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 1, "%s", std::string(200, 's').c_str());
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_FALSE(m->getLoggerInfo(0)->file.isOpen());
    EXPECT_EQ(readFile(file).size(), static_cast<size_t>(size + 10));
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 2, "after");
    std::string text = readFile(file);
    EXPECT_EQ(text.substr(text.size() - 22), "after rastovortspl:2\r\n");
}

TEST(LogFiles, NameTooLongForAPathIsNeverCut) {
    TempDir dir;
    tslog::LogerManager *m = manager();
    ASSERT_TRUE(m->setLoggerPath(0, dir.path.c_str()));
    ASSERT_TRUE(m->start());
    int id = m->createLogger(std::string(600, 'k').c_str());
    ASSERT_EQ(id, 1);
    EXPECT_FALSE(m->setLoggerPath(id, dir.path.c_str()));
    uint64_t count = m->getStatusTotalWriteCount();
    EXPECT_TRUE(m->pushLog(m->makeLogData(id, tslog::LOG_DEBUG), "f", 1));
    EXPECT_FALSE(m->getLoggerInfo(id)->outfile);
    EXPECT_EQ(m->getStatusTotalWriteCount(), count);
}
