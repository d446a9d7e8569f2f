#!/usr/bin/env bash
# Builds tallyplot and runs every test, twice:
#   1. a normal optimised build in build/,
#   2. a build with AddressSanitizer and UndefinedBehaviorSanitizer in
#      build-asan/, where any sanitizer report fails the run;
# then builds the Debian package in build-package/ and checks it against
# the first build (tests/package_test.sh).
# Installs what it needs first (Debian packages). The server tests start a
# throwaway MariaDB server of their own. Exits non-zero on any failure.
# TALLYPLOT_BUILD_DIR overrides build/ (the sanitizer and package builds go
# beside it with the suffixes -asan and -package).
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TALLYPLOT_BUILD_DIR:-$repo/build}
asan_build=${build}-asan
jobs=2

bash "$repo/scripts/install_deps.sh"

# Configures, builds and tests one build directory; fails at the first step
# that fails (set -e does not apply inside a function called with ||).
build_and_test() {
  local dir=$1
  shift
  echo "== configuring $dir"
  cmake -S "$repo" -B "$dir" "$@" || return 1
  echo "== building $dir"
  cmake --build "$dir" -j"$jobs" || return 1
  echo "== testing $dir"
  (cd "$dir" && ctest --output-on-failure -j"$jobs") || return 1
}

# Prints the ASAN_OPTIONS to use: leak detection stays on unless
# LeakSanitizer cannot run on this machine (it needs ptrace-like access
# to the process, which some sandboxes refuse).
asan_options() {
  local options="abort_on_error=1:detect_leaks=1"
  local probe
  probe=$(mktemp -d "${TMPDIR:-/tmp}/tallyplot-lsan-XXXXXX") || return 1
  printf 'int main() { return 0; }\n' >"$probe/probe.cc"
  if g++ -fsanitize=address "$probe/probe.cc" -o "$probe/probe" 2>/dev/null &&
    ! ASAN_OPTIONS="$options" "$probe/probe" >/dev/null 2>&1; then
    echo "test.sh: LeakSanitizer cannot run here; leak detection is off" >&2
    options="abort_on_error=1:detect_leaks=0"
  fi
  rm -rf "$probe"
  echo "$options"
}

failed=0
build_and_test "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo || failed=1

export ASAN_OPTIONS
ASAN_OPTIONS=$(asan_options)
# abort_on_error: a report must not pass for the program's own exit status 1
# in a test that expects a failing run.
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:abort_on_error=1
build_and_test "$asan_build" -DCMAKE_BUILD_TYPE=Debug \
  -DTALLYPLOT_SANITIZE=ON || failed=1

echo "== testing the Debian package"
TALLYPLOT_PACKAGE_DIR=${build}-package bash "$repo/tests/package_test.sh" \
  "$build" || failed=1

if ((failed)); then
  echo "test.sh: FAILED (see the output above)" >&2
  exit 1
fi
echo "test.sh: all tests passed in both builds and the package"
