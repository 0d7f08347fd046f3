#!/usr/bin/env bash
# Installs what is missing, then configures, builds and runs the whole test
# suite twice: a normal optimised build and an ASan+UBSan build; then a short
# run of every fuzz target and the checks of the Debian packages of both
# architectures (scripts/package.sh; they are built while the suites run).
# ctest -L unit|process|integration|fuzz-replay runs one kind of test only.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh scripts/packages.txt scripts/packages-deb.txt
export LC_ALL=C
bash scripts/format.sh --check
jobs="$(nproc)"
# Many tests mostly wait (on servers, printers, the filter's page pause):
# three at a time per processor keep the processors busy.
tests=$((3 * jobs))
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Tests that run the filter share its fixed log path (/tmp/vortspl.log):
# as root the suite gets a /tmp of its own, so other runs cannot collide.
private=()
# (Not when the tree itself lies in /tmp, which the new /tmp would hide.)
if [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null && [[ "$PWD/" != /tmp/* ]]; then
  private=(unshare -m --propagation private sh -c 'mount -t tmpfs tmpfs /tmp && exec "$0" "$@"')
fi

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
# The Debian packages build meanwhile at the lowest priority, in a session
# of their own: they take the processor time the builds and suites leave
# (the suites mostly wait); their checks come last. A new session is a new
# scheduling group of its own under Linux's autogroups, which shares the
# processors equally with this one whatever its processes' nice value: the
# group itself is niced too.
setsid bash -c 'echo 19 >/proc/self/autogroup 2>/dev/null; exec nice -n 19 "$@"' \
  bash bash scripts/package.sh --build >build/package-build.log 2>&1 &
package_pid=$!
trap 'kill -- -"$package_pid" 2>/dev/null || true' EXIT
cmake --build build/release -j"$jobs"
"${private[@]}" ctest --test-dir build/release --output-on-failure -j"$tests" --timeout 600

cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DRVC_SANITIZE=ON \
      -DRVC_BUILD_BENCH=OFF >/dev/null
cmake --build build/asan -j"$jobs"
# Without the browser's and the private cupsd's runs: their time goes to
# Chromium, cupsd and Ghostscript, built the same either way, and the app's
# code they reach runs under the sanitizers in the app's own tests.
"${private[@]}" ctest --test-dir build/asan --output-on-failure -j"$tests" --timeout 900 \
  -E '^(app_web_settings|app_desktop_route)$'

bash scripts/fuzz.sh --ci --parallel "$jobs"

# The Debian packages of both architectures, built and checked.
if ! wait "$package_pid"; then
  tail -n 40 build/package-build.log
  echo "test: the packages did not build" >&2
  exit 1
fi
cat build/package-build.log
bash scripts/package.sh --check
