// Layout of one log line: the prefix, the source suffix and the line end.
#include "LogTestSupport.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <cwchar>

using namespace logtest;
using tslog::LogData;

namespace {

void useUtc() {
    setenv("TZ", "UTC", 1);
    tzset();
}

int64_t utc(int year, int month, int day, int hour, int minute, int second) {
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return static_cast<int64_t>(timegm(&t));
}

std::string prefixOf(int64_t time, uint32_t ms, uint32_t tid, int level) {
    LogData record = {};
    record.time = time;
    record.milliseconds = ms;
    record.threadId = tid;
    record.level = level;
    int length = tslog::fillLogPrefix(&record);
    return std::string(record.content, static_cast<size_t>(length));
}

// Starts the main logger in dir with the name "line" and drops the start-up
// lines, so that each test sees only its own records.
std::string startMain(const TempDir &dir) {
    tslog::ILogManager *m = tslog::ILogManager::getInstance();
    EXPECT_TRUE(m->setLoggerPath(0, dir.path.c_str()));
    EXPECT_TRUE(m->setLoggerName(0, "line"));
    EXPECT_TRUE(m->start());
    std::string file = dir.path + "/line.log";
    std::remove(file.c_str());
    return file;
}

} // namespace

TEST(LogPrefix, PiecesAndPadding) {
    useUtc();
    const int64_t march5 = utc(2024, 3, 5, 14, 7, 9);
    struct Case {
        int64_t time;
        uint32_t ms;
        uint32_t tid;
        int level;
        const char *expected;
    } cases[] = {
        {march5, 42, 4711, 1, "2024-03-05 14:07:09.042 [4711] LOG_DEBUG "},
        {march5, 42, 4711, 2, "2024-03-05 14:07:09.042 [4711] LOG_INFO "},
        {march5, 42, 4711, 3, "2024-03-05 14:07:09.042 [4711] LOG_WARN "},
        {march5, 999, 1, 0, "2024-03-05 14:07:09.999 [0001] LOG_TRACE "},
        {march5, 0, 123456, 6, "2024-03-05 14:07:09.000 [123456] LOG_FATAL "},
        {march5, 5, 4294967295u, 5, "2024-03-05 14:07:09.005 [4294967295] LOG_ALARM "},
        {utc(999, 12, 31, 23, 59, 59), 7, 12, 4, "0999-12-31 23:59:59.007 [0012] LOG_ERROR "},
        {utc(2000, 1, 1, 0, 0, 0), 0, 10000, 1, "2000-01-01 00:00:00.000 [10000] LOG_DEBUG "},
        // Outside the level table no text is read: the level column is empty.
        {march5, 1, 1, 7, "2024-03-05 14:07:09.001 [0001]  "},
        {march5, 1, 1, -1, "2024-03-05 14:07:09.001 [0001]  "},
    };
    for (const Case &c : cases)
        EXPECT_EQ(prefixOf(c.time, c.ms, c.tid, c.level), c.expected) << c.expected;
    EXPECT_EQ(prefixOf(march5, 42, 4711, 1).size(), 41u);
    EXPECT_EQ(prefixOf(march5, 42, 4711, 2).size(), 40u);
}

TEST(LogPrefix, DayCacheFollowsTheRecordsDay) {
    useUtc();
    // Forward, back and forward again across day boundaries in one thread.
    EXPECT_EQ(prefixOf(utc(2024, 2, 28, 23, 59, 59), 0, 1, 1).substr(0, 19), "2024-02-28 23:59:59");
    EXPECT_EQ(prefixOf(utc(2024, 2, 29, 0, 0, 0), 0, 1, 1).substr(0, 19), "2024-02-29 00:00:00");
    EXPECT_EQ(prefixOf(utc(2024, 2, 29, 12, 30, 1), 0, 1, 1).substr(0, 19), "2024-02-29 12:30:01");
    EXPECT_EQ(prefixOf(utc(2024, 2, 28, 8, 0, 0), 0, 1, 1).substr(0, 19), "2024-02-28 08:00:00");
    EXPECT_EQ(prefixOf(utc(1970, 1, 1, 0, 0, 5), 0, 1, 1).substr(0, 19), "1970-01-01 00:00:05");
    EXPECT_EQ(prefixOf(utc(2024, 3, 1, 23, 59, 59), 0, 1, 1).substr(0, 19), "2024-03-01 23:59:59");
}

