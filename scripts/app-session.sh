# Runs vorcp-printer-app for a script: source it, then
#   app_start APP PPD-DIR STATE-DIR    server on a free 127.0.0.1 port ($APP_PORT)
#   app_add_printer NAME DRIVER URI    a printer (its IPP URI: $APP_URI/ipp/print/NAME)
#   app_stop                           SIGTERM, which stops it within a second
app_start() {
  APP="$1"
  local ppd_dir="$2"
  APP_DIR="$3"
  mkdir -p "$APP_DIR"
  APP_PORT="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
  APP_URI="ipp://localhost:$APP_PORT"
  "$APP" server -o state-directory="$APP_DIR" -o ppd-directory="$ppd_dir" \
    -o server-port="$APP_PORT" >"$APP_DIR/server.out" 2>&1 &
  APP_PID=$!
  # A port taken meanwhile leaves the server on ::1 alone: wait for this very
  # process on 127.0.0.1.
  local i
  for i in $(seq 100); do
    if ss -Htlnp "sport = :$APP_PORT" 2>/dev/null | grep -q "127.0.0.1:$APP_PORT .*pid=$APP_PID,"; then
      return 0
    fi
    kill -0 "$APP_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "vorcp-printer-app did not start on 127.0.0.1:$APP_PORT:" >&2
  cat "$APP_DIR/server.out" >&2
  app_stop
  return 1
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
