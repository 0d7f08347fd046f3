#include "LogerManager.h"

#include <cstring>

namespace tslog {

namespace {

std::string lowerCase(std::string text) {
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Decimal with optional leading blanks and sign, stopping at the first other
// character; wraps rather than overflows, the caller keeps the low 32 bits.
uint64_t readNumber(const std::string &text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                               text[i] == '\r' || text[i] == '\v' || text[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    return negative ? 0 - value : value;
}

bool readBool(const std::string &value) {
    return !(value == "false" || value == "0");
}

// A "[key]" line: it starts the section of that logger, made with its
// defaults the first time it is named.
void openSection(std::string key, std::string &sectionKey,
                 std::map<std::string, LoggerInfo> &entries) {
    trimLogConfig(key, "[]");
    if (lowerCase(key) == "main")
        key = "Main";
    sectionKey = key;
    if (entries.find(key) == entries.end()) {
        LoggerInfo &entry = entries[key];
        entry.key = key;
        entry.name = key;
        entry.enable = true;
    }
}

// An unknown level word leaves the level as it was.
void readLevel(const std::string &value, LoggerInfo &entry) {
    static const struct {
        const char *word;
        int level;
    } words[] = {{"trace", LOG_TRACE}, {"all", LOG_TRACE},   {"debug", LOG_DEBUG},
                 {"info", LOG_INFO},   {"warn", LOG_WARN},   {"warning", LOG_WARN},
                 {"error", LOG_ERROR}, {"alarm", LOG_ALARM}, {"fatal", LOG_FATAL}};
    for (const auto &w : words)
        if (value == w.word)
            entry.level = w.level;
}

// One "key=value" setting of a section, the key in lower case. Paths and
// names keep their case; every other value is read in lower case. False for
// an unknown key.
bool applySetting(const std::string &key, std::string value, LoggerInfo &entry) {
    if (key == "path") {
        entry.path = value;
        return true;
    }
    if (key == "name") {
        entry.name = value;
        return true;
    }
    value = lowerCase(value);
    if (key == "level") {
        readLevel(value, entry);
    } else if (key == "display") {
        entry.display = readBool(value);
    } else if (key == "outfile") {
        entry.outfile = readBool(value);
    } else if (key == "monthdir") {
        entry.monthdir = readBool(value);
    } else if (key == "fileline") {
        entry.fileline = readBool(value);
    } else if (key == "enable") {
        entry.enable = readBool(value);
    } else if (key == "limitsize") {
        entry.limitsize = static_cast<uint32_t>(readNumber(value));
    } else if (key == "reserve") {
        entry.reserve = static_cast<int32_t>(static_cast<uint32_t>(readNumber(value)));
    } else {
        return false;
    }
    return true;
}

} // namespace

void trimLogConfig(std::string &text, std::string extra) {
    if (text.empty())
        return;
    std::string strip = extra + "\r\n\t ";
    size_t begin = 0;
    if (text.size() > 2 && static_cast<unsigned char>(text[0]) == 0xEF &&
        static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF)
        begin = 3;
    begin = text.find_first_not_of(strip, begin);
    if (begin == std::string::npos) {
        text.clear();
        return;
    }
    size_t end = text.find_last_not_of(strip);
    text = text.substr(begin, end - begin + 1);
}

bool parseConfigLine(const std::string &line, std::string &sectionKey,
                     std::map<std::string, LoggerInfo> &entries) {
    size_t eq = line.find('=');
    std::string key = eq == std::string::npos ? line : line.substr(0, eq);
    std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    if (key.empty())
        return false;
    trimLogConfig(key, "");
    trimLogConfig(value, "");
    if (key.empty() || key[0] == '#')
        return false;
    if (key[0] == '[') {
        openSection(key, sectionKey, entries);
        return true;
    }
    auto found = entries.find(sectionKey);
    if (found == entries.end())
        return false;
    return applySetting(lowerCase(key), value, found->second);
}

bool LogerManager::hotChange(int id, LogDataType code, int value, const std::string &text) {
    if (!validId(id) || text.size() >= static_cast<size_t>(LOG_CONTENT_SIZE))
        return false;
    return onHotChange(id, code, value, text);
}

bool LogerManager::onHotChange(int id, LogDataType code, int value, const std::string &text) {
    if (!validId(id))
        return false;
    LoggerInfo &info = loggers[id];
    switch (code) {
    case Enable:
        info.enable = value != 0;
        break;
    case Name:
    case Path:
        // A logging thread may be formatting the file name right now.
        writeLock.lock();
        (code == Name ? info.name : info.path) = text;
        writeLock.unLock();
        break;
    case Level:
        info.level = value;
        break;
    case FileLine:
        info.fileline = value != 0;
        break;
    case Display:
        info.display = value != 0;
        break;
    case OutFile:
        info.outfile = value != 0;
        break;
    case LimitSize:
        info.limitsize = static_cast<uint32_t>(value);
        break;
    case MonthDir:
        info.monthdir = value != 0;
        break;
    case Reserve:
        info.reserve = value > 0 ? value : 0;
        break;
    default:
        break;
    }
    return true;
}

bool LogerManager::enableLogger(int id, bool enable) {
    return hotChange(id, Enable, enable, "");
}

bool LogerManager::setLoggerName(int id, const char *name) {
    if (!validId(id) || name == nullptr || name[0] == '\0')
        return false;
    // Directory, month folder, name and ".log" must fit one path buffer.
    size_t room = LOG_PATH_BUFFER - 1 - LOG_MONTHDIR_ROOM - LOG_SUFFIX_ROOM;
    if (strlen(name) + loggers[id].path.size() > room)
        return false;
    return hotChange(id, Name, 0, name);
}

bool LogerManager::setLoggerPath(int id, const char *path) {
    if (!validId(id) || path == nullptr || path[0] == '\0')
        return false;
    std::string text = path;
    if (text.back() != '/' && text.back() != '\\')
        text += '/';
    size_t room = LOG_PATH_BUFFER - 1 - LOG_MONTHDIR_ROOM - LOG_SUFFIX_ROOM;
    if (text.size() + loggers[id].name.size() > room)
        return false;
    return hotChange(id, Path, 0, text);
}

bool LogerManager::setLoggerLevel(int id, int level) {
    return hotChange(id, Level, level, "");
}

bool LogerManager::setLoggerFileLine(int id, bool enable) {
    return hotChange(id, FileLine, enable, "");
}

bool LogerManager::setLoggerDisplay(int id, bool enable) {
    return hotChange(id, Display, enable, "");
}

bool LogerManager::setLoggerOutFile(int id, bool enable) {
    return hotChange(id, OutFile, enable, "");
}

bool LogerManager::setLoggerLimitsize(int id, unsigned int limitsize) {
    if (limitsize == 0)
        limitsize = 4294967295u;
    return hotChange(id, LimitSize, static_cast<int>(limitsize), "");
}

bool LogerManager::setLoggerMonthdir(int id, bool enable) {
    return hotChange(id, MonthDir, enable, "");
}

bool LogerManager::setLoggerReserveTime(int id, long seconds) {
    int32_t low = static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(seconds)));
    return hotChange(id, Reserve, low < 0 ? 0 : low, "");
}

bool LogerManager::setAutoUpdate(int interval) {
    autoUpdateInterval = interval;
    return true;
}

int LogerManager::createLogger(const char *key) {
    if (key == nullptr)
        return -1;
    std::string text = key;
    trimLogConfig(text, "");
    auto found = loggerIds.find(text);
    if (found != loggerIds.end() && found->second != -1)
        return found->second;
    if (lastId >= LOG_MAX_LOGGERS - 1)
        return -1;
    int id = lastId + 1;
    LoggerInfo &info = loggers[id];
    info.enable = true;
    info.key = text;
    info.name = text;
    loggerIds[text] = id;
    lastId = id;
    return id;
}

int LogerManager::findLogger(const char *key) {
    if (key == nullptr)
        return -1;
    auto found = loggerIds.find(key);
    return found == loggerIds.end() ? -1 : found->second;
}

bool LogerManager::applyConfig(const std::string &text, bool onlyUpdate) {
    uint32_t sum = 0;
    for (char c : text)
        sum += static_cast<unsigned char>(c);
    if (sum == configChecksum)
        return true;
    configChecksum = sum;

    std::map<std::string, LoggerInfo> entries;
    std::string section;
    size_t begin = 0;
    for (;;) {
        size_t end = text.find_first_of("\r\n", begin);
        std::string line =
            text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        parseConfigLine(line, section, entries);
        if (end == std::string::npos)
            break;
        begin = end + 1;
    }

    for (const auto &item : entries) {
        const LoggerInfo &entry = item.second;
        int id = findLogger(item.first.c_str());
        if (id < 0) {
            if (onlyUpdate)
                continue;
            id = createLogger(item.first.c_str());
            if (id < 0)
                continue;
        }
        enableLogger(id, entry.enable);
        setLoggerName(id, entry.name.c_str());
        setLoggerPath(id, entry.path.c_str());
        setLoggerLevel(id, entry.level);
        setLoggerFileLine(id, entry.fileline);
        setLoggerDisplay(id, entry.display);
        setLoggerOutFile(id, entry.outfile);
        setLoggerLimitsize(id, entry.limitsize);
        setLoggerMonthdir(id, entry.monthdir);
        setLoggerReserveTime(id, static_cast<long>(entry.reserve));
    }
    return true;
}

bool LogerManager::config(const char *configPath) {
    if (!configFile.empty() || configPath == nullptr)
        return false;
    configFile = configPath;
    LogFileHandler handler;
    handler.file = fopen(configPath, "rb");
    if (handler.file == nullptr)
        return false;
    std::string text = handler.readContent();
    applyConfig(text.substr(0, text.find('\0')), false);
    handler.close();
    return true;
}

bool LogerManager::configFromString(const char *configText) {
    if (configText == nullptr)
        return false;
    return applyConfig(configText, false);
}

bool LogerManager::updateConfig() {
    if (configFile.empty())
        return false;
    LogFileHandler handler;
    handler.file = fopen(configFile.c_str(), "rb");
    if (handler.file == nullptr)
        return false;
    std::string text = handler.readContent();
    applyConfig(text.substr(0, text.find('\0')), true);
    handler.close();
    return true;
}

} // namespace tslog
