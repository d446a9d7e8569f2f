#!/usr/bin/env bash
# Regenerates the README's pictures from the demo, at the program's default
# resolution. Page 1 is the program's own PNG (tallyplot chart.png). Page 2,
# which the program's PNG does not hold, is rendered from the demo's
# chart.eps by Ghostscript with the settings the program renders page 1
# with, so both pictures share one scale and the same smoothing.
set -euo pipefail
cd "$(dirname "$0")/.."
demo=$(mktemp -d "${TMPDIR:-/tmp}/tallyplot-pictures-XXXXXX")
trap 'rm -rf -- "$demo"' EXIT
env -u TALLYPLOT_PNG_DPI -u TALLYPLOT_DEFAULTS_FILE TALLYPLOT_DEMO_DIR="$demo" \
  scripts/demo.sh
cp "$demo/chart.png" docs/chart-1.png
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r150 \
  -dFirstPage=2 -dLastPage=2 -dTextAlphaBits=4 -dGraphicsAlphaBits=4 \
  -sOutputFile=docs/chart-2.png "$demo/chart.eps"
echo "Updated docs/chart-1.png and docs/chart-2.png"
