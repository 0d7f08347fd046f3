#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build/fuzz) and runs each one for
# a bounded time, starting from the project's seed corpus and regression
# inputs. New corpus entries stay in build/fuzz/corpus; crashes land in
# build/fuzz/artifacts/<target>/ and make the script fail.
#
#   bash scripts/fuzz.sh                   every target for 60 s
#   bash scripts/fuzz.sh --ci              every target for 3 s
#   bash scripts/fuzz.sh --time 600 page_fuzz     one target for 10 minutes
#   bash scripts/fuzz.sh --parallel 2 ...  run two targets at a time
# Each target reports its executions, seconds and executions per second.
# Run as root, every target gets a private, RAM-backed /tmp, so the job's
# fixed log path is never shared with test runs.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
export LC_ALL=C

seconds=60
parallel=1
targets=()
while (($#)); do
  case "$1" in
    --ci) seconds=3 ;;
    --time) seconds="$2"; shift ;;
    --parallel) parallel="$2"; shift ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    *) targets+=("$1") ;;
  esac
  shift
done

build=build/fuzz
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DRVC_FUZZ=ON -DRVC_BUILD_TESTS=OFF -DRVC_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target rvc_fuzz_all >/dev/null

if ((${#targets[@]} == 0)); then
  for src in fuzz/*_fuzz.cpp; do
    t="$(basename "$src" .cpp)"
    [ -x "$build/fuzz/$t" ] && targets+=("$t")
  done
fi

# Longest input per target: raster streams need room for a few pages.
max_len() {
  case "$1" in
    raster_job_fuzz) echo 65536 ;;
    page_fuzz) echo 16384 ;;
    *) echo 4096 ;;
  esac
}

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

private=()
# (Not when the tree itself lies in /tmp, which the new /tmp would hide.)
if [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null && [[ "$PWD/" != /tmp/* ]]; then
  private=(unshare -m --propagation private sh -c 'mount -t tmpfs tmpfs /tmp && exec "$0" "$@"')
fi

run_one() {
  local t="$1" work="$build/corpus/$1" art="$build/artifacts/$1/" log="$build/logs/$1.log"
  mkdir -p "$work" "$art" "$build/logs" "fuzz/regressions/$t"
  local rc=0
  # libcups sizes its line buffer from the header before any check of ours,
  # so single allocations may be large; the resident-memory limit still holds.
  # stderr of the code under test is closed (-close_fd_mask=2); libFuzzer
  # and the sanitizers keep reporting on a copy of it.
  /usr/bin/time -f "%U %S" -o "$build/logs/$t.cpu" "${private[@]}" "$build/fuzz/$t" "$work" "fuzz/corpus/$t" "fuzz/regressions/$t" \
      -max_total_time="$seconds" -max_len="$(max_len "$t")" -timeout=20 \
      -rss_limit_mb=2048 -malloc_limit_mb=8192 -close_fd_mask=2 -print_final_stats=1 \
      -artifact_prefix="$art" >"$log" 2>&1 || rc=$?
  local execs secs
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  secs="$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)"
  if ((rc != 0)); then
    echo "fuzz: $t FAILED (status $rc), see $log and $art"
    grep -m3 -E 'ERROR|SUMMARY|Test unit written' "$log" || true
    return 1
  fi
  secs="${secs:-$seconds}"
  # Per second of wall time, and per second of the processor time it got
  # (on a busy machine the two differ).
  local cpu
  cpu="$(awk '{ printf "%d", $1 + $2 }' "$build/logs/$t.cpu" 2>/dev/null || echo 0)"
  echo "fuzz: $t ${execs:-?} executions in $secs s: $(( ${execs:-0} / (secs > 0 ? secs : 1) )) per second," \
       "$(( ${execs:-0} / (cpu > 0 ? cpu : 1) )) per processor second ($(ls "$work" | wc -l) corpus entries)"
}

failed=0
pids=()
names=()
for t in "${targets[@]}"; do
  run_one "$t" &
  pids+=($!)
  names+=("$t")
  if ((${#pids[@]} >= parallel)); then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
  fi
done
for p in "${pids[@]}"; do
  wait "$p" || failed=1
done
exit "$failed"
