#!/usr/bin/env bash
# Measures how long tallyplot takes against a throwaway MariaDB server, next
# to what the server itself needs for the same work:
#
#   (a) the program:  tallyplot out.eps  (default settings, MYSQL_TCP_PORT set)
#   (b) exactly the per-series plan's statements, in the program's order, sent
#       through the stock `mariadb` client in one session: the server's cost
#       of that query plan, one full grouped scan per series
#   (c) one statement computing every count and sum in a single grouped scan:
#       the floor for any client of this table
#   (d) the program with the per-series plan:
#       TALLYPLOT_PLAN=per-series tallyplot out.eps
#   (e) the same single grouped scan as (c) with every flag summed as a
#       double, sum(col + sqrt(0)): the floor for the program's one-pass
#       plan, which sums the (TINYINT) flag columns of this table that way
#   (f) the same with sum(col + 0e0), the double sum a Spider frontend
#       hands its backends as the exact sum((col + 0)): on a cluster, the
#       floor of the exact sums again
#   (g) the bare grouped scan, select selectednum, count(idx) ... group by
#       selectednum: what any statement over these groups costs at least;
#       a/g is the program's cost as a multiple of it
#   (h) the flags packed three to a double sum, 17 bits each (exact for
#       groups of up to 131,071 rows whose flags are 0 or 1), with count(*)
#       and a bit_or of every flag as the proof that they are: the cheapest
#       exact packing of several flags into one aggregate, next to (e)
#   (i) the program with its scan split over 2 connections:
#       TALLYPLOT_JOBS=2 tallyplot out.eps
#   (j) the same over 4 connections: TALLYPLOT_JOBS=4
#
# Usage: bench/bench.sh [--rows-per-group N] [--extra-series K] [--reps R]
#                       [--shards N] [--build-dir DIR | --program PATH]
#                       [--cases LETTERS] [--print-queries]
#
# --cases runs only the cases named (say agij, to compare the split scan
# with the one statement without the minutes the per-series cases take);
# (a) always runs, for the other documents are checked against its.
#
# With --shards N the same cases also run against a throwaway Spider cluster
# (tests/mariadb_cluster.sh) of N backends and a frontend with
# spider_bgs_mode=1, holding the same rows: the generated SQL is loaded into
# the frontend too and its data table moved into a Spider table partitioned
# by HASH(selectednum) over the backends (`sums` stays a local table of the
# frontend). Single server and cluster run alternately; the script prints
# both tables, the ratios cluster/single, and insists that both give the same
# document, byte for byte.
#
# The data table holds 37 selectednum groups of N rows (37 x N rows), the
# fifteen fixed flag columns and K extra ones, each named by a `sums` row with
# increment 1. After one warm-up of each, a to j run alternately R times;
# the script prints their medians, the ratios a/b, a/c, a/e, a/g, d/b,
# h/e, i/a, j/a, i/g and j/g, and the
# program's CPU time and peak RSS as /usr/bin/time -v reports them. Figures
# are printed only when every run succeeded and the program's documents
# rendered and agreed.
#
# Every server (and every backend) gets a 512 MiB InnoDB buffer pool (SET
# GLOBAL) so the ~48 MiB table of 1.1M rows stays in memory: the figures
# measure query work, not the disk. Wall times come from bash's EPOCHREALTIME.
set -euo pipefail
export LC_ALL=C

BENCH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO_DIR=$(cd "$BENCH_DIR/.." && pwd)
readonly BENCH_DIR REPO_DIR
readonly SERVER_SCRIPT="$REPO_DIR/tests/mariadb_server.sh"
readonly CLUSTER_SCRIPT="$REPO_DIR/tests/mariadb_cluster.sh"
cases=(a b c d e f g h i j)
readonly PASSWORD=wqzk
readonly BUFFER_POOL_BYTES=$((512 * 1024 * 1024))
readonly FIXED_COLUMNS=(any_exceeded_inc crewtrng_xcd crewtime_xcd upmass_xcd
  keepalive_xcd stowage_xcd middecks_xcd energy_xcd energy_crewtend_xcd
  acoustics_xcd acoustics_crewtend_xcd MTL_xcd MTL_crewtend_xcd LTL_xcd
  LTL_crewtend_xcd)

