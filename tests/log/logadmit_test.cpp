// Which records are taken, the record pool and the write counters.
#include "LogTestSupport.h"

#include <cstring>

using namespace logtest;
using tslog::LogData;

namespace {

void startIn(const TempDir &dir, const char *name) {
    ASSERT_TRUE(manager()->setLoggerPath(0, dir.path.c_str()));
    ASSERT_TRUE(manager()->setLoggerName(0, name));
    ASSERT_TRUE(manager()->start());
}

LogData *recordWith(int id, int level, const char *text) {
    LogData *record = manager()->makeLogData(id, level);
    size_t length = strlen(text);
    memcpy(record->content + record->contentLength, text, length);
    record->contentLength += static_cast<int32_t>(length);
    return record;
}

} // namespace

TEST(LogAdmission, NothingIsTakenBeforeStart) {
    tslog::LogerManager *m = manager();
    EXPECT_FALSE(m->prePushLog(0, tslog::LOG_FATAL));
    EXPECT_FALSE(m->pushLog(recordWith(0, tslog::LOG_FATAL, "early"), "f", 1));
    EXPECT_EQ(m->getStatusTotalWriteCount(), 0u);
    EXPECT_FALSE(m->stop());
}

TEST(LogAdmission, IdLevelAndEnableRules) {
    TempDir dir;
    startIn(dir, "admit");
    tslog::LogerManager *m = manager();
    int second = m->createLogger("second");
    ASSERT_EQ(second, 1);
    ASSERT_TRUE(m->setLoggerPath(second, dir.path.c_str()));
    ASSERT_TRUE(m->setLoggerLevel(second, tslog::LOG_WARN));
    struct Case {
        int id;
        int level;
        bool accepted;
    } cases[] = {
        {0, tslog::LOG_TRACE, false},
        {0, tslog::LOG_DEBUG, true},
        {0, tslog::LOG_FATAL, true},
        {0, 7, false},
        {0, -1, false},
        {0, 1000, false},
        {-1, tslog::LOG_DEBUG, false},
        {2, tslog::LOG_DEBUG, false},
        {19, tslog::LOG_FATAL, false},
        {second, tslog::LOG_INFO, false},
        {second, tslog::LOG_WARN, true},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(m->prePushLog(c.id, c.level), c.accepted) << c.id << "/" << c.level;
        EXPECT_EQ(m->pushLog(recordWith(c.id, c.level, "x"), "f", 1), c.accepted)
            << c.id << "/" << c.level;
    }
    ASSERT_TRUE(m->enableLogger(second, false));
    EXPECT_FALSE(m->prePushLog(second, tslog::LOG_FATAL));
    EXPECT_FALSE(m->pushLog(recordWith(second, tslog::LOG_FATAL, "x"), "f", 1));
    EXPECT_EQ(readLines(dir.path + "/second.log").size(), 1u);
    // A threshold beyond the table rejects everything, without a bad read.
    ASSERT_TRUE(m->setLoggerLevel(0, 9));
    EXPECT_FALSE(m->prePushLog(0, tslog::LOG_FATAL));
    // A negative threshold admits every level of the table, and only those.
    ASSERT_TRUE(m->setLoggerLevel(0, -3));
    EXPECT_TRUE(m->prePushLog(0, tslog::LOG_TRACE));
    EXPECT_FALSE(m->prePushLog(0, -2));
}

TEST(LogAdmission, FileOutputOffAcceptsButWritesNothing) {
    TempDir dir;
    startIn(dir, "quiet");
    tslog::LogerManager *m = manager();
    uint64_t count = m->getStatusTotalWriteCount();
    uint64_t bytes = m->getStatusTotalWriteBytes();
    std::string before = readFile(dir.path + "/quiet.log");
    ASSERT_TRUE(m->setLoggerOutFile(0, false));
    EXPECT_TRUE(m->prePushLog(0, tslog::LOG_DEBUG));
    EXPECT_TRUE(m->pushLog(recordWith(0, tslog::LOG_DEBUG, "hidden"), "f", 1));
    EXPECT_EQ(readFile(dir.path + "/quiet.log"), before);
    EXPECT_EQ(m->getStatusTotalWriteCount(), count);
    EXPECT_EQ(m->getStatusTotalWriteBytes(), bytes);
}

TEST(LogCounters, CountLinesAndBytes) {
    TempDir dir;
    startIn(dir, "count");
    tslog::LogerManager *m = manager();
    for (int i = 0; i < 5; ++i)
        tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", i, "line %d", i);
    tslog::LogPrintf(tslog::LOG_TRACE, "rastovortspl", 9, "filtered");
    // Banner, listing and five traces.
    EXPECT_EQ(m->getStatusTotalWriteCount(), 7u);
    EXPECT_EQ(m->getStatusTotalWriteBytes(), readFile(dir.path + "/count.log").size());
    EXPECT_EQ(m->getStatusTotalPushQueue(), 0u);
    EXPECT_EQ(m->getStatusTotalPopQueue(), 0u);
    EXPECT_EQ(m->getStatusActiveLoggers(), 1u);
    m->createLogger("b");
    int c = m->createLogger("c");
    EXPECT_EQ(m->getStatusActiveLoggers(), 3u);
    m->enableLogger(c, false);
    EXPECT_EQ(m->getStatusActiveLoggers(), 2u);
}

TEST(LogPool, HoldsAtMost200AndStopEmptiesIt) {
    TempDir dir;
    startIn(dir, "pool");
    tslog::LogerManager *m = manager();
    std::vector<LogData *> records;
    for (int i = 0; i < 250; ++i)
        records.push_back(m->makeLogData(0, tslog::LOG_DEBUG));
    for (LogData *record : records)
        m->freeLogData(record);
    EXPECT_EQ(m->getPoolSize(), 200u);
    // Taking from the pool hands back recycled blocks.
    LogData *again = m->makeLogData(0, tslog::LOG_DEBUG);
    EXPECT_EQ(m->getPoolSize(), 199u);
    EXPECT_EQ(again->changeCode, 0);
    m->freeLogData(again);
    m->freeLogData(nullptr);
    EXPECT_TRUE(m->stop());
    EXPECT_EQ(m->getPoolSize(), 0u);
}

namespace {
void *noMemory(size_t) {
    return nullptr;
}
} // namespace

TEST(LogPool, AllocationFailureDropsTheTraceSafely) {
    TempDir dir;
    startIn(dir, "nomem");
    tslog::LogerManager *m = manager();
    std::vector<LogData *> drained; // so that every record must be allocated
    while (m->getPoolSize() > 0)
        drained.push_back(m->makeLogData(0, 1));
    std::string before = readFile(dir.path + "/nomem.log");
    uint64_t count = m->getStatusTotalWriteCount();
    tslog::LogerManager::recordAllocator = &noMemory;
    LogData *record = m->makeLogData(0, tslog::LOG_DEBUG);
    ASSERT_NE(record, nullptr);
    EXPECT_FALSE(m->pushLog(record, "f", 1));
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 1, "%s", std::string(9000, 'z').c_str());
    tslog::LogerManager::recordAllocator = &malloc;
    for (LogData *held : drained)
        m->freeLogData(held);
    EXPECT_EQ(readFile(dir.path + "/nomem.log"), before);
    EXPECT_EQ(m->getStatusTotalWriteCount(), count);
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 2, "after");
    EXPECT_EQ(m->getStatusTotalWriteCount(), count + 1);
}
