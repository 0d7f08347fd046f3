// Logger settings: setters, logger creation and the configuration text.
#include "LogTestSupport.h"

#include <cstring>
#include <functional>

using namespace logtest;
using tslog::LoggerInfo;

TEST(LogConfigTrim, Table) {
    struct Case {
        std::string text;
        std::string extra;
        std::string expected;
    } cases[] = {
        {"", "", ""},
        {"  key \t\r\n", "", "key"},
        {"a b  c", "", "a b  c"},
        {" \t\r\n ", "", ""},
        {"\xEF\xBB\xBF  level", "", "level"},
        {"\xEF\xBB\xBF", "", ""},
        {"\xEF\xBB", "", "\xEF\xBB"},
        {"x\xEF\xBB\xBF", "", "x\xEF\xBB\xBF"},
        {"[ Main ]", "[]", "Main"},
        {"[[a]b]]", "[]", "a]b"},
        {"[a", "", "[a"},
    };
    for (const Case &c : cases) {
        std::string text = c.text;
        tslog::trimLogConfig(text, c.extra);
        EXPECT_EQ(text, c.expected) << "'" << c.text << "'";
    }
}

TEST(LogConfigParse, SettingLines) {
    using Check = std::function<bool(const LoggerInfo &)>;
    struct Case {
        std::string line;
        Check check;
    } cases[] = {
        {"level=trace", [](const LoggerInfo &e) { return e.level == 0; }},
        {"Level=Info", [](const LoggerInfo &e) { return e.level == 2; }},
        {"level=warning", [](const LoggerInfo &e) { return e.level == 3; }},
        {"level=FATAL", [](const LoggerInfo &e) { return e.level == 6; }},
        {"level=loud", [](const LoggerInfo &e) { return e.level == 1; }},
        {"level=3", [](const LoggerInfo &e) { return e.level == 1; }},
        {"fileline=false", [](const LoggerInfo &e) { return !e.fileline; }},
        {"fileline=0", [](const LoggerInfo &e) { return !e.fileline; }},
        {"display=off", [](const LoggerInfo &e) { return e.display; }},
        {"outfile=0", [](const LoggerInfo &e) { return !e.outfile; }},
        {"monthdir=", [](const LoggerInfo &e) { return e.monthdir; }},
        {"monthdir", [](const LoggerInfo &e) { return e.monthdir; }},
        {"enable=false", [](const LoggerInfo &e) { return !e.enable; }},
        {"limitsize= +42MB", [](const LoggerInfo &e) { return e.limitsize == 42; }},
        {"limitsize=-1", [](const LoggerInfo &e) { return e.limitsize == 4294967295u; }},
        {"limitsize=abc", [](const LoggerInfo &e) { return e.limitsize == 0; }},
        {"limitsize=4294967296", [](const LoggerInfo &e) { return e.limitsize == 0; }},
        {"reserve=-5", [](const LoggerInfo &e) { return e.reserve == -5; }},
        {"reserve=4294967297", [](const LoggerInfo &e) { return e.reserve == 1; }},
        {"reserve=2147483648", [](const LoggerInfo &e) { return e.reserve == -2147483647 - 1; }},
        {"path=/Var/Log", [](const LoggerInfo &e) { return e.path == "/Var/Log"; }},
        {"name = My Log ", [](const LoggerInfo &e) { return e.name == "My Log"; }},
        {"name=a=b", [](const LoggerInfo &e) { return e.name == "a=b"; }},
        {"#level=error", [](const LoggerInfo &e) { return e.level == 1; }},
        {" # level=error", [](const LoggerInfo &e) { return e.level == 1; }},
        {"=error", [](const LoggerInfo &e) { return e.level == 1; }},
        {"colour=red", [](const LoggerInfo &e) { return e.level == 1 && e.enable; }},
    };
    for (const Case &c : cases) {
        std::map<std::string, LoggerInfo> entries;
        std::string section;
        tslog::parseConfigLine("[s]", section, entries);
        tslog::parseConfigLine(c.line, section, entries);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_TRUE(c.check(entries["s"])) << c.line;
    }
}

