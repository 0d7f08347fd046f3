// The logger: line layout, configuration text and setters against golden
// files; file rules, admission, the record pool and threads as behaviour.
// Every test runs in a process of its own, so the manager starts fresh.
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
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

// Log text with the time and thread of every line replaced, and long lines
// shown by their length and ends, so that it can be compared as it is.
std::string Stable(const std::string &log, const std::string &dir) {
    std::string out;
    for (size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2) {
        const size_t size = end + 2 - at;
        std::string line = rvt::RegexReplace(log.substr(at, size), rvt::kStampPattern, "<stamp> ");
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
           FIELD(reserve);
}
#undef FIELD

// One call on the manager per line of a scenario in log-scenarios.txt,
// written with its result to the golden file log-<scenario>.txt.
struct Call {
    std::istringstream in;
    const rvt::TempDir &dir;
    int line;
    tslog::LogerManager *m = M();
    long N() {
        long v = 0;
        in >> v;
        return v;
    }
    // The rest of the line: \t \n \r \s \xHH escapes, {c*n} for n copies of
    // c, $dir for the scenario's folder; (null) for no text at all.
    std::string T() {
        if (in.peek() == ' ')
            in.get();
        std::string raw, t;
        std::getline(in, raw);
        for (size_t i = 0; i < raw.size(); ++i) {
            const char *escape = i + 1 < raw.size() && raw[i] == '\\' && raw[i + 1] != '\0'
                                     ? strchr("tnrs", raw[i + 1])
                                     : nullptr;
            size_t n = 0;
            if (raw.compare(i, 4, "$dir") == 0)
                t += dir.path(), i += 3;
            else if (raw.compare(i, 2, "\\x") == 0)
                t += (char)std::stoi(raw.substr(i + 2, 2), nullptr, 16), i += 3;
            else if (escape)
                t += "\t\n\r "[escape - "tnrs"], ++i;
            else if (raw[i] == '{' && sscanf(raw.c_str() + i + 1, "%*c*%zu}", &n) == 1)
                t += std::string(n, raw[i + 1]), i = raw.find('}', i);
            else
                t += raw[i];
        }
        return t;
    }
    std::string W() {
        std::string w;
        in >> w;
        return dir / w;
    }
    // A setter's result and the logger's entry after it.
    std::string Entry(int id, bool ok) {
        const LoggerInfo *e = m->getLoggerInfo(id);
        return (ok ? "true: " : "false: ") + (e ? Dump(*e) : "none");
    }
};
const auto B = [](bool v) { return std::string(v ? "true" : "false"); };
const auto Null = [](const std::string &t) { return t == "(null)" ? nullptr : t.c_str(); };

// Configuration lines parsed in turn.
std::map<std::string, LoggerInfo> g_entries;
std::string g_section;

using Op = std::function<std::string(Call &)>;
// clang-format off
#define OP(name, ...) {name, []([[maybe_unused]] Call &c) -> std::string { __VA_ARGS__ }}
#define SETTER(name, call) OP(name, int id = (int)c.N(); return c.Entry(id, c.m->call);)
const std::map<std::string, Op> kOps = {
    SETTER("path", setLoggerPath(id, Null(c.T()))), SETTER("name", setLoggerName(id, Null(c.T()))),
    SETTER("level", setLoggerLevel(id, (int)c.N())), SETTER("limitsize", setLoggerLimitsize(id, (unsigned)c.N())),
    SETTER("reserve", setLoggerReserveTime(id, c.N())), SETTER("outfile", setLoggerOutFile(id, c.N())),
    SETTER("enable", enableLogger(id, c.N())), SETTER("monthdir", setLoggerMonthdir(id, c.N())),
    SETTER("info", getLoggerInfo(id) != nullptr), SETTER("enabled", isLoggerEnable(id)),
    OP("hot", int id = (int)c.N(), code = (int)c.N(), value = (int)c.N();
       return c.Entry(id, c.m->hotChange(id, tslog::LogDataType(code), value, c.T()));),
    OP("on-hot", int id = (int)c.N(); return B(c.m->onHotChange(id, tslog::Level, 1, ""));),
    OP("create", return std::to_string(c.m->createLogger(Null(c.T())));),
    OP("create-many", for (long i = 0, n = c.N(); i < n; ++i)
                          c.m->createLogger(("logger" + std::to_string(i)).c_str());
                      return "";),
    OP("find", return std::to_string(c.m->findLogger(c.T().c_str()));),
    OP("start", return B(c.m->start());), OP("stop", return B(c.m->stop());),
    OP("autoupdate", return B(c.m->setAutoUpdate((int)c.N()));),
    OP("update", return B(c.m->updateConfig());),
    OP("config", return B(c.m->config(c.W().c_str()));),
    OP("config-text", std::string t = c.T(); return B(c.m->configFromString(Null(t)));),
    OP("prepush", int id = (int)c.N(); return B(c.m->prePushLog(id, (int)c.N()));),
    OP("push", int id = (int)c.N(), level = (int)c.N();
       return B(c.m->pushLog(Record(id, level, c.T()), "f", 1));),
    // The levels -1, 0, 1, 2, 3, 6 and 7 pushed: '+' taken, '.' refused.
    OP("admits", std::string taken; int id = (int)c.N();
       for (int level : {-1, 0, 1, 2, 3, 6, 7})
           taken += c.m->pushLog(Record(id, level, "x"), "f", 1) ? '+' : '.';
       return taken;),
    OP("push-from", int line = (int)c.N(); std::string file = c.T();
       return B(c.m->pushLog(Record(0, 1, "msg"), Null(file), line));),
    // A record whose content is filled up to the given length.
    OP("push-length", const int32_t length = (int32_t)c.N(); LogData *r = c.m->makeLogData(0, 1);
       memset(r->content + r->contentLength, 'm', (size_t)(length - r->contentLength));
       r->contentLength = length; return B(c.m->pushLog(r, "a/c.x", 7));),
    // A record of the given time, its prefix alone.
    OP("push-at", LogData *r = Record(0, 1, ""); r->time = c.N();
       r->contentLength = tslog::fillLogPrefix(r); return B(c.m->pushLog(r, "f", 1));),
    OP("prefix", LogData r = {}; r.time = c.N(); r.milliseconds = (uint32_t)c.N();
       r.threadId = (uint32_t)c.N(); r.level = (int)c.N();
       return "[" + std::string(r.content, (size_t)tslog::fillLogPrefix(&r)) + "]";),
    OP("printf", int level = (int)c.N();
       tslog::LogPrintf(level, "rastovortspl", c.line, "%s", c.T().c_str()); return "";),
    OP("printf-wide", tslog::LogPrintf((int)c.N(), "rastovortspl", c.line, "%ls", L"\u00e9\u00e9"); return "";),
    // The line written to a file with room for 10 more bytes.
    OP("short-write", const std::string f = c.W(); const size_t size = rvt::ReadFile(f).size();
       rlimit saved, tight; getrlimit(RLIMIT_FSIZE, &saved); tight = saved; tight.rlim_cur = size + 10;
       signal(SIGXFSZ, SIG_IGN); setrlimit(RLIMIT_FSIZE, &tight);
       tslog::LogPrintf(1, "rastovortspl", c.line, "%s", c.T().c_str()); setrlimit(RLIMIT_FSIZE, &saved);
       return std::to_string(rvt::ReadFile(f).size() - size) + " bytes written, file open " +
              B(c.m->getLoggerInfo(0)->file.isOpen());),
    // The line logged with the pool empty and no memory to be had.
    OP("no-memory", const std::string f = c.W(), before = rvt::ReadFile(f); std::vector<LogData *> held;
       while (c.m->getPoolSize() > 0) held.push_back(c.m->makeLogData(0, 1));
       tslog::LogerManager::recordAllocator = [](size_t) -> void * { return nullptr; };
       LogData *r = c.m->makeLogData(0, 1); const bool taken = r && c.m->pushLog(r, "f", 1);
       tslog::LogPrintf(1, "rastovortspl", c.line, "%s", c.T().c_str());
       tslog::LogerManager::recordAllocator = &malloc; for (LogData *h : held) c.m->freeLogData(h);
       return "record " + B(r) + ", taken " + B(taken) + ", file unchanged " + B(rvt::ReadFile(f) == before);),
    // Records taken and all returned: the pool keeps what its limit allows.
    OP("take-return", std::vector<LogData *> held((size_t)c.N());
       for (LogData *&r : held) r = c.m->makeLogData(0, 1);
       for (LogData *r : held) c.m->freeLogData(r);
       c.m->freeLogData(nullptr); return "pool " + std::to_string(c.m->getPoolSize());),
    // A configuration line trimmed, and parsed as a setting of section [s].
    OP("parse", std::string line = c.T(), trimmed = line, section;
       std::map<std::string, LoggerInfo> entries; tslog::trimLogConfig(trimmed, "[]");
       tslog::parseConfigLine("[s]", section, entries); tslog::parseConfigLine(line, section, entries);
       return "trimmed '" + rvt::Escape(trimmed) + "': " + Dump(entries["s"]);),
    OP("parse-into", tslog::parseConfigLine(c.T(), g_section, g_entries); return "";),
    OP("sections", std::string all;
       for (const auto &e : g_entries) all += "\n  " + Dump(e.second);
       return all;),
    OP("written", return std::to_string(c.m->getStatusTotalWriteCount()) + " lines";),
    OP("bytes-of", return B(c.m->getStatusTotalWriteBytes() == rvt::ReadFile(c.W()).size());),
    OP("file", return "\n" + Stable(rvt::ReadFile(c.W()), c.dir.path()) + "---";),
    OP("holds", std::string f = rvt::ReadFile(c.W()); return B(f.find(c.T()) != std::string::npos);),
    OP("ends", std::string f = rvt::ReadFile(c.W()), t = c.T();
       return B(f.size() >= t.size() && f.compare(f.size() - t.size(), t.size(), t) == 0);),
    OP("size", std::ifstream f(c.W(), std::ios::ate | std::ios::binary); return std::to_string(f ? (long)f.tellg() : -1L);),
    OP("write", std::string f = c.W(); rvt::WriteFile(f, c.T()); return "";),
    OP("remove", return B(std::remove(c.W().c_str()) == 0);),
    OP("symlink", std::string target = c.W(); return B(symlink(target.c_str(), c.W().c_str()) == 0);),
    OP("sleep", usleep((useconds_t)c.N() * 1000); return "";),
    // Waits up to three seconds for the writer thread to reach the level.
    OP("wait-level", int id = (int)c.N(), level = (int)c.N();
       for (int i = 0; i < 60 && c.m->getLoggerInfo(id)->level != level; ++i) usleep(50 * 1000);
       return std::to_string(c.m->getLoggerInfo(id)->level);),
};
#undef SETTER
#undef OP
// clang-format on

std::vector<std::string> Scenarios() {
    std::vector<std::string> names;
    for (const std::string &line : rvt::CaseLines("log-scenarios.txt"))
        if (line.rfind("=== ", 0) == 0)
            names.push_back(line.substr(4));
    return names;
}

class LogScenario : public testing::TestWithParam<std::string> {};

TEST_P(LogScenario, AsTheGoldenFileShows) {
    rvt::TempDir dir;
    std::string text;
    bool mine = false;
    int number = 0; // of the call in its scenario
    for (const std::string &line : rvt::CaseLines("log-scenarios.txt")) {
        if (line.rfind("=== ", 0) == 0)
            mine = line.substr(4) == GetParam(), number = 0;
        if (!mine || ++number == 1)
            continue;
        Call c{std::istringstream(line), dir, number};
        std::string op;
        c.in >> op;
        ASSERT_TRUE(kOps.count(op)) << line;
        text += line + " -> " + kOps.at(op)(c) + "\n";
    }
    for (size_t at; (at = text.find(dir.path())) != std::string::npos;)
        text.replace(at, dir.path().size(), "<dir>");
    rvt::ExpectGolden("log-" + GetParam() + ".txt", text);
}

INSTANTIATE_TEST_SUITE_P(Log, LogScenario, testing::ValuesIn(Scenarios()),
                         [](const auto &info) { return info.param; });

TEST(Log, ThreadsShareThePoolAndTheFile) {
    rvt::TempDir dir;
    tslog::LogerManager *m = M();
    ASSERT_TRUE(m->setLoggerPath(0, dir.path().c_str()) && m->start());
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
    // Whole lines from two writers at once.
    auto writer = [](char mark) {
        for (int i = 0; i < 20; ++i)
            tslog::LogPrintf(tslog::LOG_DEBUG, "worker", i, "%s", std::string(3000, mark).c_str());
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    const std::string log = rvt::ReadFile(dir / "Main.log");
    EXPECT_EQ(rvt::RegexCount(log, R"(\S+ \S+ \[\d+\] LOG_DEBUG (a{3000}|b{3000}) worker:\d+\r\n)"),
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
}

} // namespace
