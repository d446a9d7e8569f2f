#!/usr/bin/env bash
# Starts and stops a throwaway MariaDB server that lives entirely inside one
# directory and listens on a free loopback port.
#
#   mariadb_server.sh start DIR [OPTION...]
#                                 fresh data directory in DIR, server started
#                                 (with the extra mariadbd OPTIONs, such as
#                                 --ssl-cert=...), root/wqzk reachable over
#                                 TCP on 127.0.0.1; DIR/port holds the port,
#                                 DIR/socket the Unix socket's path, DIR/pid
#                                 the PID
#   mariadb_server.sh stop DIR    stops the server recorded in DIR/pid and
#                                 removes DIR
#
# Only the server recorded in DIR is ever signalled, so a system server or
# another test run's server is never touched.
set -euo pipefail

readonly PASSWORD=wqzk
readonly START_WAIT_SECONDS=60
readonly STOP_WAIT_SECONDS=30

die() {
  echo "mariadb_server.sh: $*" >&2
  exit 1
}

find_tool() {
  local name
  for name in "$@"; do
    if command -v "$name" >/dev/null 2>&1; then
      command -v "$name"
      return 0
    fi
    if [[ -x "/usr/sbin/$name" ]]; then
      echo "/usr/sbin/$name"
      return 0
    fi
  done
  die "none of $* found; install mariadb-server and mariadb-client"
}

