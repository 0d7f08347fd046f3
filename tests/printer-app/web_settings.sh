#!/usr/bin/env bash
# A setting changed on the printer's web page in a real browser reaches the
# next job: its data equals that of a job asking for the same settings.
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

# Prints the sample as job NAME on PRINTER with options; waits for its data.
print_label() {
  local printer="$1" name="$2"
  shift 2
  cp "$sample" "$dir/$name.png"
  "$app" submit -u "$APP_URI/ipp/print/$printer" "$@" "$dir/$name.png" >/dev/null
  local i
  for i in $(seq 300); do
    if "$app" jobs -u "$APP_URI/ipp/print/$printer" | grep -q " completed .* $name.png"; then
      return 0
    fi
    sleep 0.2
  done
  echo "job $name did not complete:" >&2
  "$app" jobs -u "$APP_URI/ipp/print/$printer" >&2
  return 1
}

print_label web before
# Debian's Selenium is a module of the system Python.
/usr/bin/python3 "$here/web_settings.py" "http://localhost:$APP_PORT/web" 100 floyd-steinberg \
  ${VORCP_WEB_SCREENSHOT:-}
print_label web after
# The same settings asked for by the job: darkness 53% configured + 47.
print_label ref wanted -o vorcp-halftone=floyd-steinberg -o print-darkness=47

"$viewer" -o "$dir/png" "$dir/web/before.png.prn" | grep -q "density: 8" || { echo "first job not at the default darkness"; exit 1; }
"$viewer" -o "$dir/png" "$dir/web/after.png.prn" | grep -q "density: 15" || { echo "the web page's darkness did not reach the job"; exit 1; }
if ! cmp -s "$dir/web/after.png.prn" "$dir/ref/wanted.png.prn"; then
  echo "the job after the web page's change differs from a job asking for its settings"
  exit 1
fi
echo "the job after the change prints at darkness 15 with error diffusion, as asked"
