#!/usr/bin/env bash
# Line coverage of the product code by the test suite plus the fuzz corpora
# (the committed seeds and regressions, and build/fuzz/corpus when a fuzz run
# has grown it), measured with clang's source-based coverage and llvm-cov,
# and reported per folder. Builds in build/coverage.
#
#   bash scripts/coverage.sh            summary per folder
#   bash scripts/coverage.sh --files    and per file
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
export LC_ALL=C
build=build/coverage
flags="-fprofile-instr-generate -fcoverage-mapping"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
      -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
      -DCMAKE_EXE_LINKER_FLAGS="$flags" -DRVC_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

prof="$(pwd)/$build/profiles"
rm -rf "$prof" && mkdir -p "$prof"
export LLVM_PROFILE_FILE="$prof/%p-%m.profraw"
# The filter's fixed log path stays private to this run where that is possible.
private=()
# (Not when the tree itself lies in /tmp, which the new /tmp would hide.)
if [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null && [[ "$PWD/" != /tmp/* ]]; then
  private=(unshare -m --propagation private sh -c 'mount -t tmpfs tmpfs /tmp && exec "$0" "$@"')
fi
"${private[@]}" ctest --test-dir "$build" -j"$(nproc)" --timeout 600 >"$build/ctest.log" ||
  { tail -20 "$build/ctest.log"; echo "coverage: the suite failed" >&2; exit 1; }
for t in fuzz/*_fuzz.cpp; do
  t="$(basename "$t" .cpp)"
  [ -d "build/fuzz/corpus/$t" ] && "${private[@]}" "$build/fuzz/${t}_replay" "build/fuzz/corpus/$t" 2>/dev/null
done

llvm-profdata-14 merge -sparse "$prof"/*.profraw -o "$build/suite.profdata"
objects=()
for exe in "$build"/filter/rastertovorcp "$build"/tools/tspl-view "$build"/tests/*_tests \
           "$build"/fuzz/*_replay; do
  objects+=(-object "$exe")
done
llvm-cov-14 report "${objects[@]:1}" -instr-profile="$build/suite.profdata" \
  -ignore-filename-regex='(^|/)(tests|fuzz|bench|build[^/]*|usr)/' >"$build/report.txt"
[ "${1:-}" = "--files" ] && cat "$build/report.txt"
printf "%-10s %7s %7s %8s\n" folder lines missed covered
# Per folder: lines and missed lines of its files (columns 8 and 9 of the
# report; the paths are absolute).
awk -v root="$(pwd)/" '
  $1 ~ /\.(cpp|h)$/ { f = $1; sub(root, "", f); split(f, p, "/"); lines[p[1]] += $8; missed[p[1]] += $9 }
  END {
    for (d in lines) printf "%-10s %7d %7d %7.1f%%\n", d, lines[d], missed[d], 100 * (lines[d] - missed[d]) / lines[d]
  }' "$build/report.txt" | sort
