#!/usr/bin/env bash
# Regenerates the README's pictures: runs the demo and keeps its two pages.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/demo.sh
cp chart-1.png docs/chart-1.png
cp chart-2.png docs/chart-2.png
echo "Updated docs/chart-1.png and docs/chart-2.png"
