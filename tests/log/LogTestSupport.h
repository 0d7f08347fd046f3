// Shared helpers of the logger tests: a private temporary directory per
// test, file reading, and access to the manager behind the interface.
#ifndef RVC_TESTS_LOG_LOGTESTSUPPORT_H
#define RVC_TESTS_LOG_LOGTESTSUPPORT_H

#include "log/LogerManager.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace logtest {

inline tslog::LogerManager *manager() {
    return static_cast<tslog::LogerManager *>(tslog::ILogManager::getInstance());
}

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/rvc_log_test_XXXXXX";
        const char *made = mkdtemp(pattern);
        path = made != nullptr ? made : "";
    }
    ~TempDir() {
        if (!path.empty())
            std::system(("rm -rf '" + path + "'").c_str());
    }
    std::string path;
};

inline std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline bool fileExists(const std::string &path) {
    return std::ifstream(path).good();
}

// Lines of a log file, each without its CR LF; fails when a line lacks it.
inline std::vector<std::string> readLines(const std::string &path) {
    std::string text = readFile(path);
    std::vector<std::string> lines;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find("\r\n", begin);
        EXPECT_NE(end, std::string::npos) << "unterminated line in " << path;
        if (end == std::string::npos)
            break;
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 2;
    }
    return lines;
}

// The message of a log line: what follows the level text and its blank.
inline std::string messageOf(const std::string &line) {
    size_t tid = line.find("] ");
    if (tid == std::string::npos)
        return "<no prefix>";
    size_t level = line.find(' ', tid + 2);
    return level == std::string::npos ? "<no level>" : line.substr(level + 1);
}

} // namespace logtest

#endif