# True while the process is alive and is a MariaDB server (so a recycled PID
# of an unrelated process is never signalled). A zombie counts as gone: its
# parent may never reap it.
is_our_server() {
  local pid=$1
  [[ "$pid" =~ ^[1-9][0-9]*$ && -d "/proc/$pid" ]] || return 1
  local comm state
  comm=$(cat "/proc/$pid/comm" 2>/dev/null || true)
  [[ "$comm" == mariadbd || "$comm" == mysqld ]] || return 1
  state=$(awk '/^State:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
  [[ -n "$state" && "$state" != Z && "$state" != X ]]
}

# Stops the server recorded in DIR (if any is still running).
stop_recorded_server() {
  local dir=$1 pid=""
  [[ -f "$dir/pid" ]] && pid=$(cat "$dir/pid")
  [[ -z "$pid" && -f "$dir/mysqld.pid" ]] && pid=$(cat "$dir/mysqld.pid")
  if ! is_our_server "$pid"; then
    return 0
  fi
  # The recorded server must be the one serving this directory's data.
  if ! tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF -- "--datadir=$dir/data "; then
    return 0
  fi
  kill -TERM "$pid" 2>/dev/null || return 0
  local waited=0
  while is_our_server "$pid" && ((waited < STOP_WAIT_SECONDS * 10)); do
    sleep 0.1
    waited=$((waited + 1))
  done
  if is_our_server "$pid"; then
    echo "mariadb_server.sh: server $pid ignored TERM; killing it" >&2
    kill -KILL "$pid" 2>/dev/null || true
    waited=0
    while is_our_server "$pid" && ((waited < 100)); do
      sleep 0.1
      waited=$((waited + 1))
    done
  fi
}

# Sets SOCKET: inside DIR, unless that path is too long for a Unix socket
# (deep build directories), then in a short directory of its own under /tmp
# that DIR/socketdir records for the stop command.
choose_socket() {
  local dir=$1
  SOCKET="$dir/mysqld.sock"
  if ((${#SOCKET} > 100)); then
    local short
    short=$(mktemp -d /tmp/tallyplot-sock-XXXXXX)
    echo "$short" >"$dir/socketdir"
    SOCKET="$short/mysqld.sock"
  fi
}

# True when every entry of DIR is one this script makes there, so that a
# mistyped DIR never takes someone's files with it.
is_server_dir() {
  local entry
  for entry in "$1"/* "$1"/.[!.]*; do
    [[ -e "$entry" ]] || continue
    case "${entry##*/}" in
      data | tmp | error.log | install.log | server.out | pid | port | socket | \
        socketdir | mysqld.pid | mysqld.sock) ;;
      *) return 1 ;;
    esac
  done
}

# Removes DIR and the socket directory it records.
remove_dir() {
  local dir=$1 short
  [[ -n "$dir" && "$dir" != / ]] || die "refusing to remove '$dir'"
  is_server_dir "$dir" ||
    die "$dir holds files this script did not make; not removing it"
  if [[ -f "$dir/socketdir" ]]; then
    short=$(cat "$dir/socketdir")
    # Only a name mktemp gave (choose_socket): no "..", no other place.
    if [[ "$short" =~ ^/tmp/tallyplot-sock-[A-Za-z0-9]{6}$ ]]; then
      rm -rf "$short"
    fi
  fi
  rm -rf "$dir"
}

# Prints a random port in 20000-60000 that nothing on 127.0.0.1 listens on.
pick_port() {
  local port
  port=$((20000 + (RANDOM * 32768 + RANDOM) % 40001))
  # A successful connect means something already listens there.
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    return 1
  fi
  echo "$port"
}

start_server() {
  local dir=$1 port=$2
  "$MARIADBD" --no-defaults --user=root \
    --datadir="$dir/data" --port="$port" --bind-address=127.0.0.1 \
    --skip-name-resolve --socket="$SOCKET" \
    --pid-file="$dir/mysqld.pid" --log-error="$dir/error.log" \
    --tmpdir="$dir/tmp" \
    --skip-log-bin --innodb-buffer-pool-size=64M \
    --innodb-log-file-size=16M --innodb-flush-log-at-trx-commit=2 \
    --innodb-doublewrite=0 --performance-schema=OFF \
    --max-connections=200 "${SERVER_OPTIONS[@]}" \
    </dev/null >>"$dir/server.out" 2>&1 &
  echo $!
}

# True while our own child pid has not ended. Right after the fork it may
# still be this script's shell on its way to exec the server, so its name
# is not checked here.
is_alive() {
  local pid=$1 state
  state=$(awk '/^State:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
  [[ -n "$state" && "$state" != Z && "$state" != X ]]
}

# Waits until the server answers on its socket; fails when it dies first or
# the wait runs out.
wait_until_up() {
  local dir=$1 pid=$2 tries=0
  while ((tries < START_WAIT_SECONDS * 5)); do
    if ! is_alive "$pid"; then
      return 1
    fi
    if "$ADMIN" --no-defaults --socket="$SOCKET" --user=root \
      --connect-timeout=2 ping >/dev/null 2>&1; then
      return 0
    fi
    sleep 0.2
    tries=$((tries + 1))
  done
  return 1
}

# True when the error log says the port was taken.
port_was_taken() {
  grep -qiE "Can't start server: Bind on TCP/IP port|Address already in use" \
    "$1/error.log" 2>/dev/null
}

# root/wqzk on localhost and 127.0.0.1; the password-less root accounts that
# mariadb-install-db adds for other hosts are removed.
create_accounts() {
  local host
  host=$(uname -n)
  "$CLIENT" --no-defaults --socket="$SOCKET" --user=root <<SQL
DROP USER IF EXISTS 'root'@'::1';
DROP USER IF EXISTS 'root'@'$host';
CREATE USER IF NOT EXISTS 'root'@'localhost';
CREATE USER IF NOT EXISTS 'root'@'127.0.0.1';
ALTER USER 'root'@'localhost' IDENTIFIED BY '$PASSWORD';
ALTER USER 'root'@'127.0.0.1' IDENTIFIED BY '$PASSWORD';
GRANT ALL PRIVILEGES ON *.* TO 'root'@'localhost' WITH GRANT OPTION;
GRANT ALL PRIVILEGES ON *.* TO 'root'@'127.0.0.1' WITH GRANT OPTION;
FLUSH PRIVILEGES;
SQL
}

cmd_start() {
  local dir=$1
  MARIADBD=$(find_tool mariadbd mysqld)
  ADMIN=$(find_tool mariadb-admin mysqladmin)
  CLIENT=$(find_tool mariadb mysql)
  local installdb
  installdb=$(find_tool mariadb-install-db mysql_install_db)

  # A previous run may have been killed: stop whatever it left and start over.
  if [[ -d "$dir" ]]; then
    stop_recorded_server "$dir"
    remove_dir "$dir"
  fi
  mkdir -p "$dir/data" "$dir/tmp"
  choose_socket "$dir"

  # --force: skip the host-name lookup, which fails on machines without an
  # /etc/hosts entry for their name; the accounts use addresses anyway.
  # A work directory of its own: a server starting meanwhile clears the
  # #sql files of /tmp, which would take the bootstrap's tables with them.
  if ! TMPDIR="$dir/tmp" "$installdb" --no-defaults --user=root --datadir="$dir/data" \
    --auth-root-authentication-method=normal --skip-test-db --force \
    >"$dir/install.log" 2>&1; then
    cat "$dir/install.log" >&2
    die "mariadb-install-db failed"
  fi

  local attempt port pid
  for attempt in 1 2 3 4 5 6 7 8; do
    port=$(pick_port) || continue
    : >"$dir/error.log"
    pid=$(start_server "$dir" "$port")
    [[ "$pid" =~ ^[1-9][0-9]*$ ]] || die "the server did not start"
    if wait_until_up "$dir" "$pid"; then
      create_accounts || {
        kill -KILL "$pid" 2>/dev/null || true
        die "could not create the root accounts"
      }
      echo "$port" >"$dir/port"
      echo "$SOCKET" >"$dir/socket"
      echo "$pid" >"$dir/pid"
      echo "MariaDB server $pid listening on 127.0.0.1:$port (data in $dir)"
      return 0
    fi
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    if ! port_was_taken "$dir"; then
      break
    fi
    echo "port $port taken, trying another (attempt $attempt)" >&2
  done
  echo "---- $dir/error.log ----" >&2
  cat "$dir/error.log" >&2 || true
  cat "$dir/server.out" >&2 2>/dev/null || true
  die "the server did not start"
}

cmd_stop() {
  local dir=$1
  [[ -d "$dir" ]] || return 0
  stop_recorded_server "$dir"
  remove_dir "$dir"
}

main() {
  [[ $# -ge 2 && -n "$2" ]] || die "usage: mariadb_server.sh start|stop DIR"
  SERVER_OPTIONS=("${@:3}")
  [[ "$1" == start || $# -eq 2 ]] || die "usage: mariadb_server.sh stop DIR"
  # The server is started with absolute paths; the same spelling is needed
  # to recognise it again.
  local dir
  dir=$(realpath -m -- "$2")
  [[ "$dir" != / ]] || die "refusing to use / as the server directory"
  case "$1" in
    start) cmd_start "$dir" ;;
    stop) cmd_stop "$dir" ;;
    *) die "usage: mariadb_server.sh start|stop DIR" ;;
  esac
}

main "$@"