rows_per_group=100
extra_series=3
reps=5
build_dir="$REPO_DIR/build-bench"
program=""
print_queries=0
shards=0
work=""
port=""
single_port=""
cluster_port=""
target=single

die() {
  echo "bench.sh: $*" >&2
  exit 1
}

usage() {
  cat >&2 <<'TEXT'
Usage: bench/bench.sh [--rows-per-group N] [--extra-series K] [--reps R]
                      [--shards N] [--build-dir DIR | --program PATH]
                      [--print-queries]
TEXT
  exit 2
}

# Sets the cases to run from letters such as agij; (a) is always among them.
read_cases() {
  [[ "$1" =~ ^[a-j]+$ ]] || die "--cases takes letters from a to j"
  cases=(a)
  local letter
  for letter in b c d e f g h i j; do
    [[ "$1" == *"$letter"* ]] && cases+=("$letter")
  done
  return 0
}

# Whether case $1 is among those run.
running() {
  [[ " ${cases[*]} " == *" $1 "* ]]
}

parse_args() {
  while [[ $# -gt 0 ]]; do
    if [[ "$1" == --print-queries ]]; then
      print_queries=1
      shift
      continue
    fi
    [[ $# -ge 2 ]] || usage
    case "$1" in
      --rows-per-group) rows_per_group=$2 ;;
      --extra-series) extra_series=$2 ;;
      --reps) reps=$2 ;;
      --shards) shards=$2 ;;
      --build-dir) build_dir=$2 ;;
      --program) program=$2 ;;
      --cases) read_cases "$2" ;;
      *) usage ;;
    esac
    shift 2
  done
  [[ "$rows_per_group" =~ ^[1-9][0-9]*$ ]] || die "--rows-per-group must be a positive integer"
  [[ "$extra_series" =~ ^[0-9]+$ ]] || die "--extra-series must be a non-negative integer"
  [[ "$reps" =~ ^[1-9][0-9]*$ ]] || die "--reps must be a positive integer"
  [[ "$shards" =~ ^([1-9]|[1-9][0-9])$ ]] || [[ "$shards" == 0 ]] ||
    die "--shards must be a number of backends from 1 to 99"
}

# Installs from Debian's packages whatever of the toolchain, server, client,
# Spider engine, Ghostscript and GNU time is missing (a fresh machine, as
# root).
ensure_tools() {
  local missing=0 tool
  for tool in cmake g++ pkg-config mariadb gs; do
    command -v "$tool" >/dev/null 2>&1 || missing=1
  done
  [[ -x /usr/sbin/mariadbd && -x /usr/bin/time ]] || missing=1
  dpkg-query -W -f='${Status}' mariadb-plugin-spider 2>/dev/null |
    grep -q 'install ok installed' || missing=1
  pkg-config --exists libmariadb 2>/dev/null || missing=1
  ((missing)) || return 0
  [[ $(id -u) -eq 0 ]] || die "tools are missing and only root can install them"
  echo "Installing the missing tools from Debian's packages..."
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq cmake g++ pkg-config \
    libmariadb-dev mariadb-server mariadb-client mariadb-plugin-spider \
    ghostscript time >/dev/null
}

# Builds the Release program unless --program named one.
build_program() {
  if [[ -n "$program" ]]; then
    [[ -x "$program" ]] || die "not an executable: $program"
    program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
    return
  fi
  echo "Building the Release program in $build_dir..."
  if ! cmake -S "$REPO_DIR" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release \
    -DTALLYPLOT_TESTS=OFF >"$work/build.log" 2>&1 ||
    ! cmake --build "$build_dir" -j2 --target tallyplot >>"$work/build.log" 2>&1; then
    cat "$work/build.log" >&2
    die "the build failed"
  fi
  program="$build_dir/tallyplot"
}

