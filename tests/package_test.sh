#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh, lintian included) and checks
# it without installing it: its contents list the binary, the manual page and
# the copyright file, its dependencies name the client library, it
# recommends Ghostscript, and the binary unpacked with dpkg -x into a
# temporary directory writes the demo document byte for byte like
# BUILD_DIR/tallyplot, against a throwaway server. Exits non-zero on any
# failure.
#
# Usage: tests/package_test.sh BUILD_DIR
# The package is built in BUILD_DIR-package unless TALLYPLOT_PACKAGE_DIR
# says otherwise.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=""

fail() {
  echo "package_test.sh: FAILED: $*" >&2
  exit 1
}

cleanup() {
  [[ -n "$work" ]] || return 0
  "$repo/tests/mariadb_server.sh" stop "$work/db" || true
  if [[ "$work" == */tallyplot-package-test-* ]]; then
    rm -rf -- "$work"
  fi
}

check_contents() {
  local deb=$1 listing path
  listing=$(dpkg-deb -c "$deb") || fail "dpkg-deb -c $deb"
  echo "$listing"
  for path in ./usr/bin/tallyplot ./usr/share/man/man1/tallyplot.1.gz \
    ./usr/share/doc/tallyplot/copyright; do
    awk -v path="$path" '$NF == path { found = 1 } END { exit !found }' \
      <<<"$listing" || fail "$deb holds no $path"
  done
}

# Without libmariadb3 among the dependencies, apt installs a binary that
# cannot start.
check_depends() {
  local deb=$1 depends
  dpkg-deb -I "$deb" || fail "dpkg-deb -I $deb"
  depends=$(dpkg-deb -f "$deb" Depends)
  grep -qE '(^|, )libmariadb3( |,|$)' <<<"$depends" ||
    fail "Depends of $deb does not name libmariadb3: $depends"
  # Without Ghostscript a run can write EPS only, not PDF or PNG.
  [[ $(dpkg-deb -f "$deb" Recommends) == ghostscript ]] ||
    fail "$deb does not recommend ghostscript"
}

# Writes the demo document with BINARY to OUTPUT, on the server at port.
write_demo() {
  local binary=$1 output=$2
  MYSQL_TCP_PORT=$port "$binary" "$output" || fail "$binary $output exited $?"
}

check_document() {
  local build=$1 deb=$2
  dpkg -x "$deb" "$work/root" || fail "dpkg -x $deb"
  "$repo/tests/mariadb_server.sh" start "$work/db"
  port=$(cat "$work/db/port")
  mariadb --no-defaults --host=127.0.0.1 --port="$port" --user=root \
    --password=wqzk <"$repo/demo/demo.sql" || fail "loading demo/demo.sql"
  write_demo "$build/tallyplot" "$work/build.eps"
  write_demo "$work/root/usr/bin/tallyplot" "$work/package.eps"
  # The suite already renders the build's demo document as two pages; the
  # same bytes render the same.
  cmp "$work/build.eps" "$work/package.eps" ||
    fail "the packaged binary writes another document than $build/tallyplot"
}

# A relative TALLYPLOT_PACKAGE_DIR names a directory of the caller's, not
# of the repository: one that is no build directory is refused and kept.
check_relative_dir() {
  mkdir -p "$work/caller/mine" && touch "$work/caller/mine/keep"
  if (cd "$work/caller" && TALLYPLOT_PACKAGE_DIR=mine \
    bash "$repo/scripts/package.sh" >/dev/null 2>&1); then
    fail "package.sh took a relative TALLYPLOT_PACKAGE_DIR elsewhere"
  fi
  [[ -f "$work/caller/mine/keep" ]] || fail "package.sh removed the caller's mine"
}

main() {
  [[ $# -eq 1 && -x "$1/tallyplot" ]] ||
    fail "usage: tests/package_test.sh BUILD_DIR (holding a built tallyplot)"
  local build deb
  build=$(cd "$1" && pwd)
  export TALLYPLOT_PACKAGE_DIR=${TALLYPLOT_PACKAGE_DIR:-$build-package}
  trap cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  work=$(mktemp -d "${TMPDIR:-/tmp}/tallyplot-package-test-XXXXXX")
  check_relative_dir
  bash "$repo/scripts/package.sh" | tee "$work/package.log" ||
    fail "scripts/package.sh failed"
  deb=$(tail -n 1 "$work/package.log")
  [[ -f "$deb" ]] || fail "scripts/package.sh printed no package path"
  check_contents "$deb"
  check_depends "$deb"
  check_document "$build" "$deb"
  echo "package_test.sh: $deb passed"
}

main "$@"
