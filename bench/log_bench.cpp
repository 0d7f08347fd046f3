// Cost of one trace line through the call-site helper: accepted (open,
// write, two fsyncs, close) and filtered before any formatting.
// The log goes to a fresh directory under $RVC_BENCH_LOG_DIR (default /tmp).
#include "log/ILogManager.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

std::string g_dir;

void startLogger() {
    static bool started = false;
    if (started)
        return;
    started = true;
    const char *base = std::getenv("RVC_BENCH_LOG_DIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/rvc_log_bench_XXXXXX";
    char *made = mkdtemp(pattern.data());
    g_dir = made != nullptr ? made : "/tmp";
    tslog::ILogManager *m = tslog::ILogManager::getInstance();
    m->setLoggerPath(0, g_dir.c_str());
    m->setLoggerName(0, "bench");
    m->start();
}

void BM_AcceptedTraceLine(benchmark::State &state) {
    startLogger();
    int page = 0;
    for (auto _ : state)
        RVC_TRACE("rastovortspl", 178, "Page %d header: width %d height %d", ++page, 1200, 800);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AcceptedTraceLine);

void BM_FilteredTraceLine(benchmark::State &state) {
    startLogger();
    int page = 0;
    for (auto _ : state)
        tslog::LogPrintf(tslog::LOG_TRACE, "rastovortspl", 178, "Page %d header", ++page);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FilteredTraceLine);

void BM_PrePushLogRejected(benchmark::State &state) {
    startLogger();
    tslog::ILogManager *m = tslog::ILogManager::getInstance();
    for (auto _ : state)
        benchmark::DoNotOptimize(m->prePushLog(0, tslog::LOG_TRACE));
}
BENCHMARK(BM_PrePushLogRejected);

void cleanUp() {
    if (!g_dir.empty() && g_dir != "/tmp")
        std::system(("rm -rf '" + g_dir + "'").c_str());
}

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    tslog::ILogManager::getInstance()->stop();
    cleanUp();
    return 0;
}
