#!/usr/bin/env bash
# Formats every C++ file of the repository with its .clang-format, or with
# --check only reports the files that differ (and fails).
#
#   bash scripts/format.sh           rewrite in place
#   bash scripts/format.sh --check   list unformatted files, exit 1 if any
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
fmt="$(command -v clang-format || command -v clang-format-14)"
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.cc' '*.hpp')
if [ "${1:-}" = --check ]; then
  bad=0
  for f in "${files[@]}"; do
    if ! "$fmt" --style=file "$f" | cmp -s - "$f"; then
      echo "format: $f is not formatted (bash scripts/format.sh)"
      bad=1
    fi
  done
  exit "$bad"
fi
"$fmt" --style=file -i "${files[@]}"
