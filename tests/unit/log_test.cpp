// The logger: line layout, configuration text and setters against golden
// files; file rules, admission, the record pool and threads as behaviour.
// Every test runs in a process of its own, so the manager starts fresh.
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "log/LogerManager.h"
#include "tests/support/Support.h"

namespace {

using tslog::LogData;
using tslog::LoggerInfo;

// Dates in UTC, as the golden files show them.
[[maybe_unused]] const int kUtc = (setenv("TZ", "UTC", 1), tzset(), 0);

tslog::LogerManager *M() {
    return static_cast<tslog::LogerManager *>(tslog::ILogManager::getInstance());
}

void StartIn(const rvt::TempDir &dir, const char *name) {
    ASSERT_TRUE(M()->setLoggerPath(0, dir.path().c_str()));
    ASSERT_TRUE(M()->setLoggerName(0, name));
    ASSERT_TRUE(M()->start());
}

// The manager started on the main logger in a fresh folder.
struct Started : testing::Test {
    rvt::TempDir dir;
    tslog::LogerManager *m = M();
    void SetUp() override { StartIn(dir, "Main"); }
};

// Log text with the time and thread of every line replaced, and long lines
// shown by their length and ends, so that it can be compared as it is.
std::string Stable(const std::string &log, const std::string &dir) {
    static const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d{4,}\] )");
    std::string out;
    for (size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2) {
        const size_t size = end + 2 - at;
        std::string line = std::regex_replace(log.substr(at, size), stamp, "<stamp> ");
        out += size < 1000 ? line
                           : std::to_string(size) + " bytes: " + line.substr(0, 20) + "..." +
                                 line.substr(line.size() - 12);
    }
    for (size_t at; (at = out.find(dir)) != std::string::npos;)
        out.replace(at, dir.size(), "<dir>");
    return rvt::Escape(out);
}

LogData *Record(int id, int level, const std::string &text) {
    LogData *r = M()->makeLogData(id, level);
    memcpy(r->content + r->contentLength, text.data(), text.size());
    r->contentLength += (int32_t)text.size();
    return r;
}

#define FIELD(f) (" " #f "=" + std::to_string(e.f))
std::string Dump(const LoggerInfo &e) {
    return "key=" + e.key + " name=" + e.name + " path=" + e.path + FIELD(level) + FIELD(display) +
           FIELD(outfile) + FIELD(monthdir) + FIELD(limitsize) + FIELD(enable) + FIELD(fileline) +
           FIELD(reserve) + "\n";
}
#undef FIELD

TEST(Log, LineLayout) {
    std::string text = "=== prefixes\n";
    const int64_t march5 = 1709647629; // 2024-03-05 14:07:09
    const int64_t prefixes[][4] = {
        // time, milliseconds, thread and level
        {march5, 42, 4711, 1},         {march5, 999, 1, 0},      {march5, 0, 123456, 6},
        {march5, 5, 4294967295, 5},    {-30610224001, 7, 12, 4}, {946684800, 0, 10000, 2},
        {march5 - 86400 * 5, 0, 1, 3}, {march5, 1, 1, 7},        {march5, 1, 1, -1}};
    for (auto [time, ms, tid, level] : prefixes) {
        LogData r = {};
        r.time = time, r.milliseconds = (uint32_t)ms, r.threadId = (uint32_t)tid;
        r.level = (int)level;
        text += "[" + std::string(r.content, (size_t)tslog::fillLogPrefix(&r)) + "]\n";
    }
    rvt::TempDir dir;
    StartIn(dir, "line");
    const std::pair<const char *, int> sources[] = {
        {"a/b/c.x", 7}, {"a\\b\\c.x", 7}, {"dir/sub\\c.x", 12345}, {"c.x", 0}, {"trailing/", 3},
        {nullptr, 7},   {"tslog", -5}};
    for (auto [file, line] : sources)
        EXPECT_TRUE(M()->pushLog(Record(0, 1, "msg"), file, line));
    // Near the content's end the suffix gives way, then the message.
    for (int32_t length : {8122, 8123, 8186, 8189, 8190, 8192}) {
        LogData *r = M()->makeLogData(0, 1);
        memset(r->content + r->contentLength, 'm', (size_t)(length - r->contentLength));
        r->contentLength = length;
        EXPECT_TRUE(M()->pushLog(r, "a/c.x", 7));
    }
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 178, "%s", std::string(10000, 'x').c_str());
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 179, "%ls", L"\u00e9\u00e9"); // no text
    tslog::LogPrintf(tslog::LOG_INFO, "InitalizeOemCfg", 42, "n=%d s=%s", 5, "ok");
    tslog::LogPrintf(tslog::LOG_TRACE, "rastovortspl", 180, "filtered");
    text += "=== log file\n" + Stable(rvt::ReadFile(dir / "line.log"), dir.path());
    rvt::ExpectGolden("log-lines.txt", text);
    EXPECT_EQ(M()->getStatusTotalWriteBytes(), rvt::ReadFile(dir / "line.log").size());
}

