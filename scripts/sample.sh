#!/usr/bin/env bash
# Prints the bundled sample label through the real CUPS chain on this
# machine: installs what is missing, builds the release build, turns the
# label into CUPS raster with cupsfilter and the shipped 203 dpi PPD, runs
# the built rastertovorcp on it and writes the TSPL job to a file. When the
# viewer is built it also renders the job to PNG.
#
#   bash scripts/sample.sh [Option=Choice ...]    e.g. Density=12 Rotation=2
#
# The options go to both stages, as a spooler would pass them.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root="$PWD"
bash scripts/build-release.sh
export LC_ALL=C
build="$root/build/release"

filter="$build/filter/rastertovorcp"
[ -x "$filter" ] || { echo "sample: $filter was not built" >&2; exit 1; }
ppd="$build/ppd/rastertovorcp-203.ppd"
[ -f "$ppd" ] || { echo "sample: $ppd was not built" >&2; exit 1; }

out="$root/build/sample"
rm -rf "$out"
mkdir -p "$out"
bash samples/make-label.sh "$out"

cupsopts=()
for o in "$@"; do cupsopts+=(-o "$o"); done
if ! cupsfilter -p "$ppd" -m application/vnd.cups-raster ${cupsopts[@]+"${cupsopts[@]}"} \
       "$out/label.pdf" >"$out/label.ras" 2>"$out/cupsfilter.log"; then
  tail -n 20 "$out/cupsfilter.log" >&2
  echo "sample: cupsfilter failed (log: $out/cupsfilter.log)" >&2
  exit 1
fi

# The spooler's argument convention: job-id user title copies options.
if ! PPD="$ppd" "$filter" 1 "${USER:-root}" "sample label" 1 "$*" \
       <"$out/label.ras" >"$out/label.tspl" 2>"$out/filter.log"; then
  cat "$out/filter.log" >&2; echo >&2
  echo "sample: rastertovorcp failed" >&2
  exit 1
fi
echo "TSPL job: $out/label.tspl ($(stat -c %s "$out/label.tspl") bytes, PPD $ppd)"

viewer="$build/tools/tspl-view"
if [ -x "$viewer" ]; then
  mkdir -p "$out/png"
  "$viewer" -o "$out/png" "$out/label.tspl"
  for png in "$out"/png/*.png; do
    [ -e "$png" ] && echo "Rendered label: $png"
  done
fi
