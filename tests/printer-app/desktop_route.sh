#!/usr/bin/env bash
# A desktop's route to the app: a private cupsd makes an IPP Everywhere
# queue for a printer of the app (lpadmin -m everywhere), and a PDF printed
# there with lp reaches the printer's device as a label tspl-view accepts.
#   desktop_route.sh APP PPD-DIR VIEWER SAMPLE-PDF
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/../../scripts/app-session.sh"
app="$1" ppd_dir="$2" viewer="$3" pdf="$4"
dir="$(mktemp -d /tmp/vorcp-desktop-XXXXXX)"
chmod 755 "$dir"
cupsd_pid=
trap 'app_stop; [ -n "$cupsd_pid" ] && kill "$cupsd_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$dir"' EXIT

app_start "$app" "$ppd_dir" "$dir/app"
mkdir -p "$dir/out"
app_add_printer label vorcp_203 "file://$dir/out"

port="$(free_port)"
cups="$dir/cups"
mkdir -p "$cups"/{conf,spool/tmp,cache,state,log}
cat >"$cups/conf/cupsd.conf" <<EOF
Listen 127.0.0.1:$port
LogLevel info
Browsing No
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order allow,deny
    Allow all
  </Limit>
</Policy>
EOF
cat >"$cups/conf/cups-files.conf" <<EOF
ServerRoot $cups/conf
RequestRoot $cups/spool
TempDir $cups/spool/tmp
CacheDir $cups/cache
StateDir $cups/state
ErrorLog $cups/log/error_log
AccessLog $cups/log/access_log
PageLog $cups/log/page_log
Printcap $cups/state/printcap
SystemGroup root
EOF
cupsd -f -c "$cups/conf/cupsd.conf" -s "$cups/conf/cups-files.conf" >"$cups/log/cupsd.out" 2>&1 &
cupsd_pid=$!
host="127.0.0.1:$port"
for _ in $(seq 100); do
  grep -q "Listening to $host" "$cups/log/error_log" 2>/dev/null && break
  sleep 0.1
done

lpadmin -h "$host" -p desk -E -v "$APP_URI/ipp/print/label" -m everywhere
request="$(lp -h "$host" -d desk -t desktop "$pdf")"
id="${request#request id is desk-}"
id="${id%% *}"
for _ in $(seq 300); do
  grep -qE "\[Job $id\] Job (completed|stopped|canceled|aborted)" "$cups/log/error_log" && break
  sleep 0.1
done
if ! grep -q "\[Job $id\] Job completed" "$cups/log/error_log"; then
  grep -E '^E |\[Job ' "$cups/log/error_log" | tail -n 30
  echo "the desktop's job $id did not complete"
  exit 1
fi
label="$dir/out/desktop.prn"
if ! "$viewer" --check "$label" | grep -q 'valid, [1-9][0-9]* label'; then
  grep -E '\[Job ' "$dir/app/vorcp-printer-app.log" | tail -n 10
  echo "no label reached the device"
  exit 1
fi
echo "the desktop's PDF printed through CUPS's IPP Everywhere queue: $(stat -c %s "$label") bytes"