// Each line of a data file trimmed, and parsed as a setting of section [s].
TEST(Log, ConfigurationLines) {
    std::ifstream in(rvt::SourceDir() + "/tests/data/log-config-lines.txt", std::ios::binary);
    std::string text;
    for (std::string line; std::getline(in, line);) {
        std::string trimmed = line, section;
        tslog::trimLogConfig(trimmed, "[]");
        std::map<std::string, LoggerInfo> entries;
        tslog::parseConfigLine("[s]", section, entries);
        tslog::parseConfigLine(line, section, entries);
        text +=
            rvt::Escape("'" + line + "' trimmed '" + trimmed + "'") + "\n  " + Dump(entries["s"]);
    }
    std::map<std::string, LoggerInfo> entries;
    std::string section;
    for (const char *line :
         {"level=error", "[MAIN]", "level=error", "  [ Other ]  ", "[main]", "fileline=false"})
        tslog::parseConfigLine(line, section, entries);
    for (const auto &e : entries)
        text += "section " + e.first + ": " + Dump(e.second);
    rvt::ExpectGolden("log-config.txt", text);
}

TEST(Log, SettersAndLoggers) {
    tslog::LogerManager *m = M();
    int id = m->createLogger("t");
    ASSERT_EQ(id, 1);
    std::string text;
    // "<setter> <argument>", where "<c>*<n>" in the argument is n copies of c.
    for (std::string call :
         {"path c:\\logs\\", "path ", "name ", "limitsize 0", "reserve 4294967305",
          "reserve 2147483648", "hot-name n*8192", "hot-42 ", "hot-reserve -7", "path p*486/",
          "path p*485/", "name nnnn", "path /tmp/", "name n*483", "name n*482"}) {
        const std::string op = call.substr(0, call.find(' '));
        std::string arg = call.substr(op.size() + 1);
        if (arg.size() > 2 && arg[1] == '*')
            arg = std::string(std::stoul(arg.substr(2)), arg[0]) + (arg.back() == '/' ? "/" : "");
        const long n = std::atol(arg.c_str());
        const bool ok = op == "path"          ? m->setLoggerPath(id, arg.c_str())
                        : op == "name"        ? m->setLoggerName(id, arg.c_str())
                        : op == "limitsize"   ? m->setLoggerLimitsize(id, (unsigned)n)
                        : op == "reserve"     ? m->setLoggerReserveTime(id, n)
                        : op == "hot-name"    ? m->hotChange(id, tslog::Name, 0, arg)
                        : op == "hot-reserve" ? m->hotChange(id, tslog::Reserve, (int)n, "")
                                              : m->hotChange(id, tslog::LogDataType(42), 1, "");
        text += call + " -> " + (ok ? "true" : "false") + ": " + Dump(*m->getLoggerInfo(id));
    }
    for (int bad : {-1, 2, 20}) {
        EXPECT_FALSE(m->setLoggerLevel(bad, 1) || m->setLoggerPath(bad, "/tmp") ||
                     m->enableLogger(bad, true) || m->hotChange(bad, tslog::Level, 1, "") ||
                     m->isLoggerEnable(bad));
        EXPECT_EQ(m->getLoggerInfo(bad), nullptr);
    }
    text += "=== loggers\n";
    for (const char *key : {"Main", "  Main\t", " first ", "first", "t"}) {
        text +=
            std::string("create '") + key + "' -> " + std::to_string(m->createLogger(key)) + "\n";
    }
    for (int i = 0; i < 20; ++i)
        m->createLogger(("logger" + std::to_string(i)).c_str());
    EXPECT_EQ(m->createLogger("one too many"), -1);
    EXPECT_EQ(m->createLogger(nullptr), -1);
    for (const char *key : {"first", " first ", "main", "logger0", "one too many"})
        text += std::string("find '") + key + "' -> " + std::to_string(m->findLogger(key)) + "\n";
    rvt::ExpectGolden("log-setters.txt", text);
}

