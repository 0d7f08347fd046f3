# Runs vorcp-printer-app for a script: source it, then
#   app_start APP PPD-DIR STATE-DIR    server on a free 127.0.0.1 port ($APP_PORT)
#   app_add_printer NAME DRIVER URI    a printer (its IPP URI: $APP_URI/ipp/print/NAME)
#   app_stop                           SIGTERM, which stops it within a second
app_start() {
  APP="$1"
  local ppd_dir="$2"
  APP_DIR="$3"
  mkdir -p "$APP_DIR"
  # A port no socket uses now; one taken meanwhile leaves the server on ::1
  # alone or ends it, and the next try takes another.
  local try i
  for try in 1 2 3 4 5; do
    APP_PORT="$(free_port)"
    APP_URI="ipp://localhost:$APP_PORT"
    "$APP" server -o state-directory="$APP_DIR" -o ppd-directory="$ppd_dir" \
      -o server-port="$APP_PORT" >"$APP_DIR/server.out" 2>&1 &
    APP_PID=$!
    for i in $(seq 500); do
      if ss -Htlnp "sport = :$APP_PORT" 2>/dev/null | grep -q "127.0.0.1:$APP_PORT .*pid=$APP_PID,"; then
        return 0
      fi
      kill -0 "$APP_PID" 2>/dev/null || break
      [ "$i" -lt 100 ] && sleep 0.01 || sleep 0.1
    done
    app_stop
  done
  echo "vorcp-printer-app did not start on 127.0.0.1:$APP_PORT:" >&2
  cat "$APP_DIR/server.out" >&2
  return 1
}

# A TCP port in 20000-59999 that no socket uses at the moment.
free_port() {
  local used port
  used=" $(ss -Htan | awk '{n = split($4, a, ":"); printf "%s ", a[n]}') "
  while :; do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    [[ "$used" == *" $port "* ]] || break
  done
  echo "$port"
}

app_add_printer() {
  "$APP" add -u "$APP_URI/" -d "$1" -m "$2" -v "$3"
}

app_stop() {
  if [ -n "${APP_PID:-}" ]; then
    kill "$APP_PID" 2>/dev/null || true
    wait "$APP_PID" 2>/dev/null || true
    APP_PID=
  fi
}
