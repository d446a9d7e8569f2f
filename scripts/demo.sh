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
if ((shards > 0)); then
  echo "Done. The demo document, read from a Spider cluster of $shards backends"
  echo "(the data table partitioned by selectednum), and its pages:"
else
  echo "Done. The demo document and its pages:"
fi
echo "  $outdir/chart.eps"
echo "  $outdir/chart-1.png  (page 1: the chart)"
echo "  $outdir/chart-2.png  (page 2: the summary table)"