TEST(Log, ConfigurationApplied) {
    rvt::TempDir dir;
    tslog::LogerManager *m = M();
    const std::string text = "\xEF\xBB\xBF[Main]\npath=" + dir.path() +
                             "\nlevel=info\r\nfileline=false\n" + "[Main2]\npath=" + dir.path() +
                             "/sub\nlevel=warn\n[empty name]\nname=\n";
    ASSERT_TRUE(m->configFromString(text.c_str()));
    EXPECT_EQ(Dump(*m->getLoggerInfo(0)).substr(0, 9), "key=Main ");
    EXPECT_EQ(m->getLoggerInfo(0)->level * 10 + m->getLoggerInfo(0)->fileline, 20);
    EXPECT_EQ(m->findLogger("Main2"), 1); // sections in byte order
    EXPECT_EQ(m->getLoggerInfo(2)->name, "empty name");
    // The same text (by its byte sum) and an empty text are not applied again.
    ASSERT_TRUE(m->setLoggerLevel(0, 3));
    EXPECT_TRUE(m->configFromString(text.c_str()) && m->configFromString(""));
    EXPECT_EQ(m->getLoggerInfo(0)->level, 3);
    EXPECT_FALSE(m->configFromString(nullptr));
    // A file is taken once; its updates reach known loggers only, read again
    // by the writer thread.
    const std::string file = dir / "log.ini";
    EXPECT_FALSE(m->updateConfig());
    rvt::WriteFile(file, "[Main]\npath=" + dir.path() + "\nlevel=warn\n");
    ASSERT_TRUE(m->config(file.c_str()));
    EXPECT_FALSE(m->config((dir / "other.ini").c_str()));
    ASSERT_TRUE(m->setAutoUpdate(1) && m->start());
    rvt::WriteFile(file, "[Main]\npath=" + dir.path() + "\nlevel=alarm\n[Later]\nlevel=info\n");
    for (int i = 0; i < 60 && m->getLoggerInfo(0)->level != 5; ++i)
        usleep(50 * 1000);
    EXPECT_EQ(m->getLoggerInfo(0)->level, 5);
    EXPECT_EQ(m->findLogger("Later"), -1);
    std::remove(file.c_str());
    EXPECT_FALSE(m->updateConfig()); // a file gone is not read
    EXPECT_TRUE(m->pushLog(Record(1, tslog::LOG_ERROR, "x"), "f", 1));
    EXPECT_NE(rvt::ReadFile(dir / "sub/Main2.log").find("LOG_ERROR x f:1\r\n"), std::string::npos);
}

