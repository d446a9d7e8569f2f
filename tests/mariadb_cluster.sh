#!/usr/bin/env bash
# Starts and stops a throwaway sharded MariaDB cluster inside one directory:
# N backend servers and one frontend server that reaches them through the
# Spider storage engine. Every server is a tests/mariadb_server.sh server of
# its own (no configuration files, 127.0.0.1, a free port, root/wqzk).
#
#   mariadb_cluster.sh start DIR N
#       backends DIR/b1 .. DIR/bN and the frontend DIR/front; Spider loaded
#       on the frontend with spider_bgs_mode=1 (backends scan in parallel),
#       backend k declared there as server "bk", reached with the link
#       account spider_link@127.0.0.1. DIR/port holds the frontend's port,
#       DIR/bk/port backend k's.
#   mariadb_cluster.sh add-backend DIR
#       starts and declares one more backend; prints its number k
#   mariadb_cluster.sh shard DIR DB TABLE COLUMN K...
#       moves the frontend's loaded table DB.TABLE into a Spider table of the
#       same name, PARTITION BY HASH(COLUMN) with one partition on each
#       backend K (numbers): the table is created with the same definition in
#       DB on those backends (which must not have it yet), COLUMN is
#       appended to the frontend's primary key (every unique key of a
#       partitioned table must contain it; other unique keys without it are
#       refused), and the rows are copied through the frontend. A move that
#       fails half-way leaves the rows in DB.TABLE_unsharded on the frontend
#   mariadb_cluster.sh stop-backend DIR K
#       stops backend K only
#   mariadb_cluster.sh stop DIR
#       stops the frontend first, then every backend (by PID, escalating to
#       SIGKILL), and removes DIR
#
# spider_conn_recycle_mode=1 is never set: together with spider_bgs_mode=1
# it made the frontend ignore SIGTERM at shutdown.
set -euo pipefail

SCRIPT_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly SCRIPT_DIR
readonly SERVER_SCRIPT="$SCRIPT_DIR/mariadb_server.sh"
readonly PASSWORD=wqzk
readonly LINK_USER=spider_link
readonly LINK_PASSWORD=spider_link_pw
readonly USAGE="usage: mariadb_cluster.sh start DIR N | add-backend DIR |
       shard DIR DB TABLE COLUMN K... | stop-backend DIR K | stop DIR"

die() {
  echo "mariadb_cluster.sh: $*" >&2
  exit 1
}

usage() {
  die "$USAGE"
}

# The stock client as root on the server recorded in the directory $1.
client_in() {
  local dir=$1
  shift
  mariadb --no-defaults --host=127.0.0.1 --port="$(cat "$dir/port")" \
    --user=root --password="$PASSWORD" --batch --skip-column-names "$@"
}

# Names go into statements as identifiers and string literals: allow only
# plain ones.
check_name() {
  [[ "$1" =~ ^[A-Za-z0-9_$]{1,64}$ ]] || die "not a plain SQL name: '$1'"
}

# Starts the servers in the named directories in parallel; on any failure
# prints its log and fails. Each gets a TMPDIR of its own: a starting server
# deletes every leftover "#sql" file in its temporary directory, so
# mariadb-install-db runs sharing /tmp delete each other's work tables.
start_servers() {
  local dir name pids=() failed=0 i
  local names=("$@")
  for name in "${names[@]}"; do
    mkdir -p "$CLUSTER/$name.tmp"
    TMPDIR="$CLUSTER/$name.tmp" "$SERVER_SCRIPT" start "$CLUSTER/$name" \
      >"$CLUSTER/$name.start.log" 2>&1 &
    pids+=($!)
  done
  for i in "${!pids[@]}"; do
    if ! wait "${pids[$i]}"; then
      failed=1
      dir="$CLUSTER/${names[$i]}"
      echo "---- ${names[$i]} did not start ----" >&2
      cat "$dir.start.log" >&2 || true
    fi
  done
  ((failed == 0)) || return 1
}

# The link account the frontend logs in with; it must be @'127.0.0.1' as
# the servers skip name resolution. INSERT is needed to load through the
# frontend, SELECT for everything else.
create_link_account() {
  client_in "$1" <<SQL
CREATE USER '$LINK_USER'@'127.0.0.1' IDENTIFIED BY '$LINK_PASSWORD';
GRANT SELECT, INSERT ON *.* TO '$LINK_USER'@'127.0.0.1';
SQL
}

