#!/usr/bin/env bash
# Builds the release tree and runs the benchmarks.
#
#   bash scripts/bench.sh            page path (logger in /dev/shm), then the
#                                    same main cases with the logger on disk
#   bash scripts/bench.sh --quick    fewer repetitions
#   bash scripts/bench.sh --process  whole-process CPU of a 20-page job against
#                                    CUPS's imagetoraster stage (about 1 minute)
#   bash scripts/bench.sh --app      the printer application's whole-process CPU
#                                    per label against the filter's: the sample
#                                    label at 203 dpi, 100 jobs each (about 1
#                                    minute)
#
# Extra arguments go to the benchmark programs (e.g. --benchmark_filter=...).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
export LC_ALL=C
mode=page
reps=3
args=()
for a in "$@"; do
  case "$a" in
    --process) mode=process ;;
    --app) mode=app ;;
    --quick) reps=1 ;;
    *) args+=("$a") ;;
  esac
done
bash scripts/build-release.sh
build=build/release
bench="$build/bench/page_bench"
export RVC_PPD_DIR="$PWD/$build/ppd"

if [ "$mode" = page ]; then
  common=(--benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true
          --benchmark_counters_tabular=true --benchmark_color=false)
  echo "== page path, logger in /dev/shm (RAM)"
  RVC_BENCH_LOG_DIR=/dev/shm "$bench" "${common[@]}" "${args[@]}"
  echo "== the main cases with the logger on a disk-backed folder (/var/tmp)"
  RVC_BENCH_LOG_DIR=/var/tmp "$bench" "${common[@]}" \
      --benchmark_filter='label_4x6/(203|300)dpi/(m1_Threshold|adaptive)/rot0$' "${args[@]}"
  for b in "$build"/bench/*_bench; do
    [ "$b" = "$bench" ] && continue
    echo "== $(basename "$b")"
    "$b" --benchmark_color=false "${args[@]}"
  done
  exit 0
fi

if [ "$mode" = app ]; then
  # One 8-bit grey PWG raster of the sample label, as an IPP Everywhere
  # client sends it; the filter reads the same file. Both run in a private
  # mount namespace whose /tmp is a folder of the build, so the filter's
  # fixed log path meets no other run.
  work="$(mktemp -d "$PWD/build/app-cpu.XXXXXX")"
  trap 'rm -rf "$work"' EXIT
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -r203 -dcupsColorSpace=18 \
     -dcupsBitsPerColor=8 -sOutputFile="$work/label.pwg" samples/label.ps
  jobs=100
  cat >"$work/run.sh" <<INNER
set -e
mkdir -p "$work/tmp"
mount --bind "$work/tmp" /tmp
ppd="$RVC_PPD_DIR/rastertovorcp-203.ppd"
# The filter, one process a job, four at a time (each waits 1 s after its page).
for i in \$(seq 1 $jobs); do
  PPD="\$ppd" /usr/bin/time -f "%U %S" -o "$work/time.\$i" "$PWD/$build/filter/rastertovorcp" \
      \$i u t 1 "" "$work/label.pwg" >"$work/filter.\$i.tspl" 2>/dev/null &
  ((i % 4)) || wait
done
wait
# The app: one server, the same raster sent as $jobs jobs; its CPU from /proc.
source "$PWD/scripts/app-session.sh"
app_start "$PWD/$build/printer-app/vorcp-printer-app" "$RVC_PPD_DIR" "$work/app" >/dev/null
mkdir -p "$work/out"
app_add_printer label vorcp_203 "file://$work/out" >/dev/null
cpu() { awk '{print \$14 + \$15}' /proc/\$APP_PID/stat; }
before=\$(cpu)
for i in \$(seq 1 $jobs); do
  "$PWD/$build/printer-app/vorcp-printer-app" submit -u "\$APP_URI/ipp/print/label" \
      -o job-name=j\$i "$work/label.pwg" >/dev/null
done
# Done when every job's data is there in full (asking the server would
# count its answers).
size=\$(stat -c %s "$work/filter.1.tspl")
for t in \$(seq 600); do
  [ \$(find "$work/out" -name '*.prn' -size \${size}c | wc -l) -ge $jobs ] && break
  sleep 0.1
done
sleep 0.2
after=\$(cpu)
echo "\$((after - before))" >"$work/app.ticks"
app_stop
cmp -s "$work/filter.1.tspl" "$work/out/j1.prn" || echo "warning: the app's job data differ from the filter's"
INNER
  unshare -m --propagation private bash "$work/run.sh"
  hz="$(getconf CLK_TCK)"
  f="$(cat "$work"/time.* | awk '{t += $1 + $2} END {print t}')"
  a="$(awk -v t="$(cat "$work/app.ticks")" -v hz="$hz" 'BEGIN {print t / hz}')"
  echo "the sample label at 203 dpi, $jobs jobs each, CPU of the whole process:"
  echo "  rastertovorcp, one process a job: $f s, $(awk -v t="$f" -v n=$jobs 'BEGIN {printf "%.4f", t / n}') s per label"
  echo "  vorcp-printer-app, one server: $a s, $(awk -v t="$a" -v n=$jobs 'BEGIN {printf "%.4f", t / n}') s per label"
  echo "  ratio app / filter: $(awk -v a="$a" -v f="$f" 'BEGIN {printf "%.2f", a / f}')"
  exit 0
fi

# Whole process: /usr/bin/time -v around cupsfilter's imagetoraster (one
# page, 20 runs) and around rastertovorcp on a 20-page job made of that
# page. Both run in a private mount namespace whose /tmp is a folder on the
# same disk, so the filter's fixed log path meets no other run.
filter="$PWD/$build/filter/rastertovorcp"
ppd="$RVC_PPD_DIR/rastertovorcp-203.ppd"
work="$(mktemp -d "$PWD/build/process.XXXXXX")"
trap 'rm -rf "$work"' EXIT
"$bench" --write-ppm="$work/label.ppm"
cpu() { awk -F': ' '/User time/ {u=$2} /System time/ {s=$2} END {printf "%.2f", u + s}' "$1"; }
rss() { awk -F': ' '/Maximum resident/ {print $2}' "$1"; }

total=0
for i in $(seq 1 20); do
  /usr/bin/time -v -o "$work/itr.$i" cupsfilter -p "$ppd" -m application/vnd.cups-raster \
      -i image/x-portable-pixmap -o PageSize=4x6 "$work/label.ppm" >"$work/page.ras" 2>/dev/null
  total="$(awk -v a="$total" -v b="$(cpu "$work/itr.$i")" 'BEGIN {print a + b}')"
done
# The job: the stream's sync word once, then the page 20 times.
{ head -c 4 "$work/page.ras"; for i in $(seq 1 20); do tail -c +5 "$work/page.ras"; done; } >"$work/job.ras"

# /usr/bin/time counts in hundredths of a second: the job runs $runs times
# each way, alternating, and the figures are summed.
runs="${RVC_PROCESS_RUNS:-3}"
cat >"$work/run.sh" <<INNER
set -e
mkdir -p "$work/tmp"
mount --bind "$work/tmp" /tmp
for i in \$(seq 1 $runs); do
  rm -rf /tmp/vortspl.log
  PPD="$ppd" /usr/bin/time -v -o "$work/filter.time.\$i" "$filter" 1 u t 1 "" "$work/job.ras" \
      >"$work/job.tspl" 2>/dev/null
  cp /tmp/vortspl.log "$work/vortspl.log"
  rm -f /tmp/vortspl.log
  mkdir /tmp/vortspl.log   # the log file cannot be opened: no line is written
  PPD="$ppd" /usr/bin/time -v -o "$work/nolog.time.\$i" "$filter" 1 u t 1 "" "$work/job.ras" \
      >"$work/nolog.tspl" 2>/dev/null
done
INNER
unshare -m --propagation private bash "$work/run.sh"
cmp -s "$work/job.tspl" "$work/nolog.tspl" || echo "warning: job data differ without the log"

sum() { local t=0 x; for x in "$@"; do t="$(awk -v a="$t" -v b="$(cpu "$x")" 'BEGIN {print a + b}')"; done; echo "$t"; }
f="$(sum "$work"/filter.time.*)" n="$(sum "$work"/nolog.time.*)"
pages=$((20 * runs))
echo "imagetoraster (cupsfilter -m application/vnd.cups-raster), 20 runs of one 4x6 in page at 203 dpi:"
echo "  CPU $total s in all, $(awk -v t="$total" 'BEGIN {printf "%.4f", t / 20}') s per page, max RSS $(rss "$work/itr.1") kB"
echo "rastertovorcp, a 20-page job (1 s wait after each page) run $runs times, $(wc -l <"$work/vortspl.log") log lines per job:"
grep -E 'User time|System time|Elapsed|Maximum resident' "$work/filter.time.1" | sed 's/^\s*/  first run: /'
echo "  CPU $f s for $pages pages, $(awk -v t="$f" -v p=$pages 'BEGIN {printf "%.4f", t / p}') s per page;" \
     "ratio to imagetoraster $(awk -v a="$f" -v p=$pages -v b="$total" 'BEGIN {printf "%.2f", (a / p) / (b / 20)}')"
echo "the same jobs with no log line written (log path taken by a folder): CPU $n s;" \
     "the log's share of the filter's CPU $(awk -v a="$f" -v b="$n" 'BEGIN {printf "%.0f%%", 100 * (a - b) / a}')"