TEST(Log, Admission) {
    tslog::LogerManager *m = M();
    EXPECT_FALSE(m->prePushLog(0, tslog::LOG_FATAL) || m->stop()); // nothing before start
    EXPECT_FALSE(m->pushLog(Record(0, tslog::LOG_FATAL, "early"), "f", 1));
    rvt::TempDir dir;
    StartIn(dir, "admit");
    EXPECT_FALSE(m->start());
    const int second = m->createLogger("second");
    ASSERT_TRUE(m->setLoggerPath(second, dir.path().c_str()) &&
                m->setLoggerLevel(second, tslog::LOG_WARN));
    std::string taken; // per logger, levels -1, 0, 1, 2, 3, 6 and 7
    for (int id : {-1, 0, second, 2, 19}) {
        for (int level : {-1, 0, 1, 2, 3, 6, 7})
            taken += m->pushLog(Record(id, level, "x"), "f", 1) ? '+' : '.';
        taken += ' ';
    }
    EXPECT_EQ(taken, "....... ..++++. ....++. ....... ....... ");
    for (int level : {-3, 9}) { // beyond the table either way
        ASSERT_TRUE(m->setLoggerLevel(0, level));
        EXPECT_EQ(m->prePushLog(0, tslog::LOG_TRACE), level < 0);
        EXPECT_FALSE(m->prePushLog(0, -2));
    }
    ASSERT_TRUE(m->enableLogger(second, false));
    EXPECT_FALSE(m->prePushLog(second, tslog::LOG_FATAL));
    // File output off: taken, not written.
    ASSERT_TRUE(m->setLoggerLevel(0, 1) && m->setLoggerOutFile(0, false));
    const uint64_t count = m->getStatusTotalWriteCount();
    EXPECT_TRUE(m->pushLog(Record(0, tslog::LOG_DEBUG, "hidden"), "f", 1));
    EXPECT_EQ(m->getStatusTotalWriteCount(), count);
    // Stopped, the main logger stays disabled until enabled again.
    EXPECT_TRUE(m->stop() && m->setLoggerOutFile(0, true) && m->start());
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 1, "dropped");
    EXPECT_TRUE(m->stop() && m->enableLogger(0, true) && m->start());
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 2, "kept");
    const std::string log = rvt::ReadFile(dir / "admit.log");
    EXPECT_EQ(log.find("dropped") + log.find("hidden"), 2 * std::string::npos);
    EXPECT_NE(log.find("LOG_DEBUG kept rastovortspl:2\r\n"), std::string::npos);
}

TEST(Log, FileRules) {
    rvt::TempDir dir;
    tslog::LogerManager *m = M();
    rvt::WriteFile(dir / "big.log", std::string(1048676, 'o'));
    ASSERT_TRUE(m->setLoggerLimitsize(0, 1) && m->setLoggerReserveTime(0, 1));
    StartIn(dir, "big");
    // Over the size limit the same file is reopened and appended to.
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 3, "appended");
    const std::string big = rvt::ReadFile(dir / "big.log");
    EXPECT_EQ(big.find_first_not_of('o'), 1048676u);
    EXPECT_NE(big.find("appended rastovortspl:3\r\n"), std::string::npos);
    // Month folders follow each record's own time.
    ASSERT_TRUE(m->setLoggerMonthdir(0, true));
    LogData *march = Record(0, 1, "");
    march->time = 1709467200; // 2024-03-03
    march->contentLength = tslog::fillLogPrefix(march);
    EXPECT_TRUE(m->pushLog(march, "f", 1));
    EXPECT_EQ(rvt::ReadFile(dir / "2024_03/big.log").substr(0, 10), "2024-03-03");
    // Files beyond the reserve are removed, never the one being opened.
    ASSERT_TRUE(m->setLoggerMonthdir(0, false) && m->setLoggerName(0, "b"));
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 1, "in b");
    usleep(2100 * 1000);
    ASSERT_TRUE(m->setLoggerName(0, "big"));
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 2, "in big again");
    EXPECT_FALSE(std::ifstream(dir / "b.log").good());
    EXPECT_NE(rvt::ReadFile(dir / "big.log").find("in big again"), std::string::npos);
    // A symbolic link is never followed, and a folder that cannot be made
    // is no folder: both switch file output off.
    rvt::WriteFile(dir / "target", "keep");
    ASSERT_EQ(symlink((dir / "target").c_str(), (dir / "link.log").c_str()), 0);
    ASSERT_TRUE(m->setLoggerName(0, "link"));
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 1, "not into the target");
    EXPECT_FALSE(m->getLoggerInfo(0)->outfile);
    EXPECT_EQ(rvt::ReadFile(dir / "target"), "keep");
    ASSERT_TRUE(m->setLoggerOutFile(0, true) && m->setLoggerName(0, "x"));
    ASSERT_TRUE(m->setLoggerPath(0, (dir / "target/sub").c_str()));
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 1, "lost");
    EXPECT_FALSE(m->getLoggerInfo(0)->outfile);
}

TEST_F(Started, ShortWriteClosesAndTheNextLineReopens) {
    const size_t size = rvt::ReadFile(dir / "Main.log").size();
    signal(SIGXFSZ, SIG_IGN);
    rlimit saved, tight;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    tight = saved;
    tight.rlim_cur = size + 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 1, "%s", std::string(200, 's').c_str());
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_FALSE(M()->getLoggerInfo(0)->file.isOpen());
    EXPECT_EQ(rvt::ReadFile(dir / "Main.log").size(), size + 10);
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 2, "after");
    const std::string text = rvt::ReadFile(dir / "Main.log");
    EXPECT_EQ(text.find("after rastovortspl:2\r\n"), text.size() - 22);
}