# Declares backend k on the frontend as server "bk".
declare_backend() {
  local k=$1 port
  port=$(cat "$CLUSTER/b$k/port")
  client_in "$CLUSTER/front" <<SQL
CREATE OR REPLACE SERVER b$k FOREIGN DATA WRAPPER mysql
  OPTIONS (HOST '127.0.0.1', PORT $port, USER '$LINK_USER',
           PASSWORD '$LINK_PASSWORD');
SQL
}

# Rows travel between the servers as text in the table's character set;
# servers that disagree on the default one would create the backend tables
# differently from the frontend's.
check_character_sets() {
  local k want got
  want=$(client_in "$CLUSTER/front" -e "SELECT @@character_set_server, @@collation_server")
  for k in "$@"; do
    got=$(client_in "$CLUSTER/b$k" -e "SELECT @@character_set_server, @@collation_server")
    [[ "$got" == "$want" ]] || die "backend $k uses $got, the frontend $want"
  done
}

# Loads Spider: --no-defaults skips the package's configuration file that
# would load it, and in 10.11 the plugin creates its mysql.spider_* tables
# itself. spider_direct_aggregate stays at its default (ON), so sums and
# counts are computed on the backends.
set_up_frontend() {
  client_in "$CLUSTER/front" <<'SQL'
INSTALL SONAME 'ha_spider';
SET GLOBAL spider_bgs_mode = 1;
SQL
}

cmd_start() {
  local n=$1 k names=()
  [[ "$n" =~ ^[1-9][0-9]?$ ]] || die "N must be a number from 1 to 99"
  if [[ -d "$CLUSTER" ]]; then
    # A previous run may have been killed: stop whatever it left.
    cmd_stop
  fi
  mkdir -p "$CLUSTER"
  for ((k = 1; k <= n; k++)); do
    mkdir "$CLUSTER/b$k.claim"
    names+=("b$k")
  done
  if ! start_servers front "${names[@]}"; then
    cmd_stop
    die "the cluster did not start"
  fi
  set_up_frontend
  for ((k = 1; k <= n; k++)); do
    create_link_account "$CLUSTER/b$k"
    declare_backend "$k"
  done
  check_character_sets "${names[@]#b}"
  cp "$CLUSTER/front/port" "$CLUSTER/port"
  echo "Spider cluster: frontend on 127.0.0.1:$(cat "$CLUSTER/port"), $n backends (in $CLUSTER)"
}

cmd_add_backend() {
  [[ -f "$CLUSTER/port" ]] || die "no cluster in $CLUSTER"
  local k=1
  # mkdir claims the number, so concurrent callers never share one.
  while ! mkdir "$CLUSTER/b$k.claim" 2>/dev/null; do
    k=$((k + 1))
  done
  start_servers "b$k" || die "backend $k did not start"
  create_link_account "$CLUSTER/b$k"
  declare_backend "$k"
  check_character_sets "$k"
  echo "$k"
}

# The frontend's primary key columns of DB.TABLE, comma-separated and quoted.
primary_key_columns() {
  local db=$1 table=$2
  client_in "$CLUSTER/front" -e "SELECT GROUP_CONCAT(CONCAT('\`', column_name, '\`')
      ORDER BY seq_in_index) FROM information_schema.statistics
    WHERE table_schema = '$db' AND table_name = '$table'
      AND index_name = 'PRIMARY'"
}

