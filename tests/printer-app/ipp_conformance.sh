#!/usr/bin/env bash
# IPP conformance of a label printer of the app: ipptool suites (CUPS's
# ipp-1.1.test or ipp-2.0.test, the project's own label.test) on a fresh
# server, right after the printer was added.
#   ipp_conformance.sh APP PPD-DIR SAMPLE-PNG SUITE...
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/../../scripts/app-session.sh"
app="$1" ppd_dir="$2" sample="$3"
shift 3
suites=()
for suite in "$@"; do
  [ "$suite" = label.test ] && suite="$here/label.test"
  suites+=("$suite")
done
dir="$(mktemp -d /tmp/vorcp-ipp-XXXXXX)"
trap 'app_stop; rm -rf "$dir"' EXIT

app_start "$app" "$ppd_dir" "$dir"
mkdir -p "$dir/out"
app_add_printer label vorcp_203 "file://$dir/out"
if ! ipptool -t -f "$sample" "$APP_URI/ipp/print/label" "${suites[@]}" >"$dir/result.txt" 2>&1; then
  cat "$dir/result.txt"
  kill -0 "$APP_PID" 2>/dev/null || { echo "vorcp-printer-app ended:"; tail -20 "$dir/server.out"; }
  exit 1
fi
grep -E "^Summary|^\".*\":|FAIL" "$dir/result.txt"