cleanup() {
  if [[ -n "$work" && -d "$work" ]]; then
    "$CLUSTER_SCRIPT" stop "$work/cluster" || true
    "$SERVER_SCRIPT" stop "$work/db" || true
    rm -rf "$work"
  fi
}

# The stock client on the current target's server (the frontend for the
# cluster); extra arguments are passed on.
client() {
  client_at "$port" "$@"
}

client_at() {
  local at=$1
  shift
  mariadb --no-defaults --host=127.0.0.1 --port="$at" --user=root \
    --password="$PASSWORD" "$@"
}

# Gives the server on port $1 the benchmark's buffer pool and waits until it
# has grown.
grow_buffer_pool() {
  local at=$1 tries=0
  client_at "$at" -e "SET GLOBAL innodb_buffer_pool_size = $BUFFER_POOL_BYTES"
  while [[ $(client_at "$at" -N -e "SELECT @@innodb_buffer_pool_size") -lt $BUFFER_POOL_BYTES ]]; do
    ((++tries < 100)) || die "the buffer pool did not grow"
    sleep 0.1
  done
}

start_server() {
  "$SERVER_SCRIPT" start "$work/db" >/dev/null || die "the server did not start"
  single_port=$(cat "$work/db/port")
  grow_buffer_pool "$single_port"
}

# N backends and a frontend with spider_bgs_mode=1 (set by the cluster
# script); the backends hold the rows, so they get the buffer pool too.
start_cluster() {
  "$CLUSTER_SCRIPT" start "$work/cluster" "$shards" >/dev/null ||
    die "the cluster did not start"
  cluster_port=$(cat "$work/cluster/port")
  local k
  grow_buffer_pool "$cluster_port"
  for ((k = 1; k <= shards; k++)); do
    grow_buffer_pool "$(cat "$work/cluster/b$k/port")"
  done
}

# Points client, the cases and the document checks at one target.
use_target() {
  target=$1
  if [[ "$target" == cluster ]]; then port=$cluster_port; else port=$single_port; fi
}

