#!/usr/bin/env bash
# Makes the sample shipping label from its PostScript source:
#   make-label.sh <out-dir>  ->  <out-dir>/label.pdf and <out-dir>/label.png
# The PNG is the same label rendered at 203 dpi (812 x 1218 pixels).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
out="${1:?usage: make-label.sh <out-dir>}"
mkdir -p "$out"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -dCompatibilityLevel=1.4 \
   -sOutputFile="$out/label.pdf.tmp" "$here/label.ps"
mv "$out/label.pdf.tmp" "$out/label.pdf"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r203 \
   -sOutputFile="$out/label.png.tmp" "$here/label.ps"
mv "$out/label.png.tmp" "$out/label.png"
