#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/packages.txt (or in the
# lists given as arguments) that are not installed yet; does nothing
# (quickly) when all are present. An entry name:arch of a foreign
# architecture adds that architecture to dpkg first.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
(($#)) || set -- "$here/packages.txt"
mapfile -t wanted < <(cat "$@" | grep -v '^\s*#' | sed '/^\s*$/d')
missing=()
for p in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: must run as root to install packages" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  native="$(dpkg --print-architecture)"
  for arch in $(printf '%s\n' "${missing[@]}" | sed -n 's/.*:\(.*\)$/\1/p' | sort -u); do
    if [ "$arch" != "$native" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
      dpkg --add-architecture "$arch"
    fi
  done
  apt-get -o DPkg::Lock::Timeout=600 update -qq
  apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
