#!/usr/bin/env bash
# Installs what is missing, then configures, builds and runs the whole test
# suite twice: a normal optimised build and an ASan+UBSan build, then a short
# fuzz run and the Debian packages (scripts/package.sh).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh
export LC_ALL=C
jobs="$(nproc)"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j"$jobs"
ctest --test-dir build/release --output-on-failure -j"$jobs" --timeout 600

cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DRVC_SANITIZE=ON \
      -DRVC_BUILD_BENCH=OFF >/dev/null
cmake --build build/asan -j"$jobs"
ctest --test-dir build/asan --output-on-failure -j"$jobs" --timeout 900

# A short run of every fuzz target (clang build in build/fuzz).
bash scripts/fuzz.sh --ci

# The Debian packages of both architectures, built and checked.
bash scripts/package.sh
