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
# The jobs' expected bytes come from the filter, which logs to a fixed path
# in /tmp: the run gets a /tmp of its own when it can.
run=(env VORCP_LOAD="$size" build/release/tests/printer-app/app_robust_test
     --gtest_filter='AppLoad.*' --gtest_brief=1)
if [ "$(id -u)" -eq 0 ] && [[ "$PWD/" != /tmp/* ]]; then
  unshare -m --propagation private sh -c 'mount -t tmpfs tmpfs /tmp && exec "$0" "$@"' "${run[@]}"
else
  "${run[@]}"
fi