TEST(LogConfigParse, SectionsAndDefaults) {
    std::map<std::string, LoggerInfo> entries;
    std::string section;
    tslog::parseConfigLine("level=error", section, entries); // no section yet
    EXPECT_TRUE(entries.empty());
    tslog::parseConfigLine("[MAIN]", section, entries);
    EXPECT_EQ(section, "Main");
    tslog::parseConfigLine("level=error", section, entries);
    tslog::parseConfigLine("  [ Other ]  ", section, entries);
    EXPECT_EQ(section, "Other");
    tslog::parseConfigLine("[main]", section, entries);
    tslog::parseConfigLine("fileline=false", section, entries); // same entry again
    ASSERT_EQ(entries.size(), 2u);
    const LoggerInfo &main = entries["Main"];
    EXPECT_EQ(main.level, 4);
    EXPECT_FALSE(main.fileline);
    const LoggerInfo &other = entries["Other"];
    EXPECT_EQ(other.key, "Other");
    EXPECT_EQ(other.name, "Other");
    EXPECT_EQ(other.path, "./log/");
    EXPECT_EQ(other.level, 1);
    EXPECT_TRUE(other.enable && other.display && other.outfile && other.fileline);
    EXPECT_FALSE(other.monthdir);
    EXPECT_EQ(other.limitsize, 100u);
    EXPECT_EQ(other.reserve, 0);
}

TEST(LogConfigApply, SectionResetsUnnamedSettings) {
    tslog::LogerManager *m = manager();
    ASSERT_TRUE(m->setLoggerPath(0, "/tmp"));
    ASSERT_TRUE(m->setLoggerName(0, "vortspl"));
    ASSERT_TRUE(m->configFromString("[main]\nlevel=info\r\nfileline=false\n#path=/var"));
    const LoggerInfo *main = m->getLoggerInfo(0);
    EXPECT_EQ(main->key, "Main");
    EXPECT_EQ(main->level, 2);
    EXPECT_FALSE(main->fileline);
    EXPECT_EQ(main->name, "Main");
    EXPECT_EQ(main->path, "./log/");
    EXPECT_EQ(m->findLogger("Main"), 0);
}

TEST(LogConfigApply, SameTextTwiceAndEmptyText) {
    tslog::LogerManager *m = manager();
    const char *text = "[Main]\nlevel=error\n";
    ASSERT_TRUE(m->configFromString(text));
    uint32_t sum = 0;
    for (const char *p = text; *p; ++p)
        sum += static_cast<unsigned char>(*p);
    EXPECT_EQ(m->getConfigChecksum(), sum);
    ASSERT_TRUE(m->setLoggerLevel(0, 3));
    EXPECT_TRUE(m->configFromString(text));
    EXPECT_EQ(m->getLoggerInfo(0)->level, 3);
    // A different text with the same byte sum is taken for the same one.
    EXPECT_TRUE(m->configFromString("[Main]\nlevel=erorr\n"));
    EXPECT_EQ(m->getLoggerInfo(0)->level, 3);
    EXPECT_FALSE(m->configFromString(nullptr));
}

TEST(LogConfigApply, EmptyTextIsNeverApplied) {
    tslog::LogerManager *m = manager();
    ASSERT_TRUE(m->setLoggerLevel(0, 5));
    EXPECT_TRUE(m->configFromString(""));
    EXPECT_EQ(m->getConfigChecksum(), 0u);
    EXPECT_EQ(m->getLoggerInfo(0)->level, 5);
}

TEST(LogConfigApply, NewSectionCreatesALogger) {
    TempDir dir;
    tslog::LogerManager *m = manager();
    ASSERT_TRUE(m->setLoggerPath(0, dir.path.c_str()));
    std::string text = "\xEF\xBB\xBF[Main]\npath=" + dir.path + "\n[Main2]\npath=" + dir.path +
                       "/sub\nlevel=warn\n[empty name]\nname=\n";
    ASSERT_TRUE(m->configFromString(text.c_str()));
    int id = m->findLogger("Main2");
    ASSERT_EQ(id, 1); // sections are taken in byte order: "Main2" before "empty name"
    EXPECT_EQ(m->findLogger("empty name"), 2);
    EXPECT_EQ(m->getLoggerInfo(2)->name, "empty name");
    EXPECT_EQ(m->getLoggerInfo(id)->level, 3);
    EXPECT_EQ(m->getLoggerInfo(id)->path, dir.path + "/sub/");
    ASSERT_TRUE(m->start());
    tslog::LogData *record = m->makeLogData(id, tslog::LOG_ERROR);
    EXPECT_TRUE(m->pushLog(record, "f", 1));
    EXPECT_EQ(readLines(dir.path + "/sub/Main2.log").size(), 1u);
}

