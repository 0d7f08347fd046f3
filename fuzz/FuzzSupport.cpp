#include "fuzz/FuzzSupport.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "log/ILogManager.h"

#ifndef RVC_FUZZ_DEFAULT_PPD_DIR
#define RVC_FUZZ_DEFAULT_PPD_DIR "."
#endif

// The job deletes the fixed log path of the filter at its start. Fuzzing runs
// for minutes next to test runs that read that file, so the harness keeps it:
// this definition takes the place of the C library's for the whole program.
extern "C" int remove(const char *path) {
    if (path != nullptr && strcmp(path, "/tmp/vortspl.log") == 0) {
        return 0;
    }
    if (unlink(path) == 0) {
        return 0;
    }
    if (errno == EISDIR || errno == EPERM) {
        return rmdir(path);
    }
    return -1;
}

namespace rvcfuzz {

void DiscardStandardOutput() {
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    fflush(stdout);
    int fd = open("/dev/null", O_WRONLY);
    if (fd >= 0) {
        dup2(fd, 1);
        close(fd);
    }
}

void StartSilentLogger() {
    static bool started = false;
    if (started) {
        return;
    }
    started = true;
    tslog::ILogManager *log = tslog::ILogManager::getInstance();
    log->setLoggerOutFile(0, false);
    log->setLoggerPath(0, "/dev/shm");
    log->setLoggerName(0, "rvc_fuzz");
    log->start();
}

void CaptureStandardOutput() {
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    fflush(stdout);
    int fd = memfd_create("rvc_fuzz_stdout", 0);
    if (fd >= 0) {
        dup2(fd, 1);
        close(fd);
    }
}

std::string TakeCapturedOutput() {
    fflush(stdout);
    clearerr(stdout);
    std::string out;
    off_t end = lseek(1, 0, SEEK_END);
    if (end > 0) {
        out.resize((size_t)end);
        ssize_t got = pread(1, &out[0], out.size(), 0);
        out.resize(got > 0 ? (size_t)got : 0);
    }
    if (ftruncate(1, 0) == 0) {
        lseek(1, 0, SEEK_SET);
    }
    // A fingerprint of every input's job data, for checking that a change
    // of the code leaves every output byte as it was.
    static FILE *fingerprints = nullptr;
    static bool opened = false;
    if (!opened) {
        opened = true;
        const char *path = getenv("RVC_FUZZ_OUTPUT_LOG");
        fingerprints = path != nullptr && *path != '\0' ? fopen(path, "a") : nullptr;
    }
    if (fingerprints != nullptr) {
        uint64_t h = 1469598103934665603ull;
        for (unsigned char c : out) {
            h = (h ^ c) * 1099511628211ull;
        }
        fprintf(fingerprints, "%016llx %zu\n", (unsigned long long)h, out.size());
        fflush(fingerprints);
    }
    return out;
}

namespace {

// Reads a decimal number, optionally negative, at data[pos].
bool ReadNumber(const std::string &data, size_t &pos, long long &value) {
    bool negative = pos < data.size() && data[pos] == '-';
    if (negative) {
        ++pos;
    }
    size_t start = pos;
    value = 0;
    while (pos < data.size() && data[pos] >= '0' && data[pos] <= '9' && pos - start < 12) {
        value = value * 10 + (data[pos] - '0');
        ++pos;
    }
    if (negative) {
        value = -value;
    }
    return pos > start;
}

} // namespace

std::string CheckTsplShape(const std::string &data) {
    size_t pos = 0;
    while (pos < data.size()) {
        if (data.compare(pos, 7, "BITMAP ") == 0) {
            size_t p = pos + 7;
            long long v[5];
            for (int i = 0; i < 5; ++i) {
                if (!ReadNumber(data, p, v[i]) || p >= data.size() || data[p] != ',') {
                    return "malformed BITMAP header at " + std::to_string(pos);
                }
                ++p;
            }
            if (v[2] < 0 || v[3] < 0) {
                return "negative BITMAP size at " + std::to_string(pos);
            }
            unsigned long long payload = (unsigned long long)v[2] * (unsigned long long)v[3];
            if (payload > data.size() - p || data.size() - p - payload < 2 ||
                data.compare(p + payload, 2, "\r\n") != 0) {
                return "BITMAP payload cut short at " + std::to_string(pos);
            }
            pos = p + payload + 2;
            continue;
        }
        size_t end = data.find("\r\n", pos);
        if (end == std::string::npos) {
            return "command without CR LF at " + std::to_string(pos);
        }
        if (end == pos || data[pos] < 'A' || data[pos] > 'Z') {
            return "not a command at " + std::to_string(pos);
        }
        for (size_t i = pos; i < end; ++i) {
            if ((unsigned char)data[i] < 0x20 || (unsigned char)data[i] > 0x7e) {
                return "binary byte in a command at " + std::to_string(i);
            }
        }
        pos = end + 2;
    }
    return std::string();
}

std::string PpdDir() {
    const char *env = getenv("RVC_FUZZ_PPD_DIR");
    return env != nullptr && *env != '\0' ? env : RVC_FUZZ_DEFAULT_PPD_DIR;
}

} // namespace rvcfuzz

void rvcfuzz::AbortOnMalformedOutput() {
    std::string shape = CheckTsplShape(TakeCapturedOutput());
    if (!shape.empty()) {
        fprintf(stderr, "malformed job data: %s\n", shape.c_str());
        abort();
    }
}
