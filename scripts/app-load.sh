#!/usr/bin/env bash
# The printer application under load, long form: each round a fresh server
# with PRINTERS printers (folders), CLIENTS clients sending JOBS raster jobs
# at once (one to three pages each, server-error-busy answers retried); every
# job must complete with the filter's bytes, and the server must answer
# throughout and stop within 5 s. Prints one line of figures per round.
#
#   bash scripts/app-load.sh [PRINTERS CLIENTS JOBS ROUNDS]   default 4 8 200 20
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
size="${*:-4 8 200 20}"
bash scripts/build-release.sh
# Every job's bytes are compared with the filter's (tests/data/app-documents.txt).
VORCP_LOAD="$size" build/release/tests/printer-app/app_robust_test \
  --gtest_filter='AppLoad.*' --gtest_brief=1