TEST(LogConfigFile, ConfigOnceAndUpdateOnlyKnownLoggers) {
    TempDir dir;
    tslog::LogerManager *m = manager();
    std::string file = dir.path + "/log.ini";
    EXPECT_FALSE(m->updateConfig()); // no file taken yet
    std::ofstream(file) << "[Main]\nlevel=warn\n[First]\nlevel=error\n";
    ASSERT_TRUE(m->config(file.c_str()));
    EXPECT_EQ(m->getLoggerInfo(0)->level, 3);
    EXPECT_EQ(m->findLogger("First"), 1);
    std::string other = dir.path + "/other.ini";
    std::ofstream(other) << "[Main]\nlevel=fatal\n";
    EXPECT_FALSE(m->config(other.c_str()));
    EXPECT_EQ(m->getLoggerInfo(0)->level, 3);
    std::ofstream(file) << "[Main]\nlevel=info\n[First]\nlevel=alarm\n[Later]\nlevel=info\n";
    EXPECT_TRUE(m->updateConfig());
    EXPECT_EQ(m->getLoggerInfo(0)->level, 2);
    EXPECT_EQ(m->getLoggerInfo(1)->level, 5);
    EXPECT_EQ(m->findLogger("Later"), -1);
    std::remove(file.c_str());
    EXPECT_FALSE(m->updateConfig());
}

TEST(LogConfigFile, MissingFileKeepsThePath) {
    tslog::LogerManager *m = manager();
    EXPECT_FALSE(m->config("/nonexistent/dir/log.ini"));
    EXPECT_FALSE(m->config("/nonexistent/dir/other.ini"));
    EXPECT_FALSE(m->updateConfig());
}

TEST(LogConfigFile, WriterThreadRereadsTheFile) {
    TempDir dir;
    tslog::LogerManager *m = manager();
    std::string file = dir.path + "/log.ini";
    std::ofstream(file) << "[Main]\npath=" << dir.path << "\nlevel=warn\n";
    ASSERT_TRUE(m->config(file.c_str()));
    ASSERT_TRUE(m->setAutoUpdate(1));
    ASSERT_TRUE(m->start());
    std::ofstream(file) << "[Main]\npath=" << dir.path << "\nlevel=error\n";
    for (int i = 0; i < 60 && m->getLoggerInfo(0)->level != 4; ++i)
        usleep(50 * 1000);
    EXPECT_EQ(m->getLoggerInfo(0)->level, 4);
}

TEST(LogSetters, Table) {
    tslog::LogerManager *m = manager();
    int id = m->createLogger("t");
    ASSERT_EQ(id, 1);
    const LoggerInfo *info = m->getLoggerInfo(id);
    struct Case {
        const char *what;
        std::function<bool()> call;
        bool result;
        std::function<bool()> stored;
    } cases[] = {
        {"path /tmp", [&] { return m->setLoggerPath(id, "/tmp"); }, true,
         [&] { return info->path == "/tmp/"; }},
        {"path ends with backslash", [&] { return m->setLoggerPath(id, "c:\\logs\\"); }, true,
         [&] { return info->path == "c:\\logs\\"; }},
        {"path empty", [&] { return m->setLoggerPath(id, ""); }, false,
         [&] { return info->path == "c:\\logs\\"; }},
        {"name", [&] { return m->setLoggerName(id, "job"); }, true,
         [&] { return info->name == "job"; }},
        {"name empty", [&] { return m->setLoggerName(id, ""); }, false,
         [&] { return info->name == "job"; }},
        {"level 9", [&] { return m->setLoggerLevel(id, 9); }, true,
         [&] { return info->level == 9; }},
        {"limitsize 0", [&] { return m->setLoggerLimitsize(id, 0); }, true,
         [&] { return info->limitsize == 4294967295u; }},
        {"reserve -5", [&] { return m->setLoggerReserveTime(id, -5); }, true,
         [&] { return info->reserve == 0; }},
        {"reserve low 32 bits", [&] { return m->setLoggerReserveTime(id, 4294967296L + 9); }, true,
         [&] { return info->reserve == 9; }},
        {"reserve negative low bits", [&] { return m->setLoggerReserveTime(id, 2147483648L); },
         true, [&] { return info->reserve == 0; }},
        {"fileline", [&] { return m->setLoggerFileLine(id, false); }, true,
         [&] { return !info->fileline; }},
        {"display", [&] { return m->setLoggerDisplay(id, false); }, true,
         [&] { return !info->display; }},
        {"outfile", [&] { return m->setLoggerOutFile(id, false); }, true,
         [&] { return !info->outfile; }},
        {"monthdir", [&] { return m->setLoggerMonthdir(id, true); }, true,
         [&] { return info->monthdir; }},
        {"enable", [&] { return m->enableLogger(id, false); }, true,
         [&] { return !m->isLoggerEnable(id); }},
        {"hotChange text too long",
         [&] { return m->hotChange(id, tslog::Name, 0, std::string(8192, 'n')); }, false,
         [&] { return info->name == "job"; }},
        {"hotChange unknown code", [&] { return m->hotChange(id, tslog::LogDataType(42), 1, ""); },
         true, [&] { return info->name == "job"; }},
        {"hotChange reserve", [&] { return m->hotChange(id, tslog::Reserve, -7, ""); }, true,
         [&] { return info->reserve == 0; }},
        {"hotChange limitsize", [&] { return m->hotChange(id, tslog::LimitSize, -1, ""); }, true,
         [&] { return info->limitsize == 4294967295u; }},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.call(), c.result) << c.what;
        EXPECT_TRUE(c.stored()) << c.what;
    }
}

