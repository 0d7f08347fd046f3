#!/usr/bin/env bash
# Builds the Debian packages for amd64 and arm64 (cross-built) into
# build/packages/ and checks them (fresh Debian machine, as root: installs
# what is missing first):
#  - lintian reports no errors;
#  - amd64: the packages install, the printer application lists its two
#    drivers, a private cupsd on a free loopback port lists both models, a
#    queue made from an installed model prints the sample label through lp
#    to a file, the job passes tspl-view --check, and the packages remove
#    cleanly;
#  - arm64: the packaged filter, run under qemu user emulation, gives the
#    same job data to the byte as the amd64 one for every raster stream of
#    the fuzz corpus and for the sample job under several option sets; the
#    printer application starts under qemu.
# The printer application's package is built and checked when the tree has
# printer-app/.
#
#   bash scripts/package.sh            build and check
#   bash scripts/package.sh --build    build only (and lintian)
#   bash scripts/package.sh --check    check the packages built before
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root="$PWD"
build=1 check=1
case "${1:-}" in
  --build) check=0 ;;
  --check) build=0 ;;
  "") ;;
  *) sed -n '2,20p' "$0"; exit 2 ;;
esac

# The filter traces to a fixed path in /tmp: the runs here get a /tmp of
# their own, so they never meet another run's log (unless the tree itself is
# in /tmp, which the new /tmp would hide).
if [ -z "${RVC_PACKAGE_PRIVATE_TMP:-}" ] && [[ "$root/" != /tmp/* ]]; then
  exec unshare -m --propagation private env RVC_PACKAGE_PRIVATE_TMP=1 \
       sh -c 'mount -t tmpfs -o mode=1777 tmpfs /tmp && exec bash "$0" "$@"' "$0" "$@"
fi

bash scripts/setup.sh scripts/packages.txt scripts/packages-deb.txt
export LC_ALL=C
start=$SECONDS
out="$root/build/packages"
work="$out/work"
# The unpacked packages and the private cupsd's folder are read by other
# users (cupsd's filters run as lp, the app's check as nobody): in a folder
# of /tmp they are reachable wherever the tree itself lies.
reach="$(mktemp -d /tmp/rvc-package.XXXXXX)"
chmod 755 "$reach"
trap 'rm -rf "$reach"' EXIT

version="$(dpkg-parsechangelog -S Version)"
have_app=0
[ -f printer-app/CMakeLists.txt ] && have_app=1

if ((build)); then
  rm -rf "$out"
  mkdir -p "$work"

  # Each architecture builds in a copy of the tree: dpkg-buildpackage writes
  # its results next to the source folder and its build folder inside it, and
  # the two builds run at the same time, sharing the cores.
  per_build=$(($(nproc) / 2))
  ((per_build > 0)) || per_build=1
  build_arch() {
    local arch="$1" src="$work/$1/rastertovorcp-$version"
    mkdir -p "$src"
    tar -C "$root" --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$src"
    local args=(-us -uc -b)
    [ "$arch" = "$(dpkg --print-architecture)" ] || args+=(-a "$arch" -Pcross,nocheck)
    if ! (cd "$src" && DEB_BUILD_OPTIONS="nocheck parallel=$per_build" dpkg-buildpackage "${args[@]}") \
         >"$work/build-$arch.log" 2>&1; then
      tail -n 30 "$work/build-$arch.log" >&2
      echo "package: the $arch build failed (log: $work/build-$arch.log)" >&2
      return 1
    fi
    mv "$work/$arch"/*.deb "$work/$arch"/*.changes "$work/$arch"/*.buildinfo "$out/"
  }
  build_arch amd64 & amd64_pid=$!
  build_arch arm64 & arm64_pid=$!
  # The sample label as PDF meanwhile.
  bash samples/make-label.sh "$work/sample" >/dev/null
  failed=0
  wait "$amd64_pid" || failed=1
  wait "$arm64_pid" || failed=1
  ((failed == 0)) || exit 1
  echo "package: built in $((SECONDS - start)) s:"
  (cd "$out" && ls -1 *.deb | sed 's/^/  /')
  for deb in "$out"/*.deb; do
    case "$deb" in *-dbgsym_*) continue ;; esac
    echo "== dpkg -c $(basename "$deb")"
    dpkg -c "$deb" | awk '{print "  " $1, $3, $6}'
  done

  # Every tag is shown, pedantic and experimental ones too; only errors fail.
  # (As root lintian only says it would rather not run.)
  echo "== lintian"
  if ! lintian --fail-on error -I -E --pedantic "$out"/*.changes >"$out/lintian.txt" 2>&1; then
    cat "$out/lintian.txt"
    echo "package: lintian reports errors" >&2
    exit 1
  fi
  grep -v 'root privileges' "$out/lintian.txt" | sed 's/^/  /' || echo "  no tags"
fi
((check)) || exit 0
[ -d "$work/sample" ] || { echo "package: no packages built yet (--build)" >&2; exit 1; }

driver=printer-driver-vorcp
app=vorcp-printer-app
debs=("$out/${driver}_${version}_amd64.deb")
pkgs=("$driver")
if ((have_app)); then
  debs+=("$out/${app}_${version}_amd64.deb")
  pkgs+=("$app")
fi
for arch in amd64 arm64; do
  dpkg-deb -x "$out/${driver}_${version}_${arch}.deb" "$reach/root-$arch"
done
viewer="$work/amd64/rastertovorcp-$version/obj-x86_64-linux-gnu/tools/tspl-view"
[ -x "$viewer" ] || { echo "package: $viewer was not built" >&2; exit 1; }

# --- arm64: the packaged filter under emulation against the amd64 one ----
# The sample job is run with each of these job options.
options=(
  ""
  "Halftone=Adaptive"
  "Halftone=FloydSteinberg Rotation=Rotate90CW"
  "Halftone=Stucki Mirror=On"
  "Halftone=Screen15 Rotation=Rotate180 NegativeFilm=On"
  "Mode=Cutter CutMethod=Interval Interval=3 IsToDashed=On MinLength=5mm"
  "SavePaper=On Mirror=On HorizontalOffset=Left HorizontalOffsetValue=2mm"
  "Halftone=Screen8x16 Rotation=Rotate90CCW Brightness=m20 Contrast=30 Levels=Gamma045"
)
cmp_dir="$work/compare"
mkdir -p "$cmp_dir/in"
ppd203="$reach/root-amd64/usr/share/ppd/rastertovorcp/rastertovorcp-203.ppd"
cupsfilter -p "$ppd203" -m application/vnd.cups-raster "$work/sample/label.pdf" \
    >"$cmp_dir/in/sample.ras" 2>"$cmp_dir/cupsfilter.log" ||
  { tail -n 20 "$cmp_dir/cupsfilter.log" >&2; echo "package: cupsfilter failed" >&2; exit 1; }
# One line per run: name, raster stream, options.
: >"$cmp_dir/runs"
# A raster fuzz input is the job's options, a zero byte and the raster
# stream; one without a zero byte is all options. (LC_ALL=C: ${#opts} counts
# bytes.)
for f in fuzz/corpus/raster_job_fuzz/*; do
  name="$(basename "$f")"
  IFS= read -r -d '' opts <"$f" || true
  tail -c +$((${#opts} + 2)) "$f" >"$cmp_dir/in/$name.ras"
  # Tabs and line ends would split the run's line.
  printf '%s\t%s\t%s\n' "corpus-$name" "$cmp_dir/in/$name.ras" "${opts//[$'\t\n']/ }" >>"$cmp_dir/runs"
done
for i in "${!options[@]}"; do
  printf '%s\t%s\t%s\n' "sample-$i" "$cmp_dir/in/sample.ras" "${options[$i]}" >>"$cmp_dir/runs"
done

# qemu 7.2 hangs a threaded program started with -L at its first thread;
# started through the arm64 loader it runs.
arm64_run=(qemu-aarch64-static /usr/aarch64-linux-gnu/lib/ld-linux-aarch64.so.1
           --library-path /usr/aarch64-linux-gnu/lib:/usr/lib/aarch64-linux-gnu)
run_filter() {  # arch name raster options
  local cmd=("$reach/root-$1/usr/lib/cups/filter/rastertovorcp")
  [ "$1" = arm64 ] && cmd=("${arm64_run[@]}" "${cmd[@]}")
  local rc=0
  PPD="$reach/root-$1/usr/share/ppd/rastertovorcp/rastertovorcp-203.ppd" \
    timeout 300 "${cmd[@]}" 1 user "$2" 1 "$4" "$3" \
    >"$cmp_dir/$2.$1.tspl" 2>"$cmp_dir/$2.$1.err" || rc=$?
  echo "$rc" >"$cmp_dir/$2.$1.status"
}
compare_arm64() {
  local name ras opts running=0 n=0
  # Most of a run is the filter's wait after each page: 16 at a time, a new
  # one as soon as one ends.
  while IFS=$'\t' read -r name ras opts; do
    for arch in amd64 arm64; do
      if ((running >= 16)); then wait -n || true; running=$((running - 1)); fi
      run_filter "$arch" "$name" "$ras" "$opts" &
      running=$((running + 1))
    done
  done <"$cmp_dir/runs"
  wait
  local same=0 differ=0
  while IFS=$'\t' read -r name ras opts; do
    n=$((n + 1))
    local a="$cmp_dir/$name.amd64" b="$cmp_dir/$name.arm64"
    if cmp -s "$a.tspl" "$b.tspl" && cmp -s "$a.status" "$b.status"; then
      same=$((same + 1))
    else
      differ=$((differ + 1))
      echo "arm64: $name differs (options '$opts'; status $(cat "$a.status") / $(cat "$b.status"))"
      cmp "$a.tspl" "$b.tspl" | head -n 1 || true
    fi
  done <"$cmp_dir/runs"
  local bytes
  bytes=$(cat "$cmp_dir"/*.amd64.tspl | wc -c)
  echo "arm64: $same of $n jobs byte-identical to amd64 ($bytes bytes of job data)"
  if ((have_app)); then
    # The cross-built application starts under emulation.
    local drivers home
    dpkg-deb -x "$out/${app}_${version}_arm64.deb" "$reach/root-arm64"
    home="$(mktemp -d /tmp/vorcp-home.XXXXXX)"
    chown nobody "$home"
    drivers="$(cd / && runuser -u nobody -- env HOME="$home" \
                 "${arm64_run[@]}" "$reach/root-arm64/usr/bin/vorcp-printer-app" drivers 2>&1)" ||
      { echo "$drivers"; echo "arm64: vorcp-printer-app drivers failed"; return 1; }
    if ! grep -q 203 <<<"$drivers" || ! grep -q 300 <<<"$drivers"; then
      echo "$drivers"; echo "arm64: vorcp-printer-app lacks the 203 or 300 dpi driver"; return 1
    fi
    echo "arm64: vorcp-printer-app drivers under qemu lists both drivers"
  fi
  # A comparison of empty outputs proves nothing: the sample must print.
  [ -s "$cmp_dir/sample-0.amd64.tspl" ] || { echo "arm64: the sample job gave no data"; return 1; }
  ((differ == 0))
}

# --- amd64: install, a private cupsd, print, remove ----------------------
free_port() {
  local p
  for _ in $(seq 1 50); do
    p=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return 0; }
  done
  return 1
}

check_amd64() {
  local dir="$reach/cupsd"
  mkdir -p "$dir"/{conf,spool/tmp,cache,state,log}
  chmod 755 "$dir"
  # dpkg itself (what they need is installed: scripts/packages-deb.txt);
  # apt would only add its own reading of the archive's lists.
  dpkg -i "${debs[@]}" >"$dir/install.log" 2>&1 ||
    { cat "$dir/install.log"; echo "amd64: the packages do not install"; return 1; }
  echo "amd64: installed ${pkgs[*]}"

  if ((have_app)); then
    # As an ordinary user, as root would create the system's spool folders.
    local drivers home
    home="$(mktemp -d /tmp/vorcp-home.XXXXXX)"
    chown nobody "$home"
    drivers="$(cd / && runuser -u nobody -- env HOME="$home" vorcp-printer-app drivers 2>&1)" ||
      { echo "$drivers"; echo "amd64: vorcp-printer-app drivers failed"; return 1; }
    if ! grep -q 203 <<<"$drivers" || ! grep -q 300 <<<"$drivers"; then
      echo "$drivers"; echo "amd64: vorcp-printer-app lacks the 203 or 300 dpi driver"; return 1
    fi
    echo "amd64: vorcp-printer-app drivers:"
    sed 's/^/  /' <<<"$drivers"
  fi

  local port pid=
  port="$(free_port)" || { echo "amd64: no free port"; return 1; }
  cat >"$dir/conf/cupsd.conf" <<EOF
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
  cat >"$dir/conf/cups-files.conf" <<EOF
ServerRoot $dir/conf
RequestRoot $dir/spool
TempDir $dir/spool/tmp
CacheDir $dir/cache
StateDir $dir/state
ErrorLog $dir/log/error_log
AccessLog $dir/log/access_log
PageLog $dir/log/page_log
Printcap $dir/state/printcap
FileDevice Yes
SystemGroup root
EOF
  cupsd -f -c "$dir/conf/cupsd.conf" -s "$dir/conf/cups-files.conf" >"$dir/log/cupsd.out" 2>&1 &
  pid=$!
  local rc=0
  spooler_checks "$dir" "127.0.0.1:$port" || rc=$?
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  if ((rc)); then
    echo "amd64: cupsd's log:"
    grep -E '^E |\[Job ' "$dir/log/error_log" | tail -n 40 || cat "$dir/log/cupsd.out"
    return "$rc"
  fi

  dpkg --purge "${pkgs[@]}" >"$dir/remove.log" 2>&1 ||
    { cat "$dir/remove.log"; echo "amd64: the packages do not remove"; return 1; }
  local p left=0
  for p in "${pkgs[@]}"; do
    if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q installed; then
      echo "amd64: $p is still installed"; left=1
    fi
  done
  for f in /usr/lib/cups/filter/rastertovorcp /usr/share/ppd/rastertovorcp /usr/bin/vorcp-printer-app \
           /lib/systemd/system/vorcp-printer-app.service; do
    [ -e "$f" ] && { echo "amd64: $f is left after removal"; left=1; }
  done
  ((left == 0)) || return 1
  echo "amd64: the packages removed cleanly"
}

spooler_checks() {  # dir host
  local dir="$1" host="$2" i
  for i in $(seq 1 100); do
    lpstat -h "$host" -r 2>/dev/null | grep -q 'is running' && break
    sleep 0.2
  done
  # Another program on the port would answer too: the log says whose it is.
  grep -q "Listening to 127.0.0.1:${host##*:}" "$dir/log/error_log" 2>/dev/null ||
    { echo "amd64: the private cupsd does not listen on $host"; return 1; }

  # cups-driverd names the PPDs under /usr/share/ppd lsb/usr/<folder>/<file>.
  local models model
  models="$(lpinfo -h "$host" -m)"
  for m in rastertovorcp-203.ppd rastertovorcp-300.ppd; do
    grep -q "^lsb/usr/rastertovorcp/$m " <<<"$models" || { echo "amd64: lpinfo -m does not list $m"; return 1; }
  done
  echo "amd64: lpinfo -m lists:"
  grep '^lsb/usr/rastertovorcp/' <<<"$models" | sed 's/^/  /'

  model=lsb/usr/rastertovorcp/rastertovorcp-203.ppd
  # lpadmin's notice that PPD drivers are deprecated shows only on failure.
  local said
  said="$(lpadmin -h "$host" -p label -E -v "file://$dir/label.tspl" -m "$model" 2>&1)" ||
    { echo "$said"; echo "amd64: lpadmin failed"; return 1; }
  local req id
  # Job options away from the defaults must reach the filter.
  req="$(lp -h "$host" -d label -o Density=12 -o Rotation=Rotate90CCW "$work/sample/label.pdf")" ||
    { echo "amd64: lp failed"; return 1; }
  id="${req#request id is label-}"
  id="${id%% *}"
  for i in $(seq 1 300); do
    grep -qE "\[Job $id\] Job (completed|stopped|canceled|aborted)" "$dir/log/error_log" && break
    sleep 0.2
  done
  grep -q "\[Job $id\] Job completed" "$dir/log/error_log" ||
    { echo "amd64: job $id did not complete"; return 1; }
  "$viewer" --check "$dir/label.tspl" ||
    { echo "amd64: tspl-view rejects the job"; return 1; }
  grep -aq $'^DENSITY 12\r$' "$dir/label.tspl" ||
    { echo "amd64: the job's Density=12 did not reach the filter"; return 1; }
  # The 4 in wide page, turned a quarter, is 4 in (813 dots at 203 dpi) long.
  grep -aq $'^SIZE [0-9]* dot,813 dot\r$' "$dir/label.tspl" ||
    { head -c 300 "$dir/label.tspl"; echo "amd64: the job's Rotation did not reach the filter"; return 1; }
  echo "amd64: job $id printed the sample through lp to a file: $(stat -c %s "$dir/label.tspl") bytes, tspl-view --check passes"
}

failed=0
check_amd64 >"$work/amd64.out" 2>&1 & amd64_pid=$!
compare_arm64 >"$work/arm64.out" 2>&1 & arm64_pid=$!
wait "$amd64_pid" || failed=1
wait "$arm64_pid" || failed=1
cat "$work/amd64.out" "$work/arm64.out"
echo "package: $((SECONDS - start)) s in all"
((failed == 0)) || { echo "package: the checks failed" >&2; exit 1; }