# Fails when a unique key other than the primary key lacks COLUMN: the
# frontend could not be partitioned by it, and dropping the key silently
# would change what the table accepts.
check_other_unique_keys() {
  local db=$1 table=$2 column=$3 keys
  keys=$(client_in "$CLUSTER/front" -e "SELECT index_name
    FROM information_schema.statistics
    WHERE table_schema = '$db' AND table_name = '$table'
      AND non_unique = 0 AND index_name <> 'PRIMARY'
    GROUP BY index_name
    HAVING SUM(column_name = '$column') = 0")
  [[ -z "$keys" ]] || die "unique keys without $column: $keys"
}

cmd_shard() {
  local db=$1 table=$2 column=$3
  shift 3
  [[ $# -ge 1 ]] || usage
  check_name "$db"
  check_name "$table"
  check_name "$column"
  local k
  for k in "$@"; do
    [[ "$k" =~ ^[1-9][0-9]*$ && -f "$CLUSTER/b$k/port" ]] || die "no backend $k"
  done
  local create
  create=$(client_in "$CLUSTER/front" --raw -e "SHOW CREATE TABLE \`$db\`.\`$table\`") ||
    die "no table $db.$table on the frontend"
  create=${create#*$'\t'}
  check_other_unique_keys "$db" "$table" "$column"
  check_character_sets "$@"
  # Rows already there would join the table's unnoticed.
  for k in "$@"; do
    [[ -z $(client_in "$CLUSTER/b$k" -e "SELECT 1 FROM information_schema.tables
        WHERE table_schema = '$db' AND table_name = '$table'") ]] ||
      die "backend $k already has a table $db.$table"
  done

  for k in "$@"; do
    client_in "$CLUSTER/b$k" <<SQL
CREATE DATABASE IF NOT EXISTS \`$db\`;
USE \`$db\`;
$create;
SQL
  done

  local pk partitions=() key_change=""
  pk=$(primary_key_columns "$db" "$table")
  if [[ "$pk" != NULL && -n "$pk" && ",$pk," != *",\`$column\`,"* ]]; then
    key_change="ALTER TABLE \`$table\` DROP PRIMARY KEY, ADD PRIMARY KEY ($pk, \`$column\`);"
  fi
  for k in "$@"; do
    partitions+=("PARTITION p$k COMMENT = 'srv \"b$k\"'")
  done
  local list
  list=$(printf ',\n  %s' "${partitions[@]}")
  # The table COMMENT must name the remote database, or the backends answer
  # "Unknown database"; CREATE TABLE ... LIKE keeps the columns and keys.
  client_in "$CLUSTER/front" --database="$db" <<SQL
RENAME TABLE \`$table\` TO \`${table}_unsharded\`;
CREATE TABLE \`$table\` LIKE \`${table}_unsharded\`;
$key_change
ALTER TABLE \`$table\` ENGINE = SPIDER
  COMMENT = 'wrapper "mysql", database "$db", table "$table"'
  PARTITION BY HASH(\`$column\`) (${list:1}
);
INSERT INTO \`$table\` SELECT * FROM \`${table}_unsharded\`;
DROP TABLE \`${table}_unsharded\`;
SQL
}

cmd_stop_backend() {
  local k=$1
  [[ "$k" =~ ^[1-9][0-9]*$ ]] || usage
  "$SERVER_SCRIPT" stop "$CLUSTER/b$k"
}

# The frontend goes first, so it never waits on a backend that is gone; a
# server that cannot be stopped does not keep the others running.
cmd_stop() {
  [[ -d "$CLUSTER" ]] || return 0
  local dir failed=0
  "$SERVER_SCRIPT" stop "$CLUSTER/front" || failed=1
  for dir in "$CLUSTER"/b*; do
    [[ -d "$dir" && "$dir" != *.claim && "$dir" != *.tmp ]] || continue
    "$SERVER_SCRIPT" stop "$dir" || failed=1
  done
  ((failed == 0)) || die "a server of $CLUSTER could not be stopped"
  # Only what this script made goes: a mistyped DIR keeps its files.
  local entry
  for entry in "$CLUSTER"/* "$CLUSTER"/.[!.]*; do
    [[ -e "$entry" ]] || continue
    case "${entry##*/}" in
      front | front.* | b[0-9]* | port) ;;
      *) die "$CLUSTER holds files this script did not make; not removing it" ;;
    esac
  done
  [[ -n "$CLUSTER" && "$CLUSTER" != / ]] || die "refusing to remove '$CLUSTER'"
  rm -rf "$CLUSTER"
}

main() {
  [[ $# -ge 2 && -n "$2" ]] || usage
  local command=$1
  CLUSTER=$(realpath -m -- "$2")
  [[ "$CLUSTER" != / ]] || die "refusing to use / as the cluster directory"
  readonly CLUSTER
  shift 2
  case "$command" in
    start)
      [[ $# -eq 1 ]] || usage
      cmd_start "$1"
      ;;
    add-backend)
      [[ $# -eq 0 ]] || usage
      cmd_add_backend
      ;;
    shard)
      [[ $# -ge 4 ]] || usage
      cmd_shard "$@"
      ;;
    stop-backend)
      [[ $# -eq 1 ]] || usage
      cmd_stop_backend "$1"
      ;;
    stop)
      [[ $# -eq 0 ]] || usage
      cmd_stop
      ;;
    *) usage ;;
  esac
}

main "$@"