TEST(LogSetters, InvalidIdsAreRefused) {
    tslog::LogerManager *m = manager();
    for (int id : {-1, 1, 20, 1000}) {
        EXPECT_FALSE(m->enableLogger(id, true)) << id;
        EXPECT_FALSE(m->setLoggerName(id, "n")) << id;
        EXPECT_FALSE(m->setLoggerPath(id, "/tmp")) << id;
        EXPECT_FALSE(m->setLoggerLevel(id, 1)) << id;
        EXPECT_FALSE(m->setLoggerFileLine(id, true)) << id;
        EXPECT_FALSE(m->setLoggerDisplay(id, true)) << id;
        EXPECT_FALSE(m->setLoggerOutFile(id, true)) << id;
        EXPECT_FALSE(m->setLoggerLimitsize(id, 1)) << id;
        EXPECT_FALSE(m->setLoggerMonthdir(id, true)) << id;
        EXPECT_FALSE(m->setLoggerReserveTime(id, 1)) << id;
        EXPECT_FALSE(m->hotChange(id, tslog::Level, 1, "")) << id;
        EXPECT_FALSE(m->onHotChange(id, tslog::Level, 1, "")) << id;
        EXPECT_FALSE(m->isLoggerEnable(id)) << id;
        EXPECT_EQ(m->getLoggerInfo(id), nullptr) << id;
    }
}

TEST(LogSetters, PathsThatCannotBeFormattedAreRefused) {
    tslog::LogerManager *m = manager();
    // Directory + "YYYY_MM/" + name + ".log" must fit 499 bytes.
    std::string path(400, 'p');
    ASSERT_TRUE(m->setLoggerName(0, "n"));
    EXPECT_FALSE(m->setLoggerPath(0, (std::string(486, 'p') + "/").c_str()));
    EXPECT_TRUE(m->setLoggerPath(0, (std::string(485, 'p') + "/").c_str()));
    EXPECT_FALSE(m->setLoggerName(0, "nn"));
    ASSERT_TRUE(m->setLoggerPath(0, "/tmp/"));
    EXPECT_TRUE(m->setLoggerName(0, std::string(482, 'n').c_str()));
    EXPECT_FALSE(m->setLoggerName(0, std::string(483, 'n').c_str()));
    EXPECT_EQ(m->getLoggerInfo(0)->name, std::string(482, 'n'));
}

TEST(LogLoggers, CreateAndFind) {
    tslog::LogerManager *m = manager();
    EXPECT_EQ(m->createLogger(nullptr), -1);
    EXPECT_EQ(m->createLogger("Main"), 0);
    EXPECT_EQ(m->createLogger("  Main\t"), 0);
    EXPECT_EQ(m->getLoggerInfo(0)->name, "Main");
    ASSERT_TRUE(m->enableLogger(0, false));
    EXPECT_EQ(m->createLogger("Main"), 0);
    EXPECT_FALSE(m->isLoggerEnable(0)); // an existing logger is left alone
    int first = m->createLogger(" first ");
    EXPECT_EQ(first, 1);
    EXPECT_EQ(m->getLoggerInfo(first)->key, "first");
    EXPECT_EQ(m->getLoggerInfo(first)->name, "first");
    EXPECT_EQ(m->getLoggerInfo(first)->path, "./log/");
    EXPECT_TRUE(m->isLoggerEnable(first));
    EXPECT_EQ(m->createLogger("first"), 1);
    for (int i = 2; i < 20; ++i)
        EXPECT_EQ(m->createLogger(("logger" + std::to_string(i)).c_str()), i);
    EXPECT_EQ(m->createLogger("twentyfirst"), -1);
    EXPECT_EQ(m->findLogger("twentyfirst"), -1);
    EXPECT_EQ(m->createLogger("logger7"), 7);
    EXPECT_EQ(m->findLogger("first"), 1);
    EXPECT_EQ(m->findLogger(" first "), -1); // lookup is exact
    EXPECT_EQ(m->findLogger(nullptr), -1);
    EXPECT_EQ(m->findLogger("main"), -1);
}
