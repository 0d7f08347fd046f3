#include "fuzz/FuzzSupport.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
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

std::string PpdDir() {
    const char *env = getenv("RVC_FUZZ_PPD_DIR");
    return env != nullptr && *env != '\0' ? env : RVC_FUZZ_DEFAULT_PPD_DIR;
}

} // namespace rvcfuzz
