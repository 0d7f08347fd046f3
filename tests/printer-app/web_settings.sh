#!/usr/bin/env bash
# A setting changed on the printer's web page in a real browser reaches the
# next job: its data equals that of a job asking for the same settings. The
# page names the settings as the PPD does, and what print-quality draft
# prints with is changed there too.
#   web_settings.sh APP PPD-DIR VIEWER SAMPLE-PNG
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/../../scripts/app-session.sh"
app="$1" viewer="$3" sample="$4"
dir="$(mktemp -d /tmp/vorcp-web-XXXXXX)"
trap 'app_stop; rm -rf "$dir"' EXIT
app_start "$app" "$2" "$dir/state"
mkdir -p "$dir/web" "$dir/ref"
app_add_printer web vorcp_203 "file://$dir/web"
app_add_printer ref vorcp_203 "file://$dir/ref"

# Sends the sample as job NAME to PRINTER with options.
submit_label() {
  local printer="$1" name="$2"
  shift 2
  cp "$sample" "$dir/$name.png"
  "$app" submit -u "$APP_URI/ipp/print/$printer" "$@" "$dir/$name.png" >/dev/null
}

# Waits until PRINTER has completed the jobs NAME...
wait_labels() {
  local printer="$1" i name jobs missing
  shift
  for i in $(seq 300); do
    jobs="$("$app" jobs -u "$APP_URI/ipp/print/$printer")"
    missing=
    for name in "$@"; do
      grep -q " completed .* $name.png\$" <<<"$jobs" || missing+=" $name"
    done
    [ -z "$missing" ] && return 0
    sleep 0.1
  done
  echo "jobs$missing did not complete:" >&2
  echo "$jobs" >&2
  return 1
}

# The settings asked for by jobs: darkness 53% configured + 47.
submit_label ref wanted -o vorcp-halftone=floyd-steinberg -o print-darkness=47
submit_label ref wanted-draft -o vorcp-halftone=bayer4 -o print-darkness=47
submit_label web before
wait_labels web before
# Debian's Selenium is a module of the system Python.
/usr/bin/python3 "$here/web_settings.py" "http://localhost:$APP_PORT/web" 100 floyd-steinberg \
  bayer4 ${VORCP_WEB_SCREENSHOT:-}
submit_label web after
submit_label web after-draft -o print-quality=3
wait_labels web after after-draft
wait_labels ref wanted wanted-draft

"$viewer" -o "$dir/png" "$dir/web/before.png.prn" | grep -q "density: 8" || { echo "first job not at the default darkness"; exit 1; }
"$viewer" -o "$dir/png" "$dir/web/after.png.prn" | grep -q "density: 15" || { echo "the web page's darkness did not reach the job"; exit 1; }
if ! cmp -s "$dir/web/after.png.prn" "$dir/ref/wanted.png.prn"; then
  echo "the job after the web page's change differs from a job asking for its settings"
  exit 1
fi
if ! cmp -s "$dir/web/after-draft.png.prn" "$dir/ref/wanted-draft.png.prn"; then
  echo "a draft job after the web page's change does not print with the halftone set for drafts"
  exit 1
fi
echo "the jobs after the change print at darkness 15 with error diffusion, drafts with Bayer 4 x 4, as asked"
