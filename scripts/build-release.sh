#!/usr/bin/env bash
# Installs what is missing and brings the release build (build/release) up
# to date, quietly: the common first step of the sample, demo and benchmark
# commands.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh
export LC_ALL=C
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j"$(nproc)" >/dev/null
