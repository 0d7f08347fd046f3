#!/usr/bin/env bash
# A desktop's route to the app: a private cupsd makes an IPP Everywhere
# queue for a printer of the app (lpadmin -m everywhere), and a PDF printed
# there with lp reaches the printer's device as a label tspl-view accepts.
# The queue's Print Quality is what a desktop's dialog offers for a label:
# Draft and High print what jobs asking for their halftones print (High
# also with the darkness change the printer was given over IPP), with the
# raster CUPS makes, which a second queue with the same PPD writes into a
# file.
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
out="$dir/out"
mkdir -p "$out"
app_add_printer label vorcp_203 "file://$out"

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
FileDevice Yes
EOF
cupsd -f -c "$cups/conf/cupsd.conf" -s "$cups/conf/cups-files.conf" >"$cups/log/cupsd.out" 2>&1 &
cupsd_pid=$!
host="127.0.0.1:$port"
for _ in $(seq 100); do
  grep -q "Listening to $host" "$cups/log/error_log" 2>/dev/null && break
  sleep 0.1
done

lpadmin -h "$host" -p desk -E -v "$APP_URI/ipp/print/label" -m everywhere
# cupsd writes the queue's PPD after lpadmin has returned.
for _ in $(seq 100); do
  lpoptions -h "$host" -p desk -l >/dev/null 2>&1 && break
  sleep 0.1
done
lpadmin -h "$host" -p capture -E -v "file://$dir/raster" -P "$cups/conf/ppd/desk.ppd" 2>&1 |
  { grep -v 'drivers are deprecated' || true; }
# The printer prints High 40 % darker than its darkness.
cat >"$dir/set.test" <<'EOF'
{
	OPERATION Set-Printer-Attributes
	GROUP operation-attributes-tag
	ATTR charset attributes-charset utf-8
	ATTR naturalLanguage attributes-natural-language en
	ATTR uri printer-uri $uri
	GROUP printer-attributes-tag
	ATTR integer vorcp-quality-high-darkness-default 40
	STATUS successful-ok
}
EOF
ipptool -t "$APP_URI/ipp/print/label" "$dir/set.test" >"$dir/set.out" || { cat "$dir/set.out"; exit 1; }

# The capture queue works beside the app's queue.
ids=()
for job in "capture raster" "desk draft -o print-quality=3" "desk high -o cupsPrintQuality=High"; do
  read -r -a words <<<"$job"
  request="$(lp -h "$host" -d "${words[0]}" -t "${words[1]}" "${words[@]:2}" "$pdf")"
  id="${request#request id is "${words[0]}"-}"
  ids+=("${id%% *}")
done
for id in "${ids[@]}"; do
  for _ in $(seq 300); do
    grep -qE "\[Job $id\] Job (completed|stopped|canceled|aborted)" "$cups/log/error_log" && break
    sleep 0.1
  done
  if ! grep -q "\[Job $id\] Job completed" "$cups/log/error_log"; then
    grep -E '^E |\[Job ' "$cups/log/error_log" | tail -n 30
    echo "the desktop's job $id did not complete"
    exit 1
  fi
done

# The same raster sent to the app with the halftones Draft and High stand
# for, and High's darkness.
cp "$dir/raster" "$dir/ref-draft.urf"
cp "$dir/raster" "$dir/ref-high.urf"
"$app" submit -u "$APP_URI/ipp/print/label" -o vorcp-halftone=threshold "$dir/ref-draft.urf" >/dev/null
"$app" submit -u "$APP_URI/ipp/print/label" -o vorcp-halftone=stucki -o print-darkness=40 \
  "$dir/ref-high.urf" >/dev/null
for _ in $(seq 300); do
  [ "$("$app" jobs -u "$APP_URI/ipp/print/label" | grep -c ' completed .* ref-')" = 2 ] && break
  sleep 0.1
done

if ! "$viewer" --check "$out/draft.prn" | grep -q 'valid, [1-9][0-9]* label'; then
  grep -E '\[Job ' "$dir/app/vorcp-printer-app.log" | tail -n 10
  echo "no label reached the device"
  exit 1
fi
"$viewer" -o "$dir/png" "$out/high.prn" | grep -q "density: 14" || { echo "High did not print 40 % darker"; exit 1; }
cmp -s "$out/draft.prn" "$out/high.prn" && { echo "Draft and High printed the same label"; exit 1; }
cmp -s "$out/draft.prn" "$out/ref-draft.urf.prn" || { echo "Draft did not print as the threshold"; exit 1; }
cmp -s "$out/high.prn" "$out/ref-high.urf.prn" || { echo "High did not print as Stucki's diffusion 40 % darker"; exit 1; }
echo "the desktop's PDF printed through CUPS's IPP Everywhere queue: Draft with the threshold, High with Stucki's diffusion 40 % darker"
