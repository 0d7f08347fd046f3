#!/usr/bin/env bash
# The printer application in one command: installs what is missing, builds
# the release build, starts vorcp-printer-app on a free localhost port with a
# printer whose device is a folder, prints the bundled sample label to it
# over IPP, renders the job with tspl-view and stops the app.
#
#   bash scripts/app-demo.sh [-o NAME=VALUE ...]    e.g. -o vorcp-halftone=floyd-steinberg
#
# The options go to the print job (see README, "Printer application").
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root="$PWD"
bash scripts/build-release.sh
export LC_ALL=C
build="$root/build/release"
app="$build/printer-app/vorcp-printer-app"

out="$root/build/app-demo"
rm -rf "$out"
mkdir -p "$out/printer" "$out/png"
bash samples/make-label.sh "$out"

source scripts/app-session.sh
trap app_stop EXIT
app_start "$app" "$build/ppd" "$out/state"
echo "app: $APP_URI (web page http://localhost:$APP_PORT/), state in $out/state"
app_add_printer label vorcp_203 "file://$out/printer"
"$app" submit -u "$APP_URI/ipp/print/label" "$@" "$out/label.png" >/dev/null
for i in $(seq 150); do
  if "$app" jobs -u "$APP_URI/ipp/print/label" | grep -q " completed "; then
    break
  fi
  if [ "$i" -eq 150 ]; then
    "$app" jobs -u "$APP_URI/ipp/print/label" >&2
    echo "app-demo: the job did not complete" >&2
    exit 1
  fi
  sleep 0.2
done
app_stop

job="$out/printer/label.png.prn"
echo "TSPL job: $job ($(stat -c %s "$job") bytes)"
"$build/tools/tspl-view" -o "$out/png" "$job"
