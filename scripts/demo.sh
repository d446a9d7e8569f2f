#!/usr/bin/env bash
# Builds tallyplot and runs it once on the demo database:
#   - installs what it needs (Debian packages),
#   - builds the program in build/,
#   - starts a throwaway MariaDB server on a free loopback port,
#   - loads demo/demo.sql into it,
#   - runs `tallyplot chart.eps` with the program's default settings,
#   - renders both pages to chart-1.png and chart-2.png with Ghostscript,
#   - stops the server again, whatever happened.
# Run from anywhere; the files are written to the repository root.
# TALLYPLOT_BUILD_DIR and TALLYPLOT_DEMO_DIR override build/ and the
# output directory.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TALLYPLOT_BUILD_DIR:-$repo/build}
outdir=${TALLYPLOT_DEMO_DIR:-$repo}
server_dir=""

cleanup() {
  if [[ -n "$server_dir" ]]; then
    "$repo/tests/mariadb_server.sh" stop "$server_dir/db" || true
    rm -rf "$server_dir"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

bash "$repo/scripts/install_deps.sh"

echo "== building tallyplot in $build"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target tallyplot -j2

echo "== starting a throwaway MariaDB server"
server_dir=$(mktemp -d "${TMPDIR:-/tmp}/tallyplot-demo-XXXXXX")
"$repo/tests/mariadb_server.sh" start "$server_dir/db"
port=$(cat "$server_dir/db/port")

echo "== loading demo/demo.sql"
mariadb --no-defaults --host=127.0.0.1 --port="$port" --user=root \
  --password=wqzk <"$repo/demo/demo.sql"

echo "== running tallyplot chart.eps"
mkdir -p "$outdir"
cd "$outdir"
# The program connects on the client library's default port, which
# MYSQL_TCP_PORT sets; every other setting is the program's default.
MYSQL_TCP_PORT=$port "$build/tallyplot" chart.eps

echo "== rendering both pages"
rm -f chart-1.png chart-2.png
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r100 \
  -dTextAlphaBits=4 -dGraphicsAlphaBits=4 \
  -sOutputFile=chart-%d.png chart.eps
for page in chart-1.png chart-2.png; do
  [[ -s "$page" ]] || {
    echo "demo.sh: Ghostscript did not write $page" >&2
    exit 1
  }
done

echo
echo "Done. The demo document and its pages:"
echo "  $outdir/chart.eps"
echo "  $outdir/chart-1.png  (page 1: the chart)"
echo "  $outdir/chart-2.png  (page 2: the summary table)"
