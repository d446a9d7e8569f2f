#!/usr/bin/env bash
# Builds tallyplot and runs it once on the demo database:
#   - installs what it needs (Debian packages),
#   - builds the program in build/,
#   - starts a throwaway MariaDB server on a free loopback port,
#   - loads demo/demo.sql into it,
#   - runs the program three times with its default settings, writing
#     chart.eps (the document), chart.pdf (both pages) and chart.png (the
#     chart page, rendered by Ghostscript as the program does for .png),
#   - stops the server again, whatever happened.
# Run from anywhere; the files are written to the repository root.
# TALLYPLOT_BUILD_DIR and TALLYPLOT_DEMO_DIR override build/ and the
# output directory.
#
# Usage: scripts/demo.sh [--shards N]
#
# With --shards N the demo database lives on a throwaway Spider cluster
# instead (tests/mariadb_cluster.sh): N backend servers and a frontend the
# program connects to, the data table partitioned by HASH(selectednum) over
# the backends. The document is the same, byte for byte.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TALLYPLOT_BUILD_DIR:-$repo/build}
outdir=${TALLYPLOT_DEMO_DIR:-$repo}
server_dir=""
shards=0

usage() {
  echo "usage: scripts/demo.sh [--shards N]" >&2
  exit 2
}

parse_args() {
  if [[ $# -eq 2 && "$1" == --shards ]]; then
    shards=$2
    [[ "$shards" =~ ^([1-9]|[1-9][0-9])$ ]] || usage
  elif [[ $# -ne 0 ]]; then
    usage
  fi
}

cleanup() {
  if [[ -n "$server_dir" ]]; then
    "$repo/tests/mariadb_cluster.sh" stop "$server_dir/cluster" || true
    "$repo/tests/mariadb_server.sh" stop "$server_dir/db" || true
    rm -rf "$server_dir"
  fi
}

# Sets port to a server holding the demo database: one server, or the
# frontend of a cluster whose backends hold the data table's rows.
start_database() {
  server_dir=$(mktemp -d "${TMPDIR:-/tmp}/tallyplot-demo-XXXXXX")
  if ((shards == 0)); then
    echo "== starting a throwaway MariaDB server"
    "$repo/tests/mariadb_server.sh" start "$server_dir/db"
    port=$(cat "$server_dir/db/port")
    load_demo
    return
  fi
  echo "== starting a throwaway Spider cluster of $shards backends"
  "$repo/tests/mariadb_cluster.sh" start "$server_dir/cluster" "$shards"
  port=$(cat "$server_dir/cluster/port")
  load_demo
  local backends
  mapfile -t backends < <(seq 1 "$shards")
  echo "== moving vetch_output.fleen to the backends, partitioned by selectednum"
  "$repo/tests/mariadb_cluster.sh" shard "$server_dir/cluster" vetch_output \
    fleen selectednum "${backends[@]}"
}

load_demo() {
  echo "== loading demo/demo.sql"
  mariadb --no-defaults --host=127.0.0.1 --port="$port" --user=root \
    --password=wqzk <"$repo/demo/demo.sql"
}

parse_args "$@"
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

bash "$repo/scripts/install_deps.sh"

echo "== building tallyplot in $build"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# The manual page and changelog too, so that `cmake --install` works after it.
cmake --build "$build" --target tallyplot tallyplot.1_gz changelog_gz -j2

start_database

mkdir -p "$outdir"
cd "$outdir"
# The program connects on the client library's default port, which
# MYSQL_TCP_PORT sets; every other setting is the program's default. The
# output name chooses the format.
for chart in chart.eps chart.pdf chart.png; do
  echo "== running tallyplot $chart"
  MYSQL_TCP_PORT=$port "$build/tallyplot" "$chart"
done

echo
if ((shards > 0)); then
  echo "Done. The demo document, read from a Spider cluster of $shards backends"
  echo "(the data table partitioned by selectednum):"
else
  echo "Done. The demo document:"
fi
printf '  %s  (%s bytes: the two-page EPS document)\n' "$outdir/chart.eps" \
  "$(stat -c %s chart.eps)"
printf '  %s  (%s bytes: both pages as a PDF)\n' "$outdir/chart.pdf" \
  "$(stat -c %s chart.pdf)"
printf '  %s  (%s bytes: page 1, the chart, as a PNG picture)\n' \
  "$outdir/chart.png" "$(stat -c %s chart.png)"
