// Helpers for the settings tests: small PPD files written on the fly and
// opened with libcups, option marking as the filter does it, and the trace
// lines read back from a log file of the test's own.
#ifndef RVC_TESTS_SETTINGS_SUPPORT_H
#define RVC_TESTS_SETTINGS_SUPPORT_H

#include <cups/cups.h>
#include <cups/ppd.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "log/ILogManager.h"

namespace rvc_test {

struct FixtureOption {
    std::string keyword;
    std::string defchoice;
    std::vector<std::pair<std::string, std::string>> choices; // name, code
};

// An option whose default choice carries the given code, next to another
// choice, so that reading the wrong choice shows.
inline FixtureOption OptionWithCode(const std::string &keyword, const std::string &code)
{
    return {keyword, "Chosen", {{"Chosen", code}, {"Other", "12345"}}};
}

inline std::string PpdText(const std::vector<FixtureOption> &options)
{
    std::ostringstream out;
    out << "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
           "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n"
           "*PCFileName: \"FIXTURE.PPD\"\n*Manufacturer: \"Test\"\n"
           "*Product: \"(Fixture)\"\n*ModelName: \"Fixture\"\n"
           "*ShortNickName: \"Fixture\"\n*NickName: \"Fixture\"\n";
    for (const FixtureOption &o : options) {
        out << "*OpenUI *" << o.keyword << ": PickOne\n";
        out << "*OrderDependency: 10 AnySetup *" << o.keyword << "\n";
        out << "*Default" << o.keyword << ": " << o.defchoice << "\n";
        for (const auto &c : o.choices)
            out << "*" << o.keyword << " " << c.first << ": \"" << c.second << "\"\n";
        out << "*CloseUI: *" << o.keyword << "\n";
    }
    return out.str();
}

// An open PPD, either written from options or read from a file.
class Ppd {
public:
    explicit Ppd(const std::vector<FixtureOption> &options)
    {
        char name[] = "/tmp/rvc_settings_ppd_XXXXXX";
        int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        std::string text = PpdText(options);
        EXPECT_EQ(write(fd, text.data(), text.size()), (ssize_t)text.size());
        close(fd);
        path_ = name;
        remove_ = true;
        Open();
    }

    explicit Ppd(std::string path) : path_(std::move(path)) { Open(); }

    // A PPD without options.
    Ppd() : Ppd(std::vector<FixtureOption>{}) {}

    ~Ppd()
    {
        if (ppd_ != nullptr)
            ppdClose(ppd_);
        if (remove_)
            unlink(path_.c_str());
    }

    Ppd(const Ppd &) = delete;
    Ppd &operator=(const Ppd &) = delete;

    ppd_file_t *get() const { return ppd_; }

    // The filter's marking: the PPD defaults, then the job's options.
    void Mark(const char *jobOptions)
    {
        ppdMarkDefaults(ppd_);
        cups_option_t *options = nullptr;
        int count = cupsParseOptions(jobOptions, 0, &options);
        if (count > 0 && options != nullptr) {
            cupsMarkOptions(ppd_, count, options);
            cupsFreeOptions(count, options);
        }
    }

private:
    void Open()
    {
        ppd_ = ppdOpenFile(path_.c_str());
        EXPECT_NE(ppd_, nullptr) << "cannot open " << path_;
    }

    std::string path_;
    bool remove_ = false;
    ppd_file_t *ppd_ = nullptr;
};

inline cups_page_header2_t Header(unsigned xdpi, unsigned ydpi)
{
    cups_page_header2_t header = {};
    header.HWResolution[0] = xdpi;
    header.HWResolution[1] = ydpi;
    return header;
}

// The trace lines written by the process's logger while a capture lives,
// each as the text after the level, without CR LF. The logger is started
// once per process, on a log file of its own.
class TraceCapture {
public:
    TraceCapture() : skip_(AllLines().size()) {}

    std::vector<std::string> Lines() const
    {
        std::vector<std::string> all = AllLines();
        return std::vector<std::string>(all.begin() + (long)skip_, all.end());
    }

private:
    static const std::string &LogFile()
    {
        static const std::string file = [] {
            static char dir[] = "/tmp/rvc_settings_log_XXXXXX";
            EXPECT_NE(mkdtemp(dir), nullptr);
            tslog::ILogManager *log = tslog::ILogManager::getInstance();
            log->setLoggerPath(0, (std::string(dir) + "/").c_str());
            log->setLoggerName(0, "trace");
            EXPECT_TRUE(log->start());
            std::atexit([] {
                unlink((std::string(dir) + "/trace.log").c_str());
                rmdir(dir);
            });
            return std::string(dir) + "/trace.log";
        }();
        return file;
    }

    // Debug lines only: the logger's own start-up lines are skipped.
    static std::vector<std::string> AllLines()
    {
        std::ifstream in(LogFile(), std::ios::binary);
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        static const std::regex prefix(
            R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \[\d{4,}\] (LOG_[A-Z]+) )");
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < all.size()) {
            size_t end = all.find("\r\n", start);
            EXPECT_NE(end, std::string::npos) << "line without CR LF";
            if (end == std::string::npos)
                break;
            std::string line = all.substr(start, end - start);
            start = end + 2;
            std::smatch m;
            EXPECT_TRUE(std::regex_search(line, m, prefix)) << line;
            if (m.empty() || m[1] == "LOG_ALARM")
                continue;
            EXPECT_EQ(m[1], "LOG_DEBUG") << line;
            lines.push_back(line.substr(m.length(0)));
        }
        return lines;
    }

    size_t skip_;
};

} // namespace rvc_test

#endif