TEST_F(Started, ThreadsShareThePoolAndTheFile) {
    // Records taken and returned by several threads at once: none is ever
    // handed to two threads, and the pool stays within its limit.
    std::atomic<int> clashes{0};
    auto churn = [&](char mark) {
        for (int i = 0; i < 20000; ++i) {
            LogData *held[3];
            for (LogData *&r : held)
                memset((r = m->makeLogData(0, 1))->content, mark, 64);
            std::this_thread::yield();
            for (LogData *r : held) {
                clashes += r->content[0] != mark || r->content[63] != mark;
                m->freeLogData(r);
            }
        }
    };
    std::vector<std::thread> threads;
    for (char mark : {'a', 'b', 'c', 'd'})
        threads.emplace_back(churn, mark);
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(clashes.load(), 0);
    std::vector<LogData *> many;
    for (int i = 0; i < 250; ++i)
        many.push_back(m->makeLogData(0, 1));
    for (LogData *r : many)
        m->freeLogData(r);
    m->freeLogData(nullptr);
    EXPECT_EQ(m->getPoolSize(), 200u);
    // Whole lines from two writers at once.
    auto writer = [](char mark) {
        for (int i = 0; i < 20; ++i)
            tslog::LogPrintf(tslog::LOG_DEBUG, "worker", i, "%s", std::string(3000, mark).c_str());
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    const std::string log = rvt::ReadFile(dir / "Main.log");
    static const std::regex line(R"(\S+ \S+ \[\d+\] LOG_DEBUG (a{3000}|b{3000}) worker:\d+\r\n)");
    EXPECT_EQ(
        std::distance(std::sregex_iterator(log.begin(), log.end(), line), std::sregex_iterator()),
        40);
    EXPECT_EQ(m->getStatusTotalWriteCount(), 42u);
    // Renamed while lines are written: every line goes to a file of one of
    // the names, never of a name half written.
    const std::string nameA(40, 'a'), nameB(40, 'b');
    std::atomic<bool> writing{true};
    std::thread renamer([&] {
        for (int i = 0; writing; ++i)
            m->setLoggerName(0, (i % 2 ? nameA : nameB).c_str());
    });
    for (int i = 0; i < 20000; ++i)
        tslog::LogPrintf(tslog::LOG_DEBUG, "worker", 1, "renamed");
    writing = false;
    renamer.join();
    for (const auto &e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_TRUE(e.path().filename() == "Main.log" || e.path().filename() == nameA + ".log" ||
                    e.path().filename() == nameB + ".log")
            << e.path();
    EXPECT_TRUE(m->stop());
    EXPECT_EQ(m->getPoolSize(), 0u);
    // Started again, returned records are kept for reuse as before.
    ASSERT_TRUE(m->start());
    m->freeLogData(m->makeLogData(0, 1));
    EXPECT_EQ(m->getPoolSize(), 1u);
}

TEST_F(Started, NoMemoryDropsTheTraceSafely) {
    std::vector<LogData *> drained; // so that every record must be allocated
    while (m->getPoolSize() > 0)
        drained.push_back(m->makeLogData(0, 1));
    const std::string before = rvt::ReadFile(dir / "Main.log");
    tslog::LogerManager::recordAllocator = [](size_t) -> void * { return nullptr; };
    LogData *record = m->makeLogData(0, tslog::LOG_DEBUG);
    ASSERT_NE(record, nullptr);
    EXPECT_FALSE(m->pushLog(record, "f", 1));
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 1, "%s", std::string(9000, 'z').c_str());
    tslog::LogerManager::recordAllocator = &malloc;
    for (LogData *held : drained)
        m->freeLogData(held);
    EXPECT_EQ(rvt::ReadFile(dir / "Main.log"), before);
    tslog::LogPrintf(tslog::LOG_DEBUG, "rastovortspl", 2, "after");
    EXPECT_NE(rvt::ReadFile(dir / "Main.log").find("after rastovortspl:2"), std::string::npos);
}

} // namespace