TEST(LogRecord, MakeFillsHeaderAndPrefix) {
    tslog::ILogManager *m = tslog::ILogManager::getInstance();
    LogData *record = m->makeLogData(3, 2);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->loggerId, 3);
    EXPECT_EQ(record->level, 2);
    EXPECT_EQ(record->changeCode, 0);
    EXPECT_EQ(record->changeValue, 0);
    EXPECT_EQ(record->threadId, static_cast<uint32_t>(syscall(SYS_gettid)));
    EXPECT_LT(record->milliseconds, 1000u);
    EXPECT_NEAR(static_cast<double>(record->time), static_cast<double>(time(nullptr)), 2.0);
    std::string prefix(record->content, static_cast<size_t>(record->contentLength));
    EXPECT_EQ(prefix.substr(prefix.size() - 11), "] LOG_INFO ");
    m->freeLogData(record);
}

TEST(LogLine, SourceSuffixRules) {
    TempDir dir;
    std::string file = startMain(dir);
    tslog::ILogManager *m = tslog::ILogManager::getInstance();
    struct Case {
        const char *file;
        int line;
        std::string expectedTail;
    } cases[] = {
        {"a/b/c.x", 7, "msg c.x:7"},
        {"a\\b\\c.x", 7, "msg c.x:7"},
        {"dir/sub\\c.x", 12345, "msg c.x:12345"},
        {"c.x", 0, "msg c.x:0"},
        {"trailing/", 3, "msg :3"},
        {nullptr, 7, "msg"},
        {"tslog", -5, "msg tslog:-5"},
    };
    for (const Case &c : cases) {
        LogData *record = m->makeLogData(0, 1);
        memcpy(record->content + record->contentLength, "msg", 3);
        record->contentLength += 3;
        EXPECT_TRUE(m->pushLog(record, c.file, c.line));
    }
    std::vector<std::string> lines = readLines(file);
    ASSERT_EQ(lines.size(), std::size(cases));
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(messageOf(lines[i]), cases[i].expectedTail);
    }
}

TEST(LogLine, SuffixNearTheContentLimit) {
    TempDir dir;
    std::string file = startMain(dir);
    tslog::ILogManager *m = tslog::ILogManager::getInstance();
    struct Case {
        int32_t contentLength;   // message filled with 'm' up to here
        std::string expectedEnd; // end of the line before CR LF
        size_t expectedSize;     // line bytes with CR LF
    } cases[] = {
        // 65 bytes left after " c.x:": the line number is written.
        {8122, "m c.x:7", 8122 + 6 + 2},
        // 64 bytes left: the number is left out, the rest stays.
        {8123, "m c.x:", 8123 + 5 + 2},
        // The suffix runs past 8189: cut there, CR LF at 8189 and 8190.
        {8186, "m c.", 8191},
        // Two bytes left: the blank and one byte of the name, no colon.
        {8190, "m", 8191},
        // A full content: nothing of the suffix fits, the last two message
        // bytes give way to CR LF.
        {8192, "mmm", 8191},
    };
    for (const Case &c : cases) {
        LogData *record = m->makeLogData(0, 1);
        memset(record->content + record->contentLength, 'm',
               static_cast<size_t>(c.contentLength - record->contentLength));
        record->contentLength = c.contentLength;
        EXPECT_TRUE(m->pushLog(record, "a/c.x", 7));
    }
    std::string text = readFile(file);
    size_t begin = 0;
    for (const Case &c : cases) {
        size_t end = text.find("\r\n", begin);
        ASSERT_NE(end, std::string::npos);
        std::string line = text.substr(begin, end - begin);
        EXPECT_EQ(line.size() + 2, c.expectedSize) << c.contentLength;
        EXPECT_EQ(line.substr(line.size() - c.expectedEnd.size()), c.expectedEnd)
            << c.contentLength;
        begin = end + 2;
    }
    EXPECT_EQ(begin, text.size());
}

TEST(LogLine, PrintfHelperCutsAndIgnoresFailures) {
    TempDir dir;
    std::string file = startMain(dir);
    std::string big(10000, 'x');
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 178, "%s", big.c_str());
    // An encoding failure (negative result) counts as no text.
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 179, "%ls", L"\u00e9\u00e9");
    tslog::LogPrintf(tslog::LOG_INFO, "InitalizeOemCfg", 42, "n=%d s=%s", 5, "ok");
    tslog::LogPrintf(tslog::LOG_TRACE, "rastovortspl", 180, "filtered");
    std::string text = readFile(file);
    std::vector<std::string> lines = readLines(file);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].size(), 8189u);
    std::string message = messageOf(lines[0]);
    EXPECT_EQ(message, std::string(message.size(), 'x'));
    EXPECT_EQ(text.substr(8189, 2), "\r\n");
    EXPECT_EQ(messageOf(lines[1]), " rastovortspl:179");
    EXPECT_EQ(messageOf(lines[2]), "n=5 s=ok InitalizeOemCfg:42");
}
