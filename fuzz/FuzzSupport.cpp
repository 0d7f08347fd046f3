#include "fuzz/FuzzSupport.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "log/ILogManager.h"
#include "tools/tspl_job.h"

#ifndef RVC_FUZZ_DEFAULT_PPD_DIR
#define RVC_FUZZ_DEFAULT_PPD_DIR "."
#endif

namespace rvcfuzz {

void Start() {
    fflush(stdout);
    int fd = memfd_create("rvc_fuzz_stdout", 0);
    dup2(fd, 1);
    close(fd);
    tslog::ILogManager *log = tslog::ILogManager::getInstance();
    log->setLoggerOutFile(0, false);
    log->setLoggerPath(0, "/dev/shm");
    log->start();
}

std::string PpdDir() {
    const char *env = getenv("RVC_FUZZ_PPD_DIR");
    return env != nullptr && *env != '\0' ? env : RVC_FUZZ_DEFAULT_PPD_DIR;
}

// With RVC_FUZZ_OUTPUT_LOG set, a hash (FNV-1a) and the length of every
// input's job data are appended to that file: replaying the corpora before
// and after a change shows whether it kept every output byte.
static void RecordFingerprint(const std::string &out) {
    static FILE *log = [] {
        const char *path = getenv("RVC_FUZZ_OUTPUT_LOG");
        return path != nullptr && *path != '\0' ? fopen(path, "a") : nullptr;
    }();
    if (log == nullptr)
        return;
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : out)
        h = (h ^ c) * 1099511628211ull;
    fprintf(log, "%016llx %zu\n", (unsigned long long)h, out.size());
    fflush(log);
}

void CheckJobData() {
    fflush(stdout);
    clearerr(stdout);
    std::string out((size_t)lseek(1, 0, SEEK_END), '\0');
    out.resize((size_t)std::max<ssize_t>(0, pread(1, &out[0], out.size(), 0)));
    if (ftruncate(1, 0) == 0)
        lseek(1, 0, SEEK_SET);
    RecordFingerprint(out);
    tsplview::ReadResult r = tsplview::readJob((const uint8_t *)out.data(), out.size());
    // Odd values (a size of 0, a negative count) are the settings' doing;
    // only data that cannot be split into commands is a finding.
    for (const char *fault : {"payload", "CR LF", "carriage return", "line feed", "empty command",
                              "non-text byte", "unexpected"}) {
        if (!r.ok && r.error.find(fault) != std::string::npos) {
            fprintf(stderr, "malformed job data at byte %zu: %s\n", r.errorOffset, r.error.c_str());
            abort();
        }
    }
}

void PrintPage(tagOEMCFG &cfg, _DEVMODE &dm, _OEMPDEV &pdev, std::vector<unsigned char> &page,
               int emissions, uint32_t firstPage) {
    for (int call = 0; call <= emissions; ++call) {
        CTSPLRenderClass r;
        r.SetOemCfgPointer(&cfg);
        r.SetDevModePointer(&dm);
        r.SetOemPdevPointer(&pdev);
        if (call == 0) {
            r.StartDocCMD();
            pdev.bufStart = page.data();
            pdev.dwBufSize = (uint32_t)page.size();
        } else {
            pdev.dwCurPageNum = firstPage + (uint32_t)call - 1;
            if (r.TransCommand(call == emissions) > 1)
                abort();
        }
    }
    CheckJobData();
}

} // namespace rvcfuzz
