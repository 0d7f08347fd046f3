#!/usr/bin/env bash
# IPP conformance of a label printer of the app: CUPS's ipp-1.1 and ipp-2.0
# suites, then the project's own label checks, each on a fresh server.
#   ipp_conformance.sh APP PPD-DIR SAMPLE-PNG
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/../../scripts/app-session.sh"
app="$1" ppd_dir="$2" sample="$3"
dir="$(mktemp -d /tmp/vorcp-ipp-XXXXXX)"
trap 'app_stop; rm -rf "$dir"' EXIT

# 0: passed; 1: failed; 2: the server ended in PAPPL 1.3's race, where a job
# canceled just as it starts closes the device of the job started after it.
run_suite() {
  local suite="$1" run="$dir/$(basename "$1").$2"
  app_start "$app" "$ppd_dir" "$run"
  mkdir -p "$run/out"
  app_add_printer label vorcp_203 "file://$run/out"
  sleep 1 # printer-up-time counts whole seconds
  local ok=0
  ipptool -t -f "$sample" "$APP_URI/ipp/print/label" "$suite" >"$run/result.txt" 2>&1 || ok=1
  if ! kill -0 "$APP_PID" 2>/dev/null; then
    APP_PID=
    # The sanitizer build stops at the null file name before PAPPL logs it.
    if grep -q "Unable to open PNG file '(null)'" "$run/vorcp-printer-app.log" ||
      grep -q "in _papplJobFilterPNG" "$run/server.out"; then
      return 2
    fi
    echo "vorcp-printer-app ended during $suite:"
    tail -20 "$run/server.out"
    ok=1
  fi
  app_stop
  if [ "$ok" -ne 0 ]; then
    cat "$run/result.txt"
  else
    echo "ipptool $(basename "$suite"): $(grep -E '^Summary' "$run/result.txt" || tail -1 "$run/result.txt")"
  fi
  return "$ok"
}

status=0
for suite in ipp-1.1.test ipp-2.0.test "$here/label.test"; do
  for attempt in 1 2 3; do
    rc=0
    run_suite "$suite" "$attempt" || rc=$?
    [ "$rc" -ne 2 ] && break
    echo "ipptool $(basename "$suite"): the server met PAPPL's cancel-at-start race; again"
  done
  [ "$rc" -eq 0 ] || status=1
done
exit "$status"