# Microseconds between two EPOCHREALTIME readings.
elapsed_us() {
  local start=${1/./} end=${2/./}
  echo $((10#$end - 10#$start))
}

# Loads the generated SQL into the single server; the statements are kept
# for the cluster, so both hold the same rows.
load_data() {
  local start end
  "$BENCH_DIR/generate_sql.sh" "$rows_per_group" "$extra_series" >"$work/data.sql"
  start=$EPOCHREALTIME
  client <"$work/data.sql" >"$work/load.log"
  end=$EPOCHREALTIME
  load_us=$(elapsed_us "$start" "$end")
  table_mib=$(client -N -e "SELECT ROUND((data_length + index_length) / 1048576, 1)
    FROM information_schema.tables
    WHERE table_schema = 'vetch_output' AND table_name = 'fleen'")
  check_row_count
}

check_row_count() {
  local rows
  rows=$(client -N -e "SELECT COUNT(*) FROM vetch_output.fleen")
  [[ "$rows" -eq $((37 * rows_per_group)) ]] || die "$target: $rows rows, expected $((37 * rows_per_group))"
}

# The same SQL into the frontend, then the data table moved into a Spider
# table partitioned by selectednum over every backend.
load_cluster_data() {
  local start end k backends=()
  for ((k = 1; k <= shards; k++)); do
    backends+=("$k")
  done
  start=$EPOCHREALTIME
  client <"$work/data.sql" >"$work/cluster-load.log"
  "$CLUSTER_SCRIPT" shard "$work/cluster" vetch_output fleen selectednum \
    "${backends[@]}" || die "the data table could not be sharded"
  end=$EPOCHREALTIME
  cluster_load_us=$(elapsed_us "$start" "$end")
  check_row_count
  for ((k = 1; k <= shards; k++)); do
    client_at "$(cat "$work/cluster/b$k/port")" -N \
      -e "ANALYZE TABLE vetch_output.fleen" >/dev/null
  done
}

# The per-series plan's statements in the order the program sends them: the
# group size, the fixed series, the sums rows, then one series per selected
# sums row. The program reads sums on a second connection to vetch_data; here
# one session switches databases instead.
write_program_queries() {
  local column outputfield
  {
    echo "select count(idx) from fleen group by selectednum;"
    for column in "${FIXED_COLUMNS[@]}"; do
      echo "select selectednum, sum($column) from fleen group by selectednum order by selectednum asc;"
    done
    echo "use vetch_data"
    echo "select * from sums where increment=1;"
    echo "use vetch_output"
    while IFS= read -r outputfield; do
      echo "select selectednum, sum(${outputfield}_xcd) from fleen group by selectednum order by selectednum asc;"
    done < <(client -N -D vetch_data -e "select outputfield from sums where increment=1")
  } >"$work/program_queries.sql"
  query_count=$(grep -c '^select' "$work/program_queries.sql")
}

# Every count and sum of the chart in one grouped scan, exact (c) and as
# doubles (e).
write_single_scan_queries() {
  local columns=() k
  columns=("${FIXED_COLUMNS[@]}")
  for ((k = 1; k <= extra_series; k++)); do
    columns+=("extra${k}_xcd")
  done
  local sums
  sums=$(printf ', sum(%s)' "${columns[@]}")
  echo "select selectednum, count(idx)$sums from fleen group by selectednum order by selectednum;" \
    >"$work/single_scan.sql"
  sums=$(printf ', sum(%s + sqrt(0))' "${columns[@]}")
  echo "select selectednum, count(idx)$sums from fleen group by selectednum order by selectednum;" \
    >"$work/double_scan.sql"
  sums=$(printf ', sum(%s + 0e0)' "${columns[@]}")
  echo "select selectednum, count(idx)$sums from fleen group by selectednum order by selectednum;" \
    >"$work/literal_scan.sql"
  echo "select selectednum, count(idx) from fleen group by selectednum order by selectednum;" \
    >"$work/bare_scan.sql"
  write_packed_scan_query "${columns[@]}"
}

# Case (h): the columns three to a double sum, 2^17 apart, then count(*) and
# the bit_or of all of them, which decide per group whether the sums decode.
write_packed_scan_query() {
  local columns=("$@") sums="" k proof
  for ((k = 0; k < ${#columns[@]}; k += 3)); do
    sums+=", sum(${columns[k]}"
    ((k + 1 < ${#columns[@]})) && sums+=" + ${columns[k + 1]} * 131072"
    ((k + 2 < ${#columns[@]})) && sums+=" + ${columns[k + 2]} * 17179869184"
    sums+=" + sqrt(0))"
  done
  proof=$(printf ' | %s' "${columns[@]}")
  echo "select selectednum, count(idx), count(*)$sums, bit_or(${proof# | }) from fleen group by selectednum order by selectednum;" \
    >"$work/packed_scan.sql"
}

# Runs one case on the current target under /usr/bin/time -v; appends its
# wall time in microseconds to $work/<target>-<case>.wall and keeps time's
# report in $work/<target>-<case>.time.<n>. The program's cases write
# <target>-<case>.eps.
run_case() {
  local name=$1 n=$2 start end status=0
  local report="$work/$target-$name.time.$n"
  case "$name" in
    a)
      start=$EPOCHREALTIME
      env -u TALLYPLOT_PLAN MYSQL_TCP_PORT="$port" /usr/bin/time -v \
        -o "$report" "$program" "$target-a.eps" \
        >"$work/a.stdout" 2>"$work/a.stderr" || status=$?
      end=$EPOCHREALTIME
      ;;
    d)
      start=$EPOCHREALTIME
      TALLYPLOT_PLAN=per-series MYSQL_TCP_PORT=$port /usr/bin/time -v \
        -o "$report" "$program" "$target-d.eps" \
        >"$work/d.stdout" 2>"$work/d.stderr" || status=$?
      end=$EPOCHREALTIME
      ;;
    i | j)
      local -A jobs=([i]=2 [j]=4)
      start=$EPOCHREALTIME
      env -u TALLYPLOT_PLAN TALLYPLOT_JOBS="${jobs[$name]}" \
        MYSQL_TCP_PORT="$port" /usr/bin/time -v -o "$report" "$program" \
        "$target-$name.eps" >"$work/$name.stdout" 2>"$work/$name.stderr" ||
        status=$?
      end=$EPOCHREALTIME
      ;;
    b)
      start=$EPOCHREALTIME
      /usr/bin/time -v -o "$report" mariadb --no-defaults --host=127.0.0.1 \
        --port="$port" --user=root --password="$PASSWORD" \
        --database=vetch_output <"$work/program_queries.sql" >/dev/null \
        2>"$work/b.stderr" || status=$?
      end=$EPOCHREALTIME
      ;;
    c | e | f | g | h)
      local -A scripts=([c]=single_scan.sql [e]=double_scan.sql
        [f]=literal_scan.sql [g]=bare_scan.sql [h]=packed_scan.sql)
      local script=${scripts[$name]}
      start=$EPOCHREALTIME
      /usr/bin/time -v -o "$report" mariadb --no-defaults --host=127.0.0.1 \
        --port="$port" --user=root --password="$PASSWORD" \
        --database=vetch_output <"$work/$script" >/dev/null \
        2>"$work/$name.stderr" || status=$?
      end=$EPOCHREALTIME
      ;;
  esac
  if ((status != 0)); then
    cat "$work/$name.stderr" "$work/$name.stdout" 2>/dev/null >&2 || true
    die "$target: run $n of case ($name) failed with status $status"
  fi
  if [[ "$name" == [adij] && ( -s "$work/$name.stdout" || -s "$work/$name.stderr" ) ]]; then
    cat "$work/$name.stdout" "$work/$name.stderr" >&2
    die "$target: the program wrote to stdout/stderr in run $n of case ($name)"
  fi
  [[ "$n" == warmup ]] || elapsed_us "$start" "$end" >>"$work/$target-$name.wall"
}

# Runs every case once on the current target.
run_cases() {
  local n=$1 name
  for name in "${cases[@]}"; do
    run_case "$name" "$n"
  done
}

# Renders the program's documents of the current target and insists on two
# pages and no error; the plans, the split scans, and the cluster and the
# single server, must agree byte for byte.
check_documents() {
  local name doc
  for name in a d i j; do
    running "$name" || continue
    doc="$target-$name.eps"
    rm -f "$work"/page-*.png
    local status=0
    gs -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r30 \
      -sOutputFile="$work/page-%d.png" "$doc" >"$work/gs.log" 2>&1 || status=$?
    local pages
    pages=$(find "$work" -maxdepth 1 -name 'page-*.png' | wc -l)
    if ((status != 0)) || ((pages != 2)) || grep -q 'Error' "$work/gs.log"; then
      cat "$work/gs.log" >&2
      die "$doc did not render as two pages (gs status $status, $pages pages)"
    fi
  done
  for name in d i j; do
    ! running "$name" || cmp -s "$target-a.eps" "$target-$name.eps" ||
      die "$target: ($name) wrote another document than (a)"
  done
  if [[ "$target" == cluster ]]; then
    cmp -s single-a.eps cluster-a.eps ||
      die "the cluster and the single server wrote different documents"
  fi
}

# Median, minimum and maximum of the numbers in a file, one per line.
stats() {
  sort -n "$1" | awk '{ v[NR] = $1 }
    END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
          printf "%.0f %.0f %.0f\n", m, v[1], v[NR] }'
}

# Field of time -v reports: per-report values of the named line, one per line.
time_field() {
  local name=$1 label=$2
  cat "$work/$target-$name".time.[0-9]* | awk -F': ' -v l="$label" '$1 ~ l { print $2 }'
}

# User+sys seconds of every measured run of one case, one per line.
cpu_seconds() {
  local name=$1 f
  for f in "$work/$target-$name".time.[0-9]*; do
    awk -F': ' '/User time|System time/ { s += $2 } END { printf "%.3f\n", s }' "$f"
  done
}

median_of_lines() {
  sort -n | awk '{ v[NR] = $1 }
    END { printf "%.3f\n", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

ms() {
  awk -v us="$1" 'BEGIN { printf "%.1f", us / 1000 }'
}

print_machine() {
  local model mem
  model=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
  mem=$(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
  echo "machine:   $(nproc) cores, ${model:-unknown CPU}, $mem memory"
  echo "server:    $(client -N -e 'SELECT VERSION()'), InnoDB, buffer pool $((BUFFER_POOL_BYTES / 1048576)) MiB"
  echo "program:   $program"
}

# What each case measures, as the tables name it.
declare -A LABELS=(
  [a]="(a) tallyplot out.eps"
  [b]="(b) the per-series statements via mariadb, one session"
  [c]="(c) one grouped scan with every sum via mariadb"
  [d]="(d) TALLYPLOT_PLAN=per-series tallyplot out.eps"
  [e]="(e) one grouped scan, every sum(col + sqrt(0)), via mariadb"
  [f]="(f) one grouped scan, every sum(col + 0e0), via mariadb"
  [g]="(g) the bare grouped scan, count(idx) only, via mariadb"
  [h]="(h) three flags per double sum + proof, via mariadb"
  [i]="(i) TALLYPLOT_JOBS=2 tallyplot out.eps"
  [j]="(j) TALLYPLOT_JOBS=4 tallyplot out.eps")

# The ratios of medians, as "x/y = r", of the pairs whose cases both ran.
ratios() {
  local pair line=""
  for pair in a/b a/c a/e a/g d/b h/e i/a j/a i/g j/g; do
    running "${pair%/*}" && running "${pair#*/}" || continue
    line+=$(awk -v x="$(median_us "$target" "${pair%/*}")" \
      -v y="$(median_us "$target" "${pair#*/}")" -v p="$pair" \
      'BEGIN { printf "%s = %.2f   ", p, x / y }')
  done
  echo "${line}(medians)"
}

# The figures of the current target: the table of wall times, the ratios,
# the program's CPU time and memory.
report_target() {
  local name figures
  local rss_max rss_min cpu_a
  rss_max=$(time_field a 'Maximum resident set size' | sort -n | tail -1)
  rss_min=$(time_field a 'Maximum resident set size' | sort -n | head -1)
  cpu_a=$(cpu_seconds a | median_of_lines)
  echo
  printf '%-58s %10s %10s %10s\n' "wall time (ms)" median min max
  for name in "${cases[@]}"; do
    read -r -a figures < <(stats "$work/$target-$name.wall")
    printf '%-58s %10s %10s %10s\n' "${LABELS[$name]}" "$(ms "${figures[0]}")" \
      "$(ms "${figures[1]}")" "$(ms "${figures[2]}")"
  done
  echo
  ratios
  echo "tallyplot client CPU (user+sys): median $cpu_a s per run"
  ! running b || echo "mariadb client CPU in (b): median $(cpu_seconds b | median_of_lines) s per run ($query_count statements)"
  echo "tallyplot peak RSS: max $rss_max KiB (min $rss_min KiB) over $reps runs"
}

# Median wall time of one case of one target, in microseconds.
median_us() {
  local figures
  read -r -a figures < <(stats "$work/$1-$2.wall")
  echo "${figures[0]}"
}

# The cluster's medians next to the single server's, case by case.
report_ratios() {
  local name single cluster
  echo
  printf '%-58s %12s %12s %16s\n' "median wall time (ms)" single "$shards backends" "cluster/single"
  for name in "${cases[@]}"; do
    single=$(median_us single "$name")
    cluster=$(median_us cluster "$name")
    printf '%-58s %12s %12s %16s\n' "${LABELS[$name]}" "$(ms "$single")" \
      "$(ms "$cluster")" "$(awk -v s="$single" -v c="$cluster" 'BEGIN { printf "%.2f", c / s }')"
  done
}

report() {
  local order="${cases[*]}"
  ((shards == 0)) || order="$order on the single server, then on the cluster"
  echo
  echo "tallyplot benchmark"
  use_target single
  print_machine
  echo "data:      37 groups x $rows_per_group rows = $((37 * rows_per_group)) rows, 15 fixed + $extra_series extra flag columns, table $table_mib MiB"
  echo "load:      $(ms "$load_us") ms (generated server-side from seq_0_to_$((37 * rows_per_group - 1)))"
  echo "reps:      $reps per case after one warm-up each, alternating $order"
  echo "load avg:  at start $load_start; at end $(cut -d' ' -f1-3 /proc/loadavg)"
  report_target
  echo "document:  exit 0, nothing on stdout/stderr, 2 pages rendered by Ghostscript, the same for every case of the program"
  if ((shards > 0)); then
    use_target cluster
    echo
    echo "On a Spider cluster: $shards backends (same server version and settings), frontend with spider_bgs_mode=1,"
    echo "data table PARTITION BY HASH(selectednum), one partition per backend; sums local on the frontend"
    echo "cluster load: $(ms "$cluster_load_us") ms (the same SQL into the frontend, then moved to the backends through Spider)"
    report_target
    echo "document:  byte-identical to the single server's, every case of the program"
    report_ratios
  fi
  if ((print_queries)); then
    echo
    echo "statements of (b):"
    sed 's/^/  /' "$work/program_queries.sql"
    echo "statement of (c):"
    sed 's/^/  /' "$work/single_scan.sql"
    echo "statement of (e):"
    sed 's/^/  /' "$work/double_scan.sql"
    echo "statement of (f):"
    sed 's/^/  /' "$work/literal_scan.sql"
    echo "statement of (g):"
    sed 's/^/  /' "$work/bare_scan.sql"
    echo "statement of (h):"
    sed 's/^/  /' "$work/packed_scan.sql"
  fi
}

# The targets measured in this invocation.
targets() {
  echo single
  ((shards == 0)) || echo cluster
}

main() {
  parse_args "$@"
  ensure_tools
  [[ -x "$SERVER_SCRIPT" && -x "$CLUSTER_SCRIPT" ]] || die "missing $SERVER_SCRIPT or $CLUSTER_SCRIPT"
  work=$(mktemp -d "${TMPDIR:-/tmp}/tallyplot-bench.XXXXXX")
  trap cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  build_program
  load_start=$(cut -d' ' -f1-3 /proc/loadavg)
  echo "Starting a throwaway server..."
  start_server
  use_target single
  echo "Loading $((37 * rows_per_group)) rows with $extra_series extra series..."
  load_data
  echo "Loaded in $(ms "$load_us") ms."
  if ((shards > 0)); then
    echo "Starting a throwaway Spider cluster of $shards backends..."
    start_cluster
    use_target cluster
    echo "Loading the same rows into the cluster..."
    load_cluster_data
    echo "Loaded and sharded in $(ms "$cluster_load_us") ms."
    use_target single
  fi
  write_program_queries
  write_single_scan_queries
  cd "$work"

  # One checked run of each that also warms the caches.
  local n t
  for t in $(targets); do
    use_target "$t"
    run_cases warmup
    check_documents
  done
  for ((n = 1; n <= reps; n++)); do
    echo "Repetition $n of $reps..."
    for t in $(targets); do
      use_target "$t"
      run_cases "$n"
    done
  done
  # The last runs' documents must render and agree too.
  for t in $(targets); do
    use_target "$t"
    check_documents
  done
  report
}

main "$@"
