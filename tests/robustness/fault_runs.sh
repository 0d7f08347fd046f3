#!/usr/bin/env bash
# Fault runs of the filter process, by hand (a few minutes; not part of the
# test command): standard output closed, a full device, a reader that goes
# away mid-job, a file-size limit, a log folder that cannot be written, and
# SIGTERM at random moments. In every run the filter must end by itself
# (no crash, no hang), report a failed write once ("ERROR: ..." and status
# 1) and stop writing after it, and otherwise never leave a BITMAP header
# without its full payload.
#
#   bash tests/robustness/fault_runs.sh [build-dir] [sigterm-runs]
#   bash tests/robustness/fault_runs.sh --stress [build-dir] [pages]
#
# Runs in a private mount namespace with its own /tmp, so the filter's fixed
# log path never meets that of other runs on the machine.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
stress=0
if [ "${1:-}" = "--stress" ]; then
  stress=1
  shift
fi
build="$(cd "${1:-build/release}" && pwd)"
count="${2:-100}"
if [ -z "${RVC_FAULTS_INNER:-}" ]; then
  exec unshare -m --propagation private env RVC_FAULTS_INNER=1 bash "$0" \
       $([ $stress = 1 ] && echo --stress) "$build" "$count"
fi
mount -t tmpfs -o size=512m tmpfs /tmp || { echo "faults: cannot mount a private /tmp"; exit 1; }

filter="$build/filter/rastertovorcp"
export PPD="$build/ppd/rastertovorcp-203.ppd"
work="$(mktemp -d "$build/faults.XXXXXX")"
trap 'rm -rf "$work"' EXIT
"$build/bench/page_bench" --write-raster="$work/job3.ras" --pages=3 || exit 1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }

# Every text command ends in CR LF; every BITMAP header is followed by
# width x height bytes and CR LF.
shape() {
  python3 - "$1" <<'PY'
import re, sys
d = open(sys.argv[1], 'rb').read()
i = 0
while i < len(d):
    if d.startswith(b'BITMAP ', i):
        m = re.match(rb'BITMAP (-?\d+),(-?\d+),(\d+),(\d+),(\d+),', d[i:])
        if not m:
            sys.exit('malformed BITMAP header at %d' % i)
        j = i + m.end() + int(m.group(3)) * int(m.group(4))
        if d[j:j + 2] != b'\r\n':
            sys.exit('BITMAP payload cut short at %d' % i)
        i = j + 2
        continue
    j = d.find(b'\r\n', i)
    if j < 0 or not d[i:j].isascii() or not d[i:i + 1].isupper():
        sys.exit('broken command at %d' % i)
    i = j + 2
PY
}
is_prefix() { cmp -s -n "$(stat -c %s "$1")" "$1" "$2"; }
# write(2) calls of printer data after the first one that failed. With
# standard output closed, descriptor 1 is reused by the files the filter
# opens (the log file, for each line): writes while such a file holds it
# are not printer data.
writes_after_failure() {
  awk '/openat\(.*vortspl\.log.* = 1$/ { other = 1 } /close\(1\) *= 0/ { other = 0 }
       /write\(1, / && !other { if (failed) n++; if (/ = -1 E/) failed = 1; w++ }
       END { print n + 0; if (!failed) print "no failed write among", w + 0 > "/dev/stderr" }' "$1"
}

"$filter" 1 u t 1 "" "$work/job3.ras" >"$work/ref.tspl" 2>"$work/ref.err"
rc=$?
if [ $rc -ne 0 ] || ! shape "$work/ref.tspl"; then
  fail "reference job (status $rc)"
  exit 1
fi
pass "reference job: $(stat -c %s "$work/ref.tspl") bytes, $(grep -c 'Start Page' /tmp/vortspl.log) page reports in the log"

if [ $stress = 1 ]; then
  pages="$count"
  "$build/bench/page_bench" --write-raster="$work/stress.ras" --pages="$pages" || exit 1
  echo "stress: $pages pages with the 1 s wait after each (about $((pages * 11 / 600)) minutes)"
  /usr/bin/time -v -o "$work/time.txt" "$filter" 1 u t 1 "" "$work/stress.ras" \
      >"$work/stress.tspl" 2>"$work/stress.err" &
  sleep 1
  pid="$(pgrep -n -f "$work/stress.ras" | head -1)"
  samples=()
  while kill -0 "$pid" 2>/dev/null; do
    rss="$(awk '/VmRSS/ {print $2}' /proc/"$pid"/status 2>/dev/null)"
    [ -n "$rss" ] && samples+=("$rss")
    sleep 15
  done
  wait
  echo "stress: resident set (kB) every 15 s: ${samples[*]}"
  grep -E 'Maximum resident|Elapsed|User time|System time|Exit status' "$work/time.txt"
  echo "stress: PRINT commands $(grep -ac '^PRINT' "$work/stress.tspl"), page reports $(grep -ac 'Start Page' /tmp/vortspl.log), emissions $(grep -ac 'Method TransCommand in' /tmp/vortspl.log), end of job $(grep -ac 'EndDoc' /tmp/vortspl.log), log lines $(wc -l </tmp/vortspl.log)"
  shape "$work/stress.tspl" && echo "stress: job data well formed"
  exit 0
fi

# A failed write: status 1, one error message, nothing written after it.
check_failed_write() {
  local name="$1" rc="$2" err="$3" trace="$4"
  local msgs after
  msgs="$(grep -o 'ERROR: Unable to write the print data' "$err" | wc -l)"
  after="$(writes_after_failure "$trace")"
  if [ "$rc" -eq 1 ] && [ "$msgs" -eq 1 ] && [ "$after" -eq 0 ]; then
    pass "$name: status 1, one error message, no write after the failed one"
  else
    fail "$name: status $rc, $msgs error messages, $after writes after the failed one"
  fi
}

strace -f -e trace=write,openat,close -o "$work/closed.trace" "$filter" 1 u t 1 "" "$work/job3.ras" \
    2>"$work/closed.err" >&-
check_failed_write "standard output closed (file argument)" $? "$work/closed.err" "$work/closed.trace"

strace -f -e trace=write,openat,close -o "$work/closed0.trace" "$filter" 1 u t 1 "" <"$work/job3.ras" \
    2>"$work/closed0.err" >&-
check_failed_write "standard output closed (standard input)" $? "$work/closed0.err" "$work/closed0.trace"

start=$SECONDS
strace -f -e trace=write,openat,close -o "$work/full.trace" "$filter" 1 u t 1 "" "$work/job3.ras" \
    >/dev/full 2>"$work/full.err"
check_failed_write "/dev/full" $? "$work/full.err" "$work/full.trace"
[ $((SECONDS - start)) -le 2 ] || fail "/dev/full: the job went on for $((SECONDS - start)) s"

strace -f -e trace=write,openat,close -o "$work/pipe.trace" "$filter" 1 u t 1 "" "$work/job3.ras" \
    2>"$work/pipe.err" | head -c 150000 >"$work/pipe.tspl"
check_failed_write "reader gone after 150000 bytes" "${PIPESTATUS[0]}" "$work/pipe.err" "$work/pipe.trace"
is_prefix "$work/pipe.tspl" "$work/ref.tspl" || fail "reader gone: the bytes read are not the job's"

(trap '' XFSZ; ulimit -f 200; exec strace -f -e trace=write,openat,close -o "$work/fsize.trace" \
    "$filter" 1 u t 1 "" "$work/job3.ras" >"$work/fsize.tspl" 2>"$work/fsize.err")
check_failed_write "file size limit 200 KiB" $? "$work/fsize.err" "$work/fsize.trace"
is_prefix "$work/fsize.tspl" "$work/ref.tspl" || fail "file size limit: the bytes written are not the job's"

mount -o remount,ro /tmp
"$filter" 1 u t 1 "" "$work/job3.ras" >"$work/rolog.tspl" 2>"$work/rolog.err"
rc=$?
mount -o remount,rw /tmp
if [ $rc -eq 0 ] && cmp -s "$work/rolog.tspl" "$work/ref.tspl"; then
  pass "log folder read-only: status 0, job data unchanged"
else
  fail "log folder read-only: status $rc, job data $(cmp -s "$work/rolog.tspl" "$work/ref.tspl" && echo same || echo different)"
fi
rm -f /tmp/vortspl.log
mkdir -p /tmp/vortspl.log/blocked
"$filter" 1 u t 1 "" "$work/job3.ras" >"$work/dirlog.tspl" 2>"$work/dirlog.err"
rc=$?
rm -rf /tmp/vortspl.log
if [ $rc -eq 0 ] && cmp -s "$work/dirlog.tspl" "$work/ref.tspl"; then
  pass "log path taken by a folder: status 0, job data unchanged"
else
  fail "log path taken by a folder: status $rc"
fi

# SIGTERM at random moments of a 3-page job (about 3 s with the waits).
early=0 cancelled=0 bad=0
declare -A pages_seen=()
for ((i = 0; i < count; ++i)); do
  delay="$(awk -v s=$((RANDOM * 32768 + RANDOM)) 'BEGIN { srand(s); printf "%.3f", rand() * 3.6 }')"
  "$filter" 1 u t 1 "" "$work/job3.ras" >"$work/term.tspl" 2>"$work/term.err" &
  pid=$!
  sleep "$delay"
  kill -TERM "$pid" 2>/dev/null
  for ((w = 0; w < 200 && $(kill -0 "$pid" 2>/dev/null && echo 1 || echo 0); ++w)); do
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    fail "SIGTERM after $delay s: still running 20 s later"
    kill -KILL "$pid"
    bad=$((bad + 1))
    continue
  fi
  wait "$pid"
  rc=$?
  n="$(grep -ac '^PRINT' "$work/term.tspl")"
  if [ $rc -eq 143 ] && [ ! -s "$work/term.tspl" ]; then
    early=$((early + 1)) # before the handler is installed: the default action
  elif [ $rc -eq 0 ] && shape "$work/term.tspl" && is_prefix "$work/term.tspl" "$work/ref.tspl"; then
    cancelled=$((cancelled + 1))
    pages_seen[$n]=$((${pages_seen[$n]:-0} + 1))
  else
    fail "SIGTERM after $delay s: status $rc, $n pages, $(shape "$work/term.tspl" 2>&1)"
    cp "$work/term.tspl" "$build/sigterm-failure-$i.tspl"
    bad=$((bad + 1))
  fi
done
summary=""
for k in $(printf '%s\n' "${!pages_seen[@]}" | sort -n); do
  summary+=" $k pages: ${pages_seen[$k]},"
done
echo "SIGTERM, $count runs: $cancelled ended with status 0 and whole pages (${summary% ,}), $early ended by the signal before the handler was installed, $bad wrong"
[ $bad -eq 0 ] && pass "SIGTERM at random moments" || fail "SIGTERM at random moments"

# SIGTERM the moment the job's last bytes have arrived: the job is done and
# the process is shutting down; it must still end with status 0.
late="$(python3 - "$filter" "$work/job3.ras" <<'PY'
import signal, subprocess, sys
bad = 0
for run in range(10):
    p = subprocess.Popen([sys.argv[1], '1', 'u', 't', '1', '', sys.argv[2]],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    data = b''
    while data.count(b'PRINT ') < 3 or not data.endswith(b'\r\n'):
        chunk = p.stdout.read1(65536)
        if not chunk:
            break
        data += chunk
    p.send_signal(signal.SIGTERM)
    p.stdout.read()
    bad += p.wait() != 0
print(bad)
PY
)"
[ "$late" = 0 ] && pass "SIGTERM as the last bytes arrive (10 runs): status 0" \
  || fail "SIGTERM as the last bytes arrive: $late of 10 runs did not end with status 0"

echo "faults: $failures failed"
exit $((failures != 0))
