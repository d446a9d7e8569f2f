#!/usr/bin/env bash
# Installs, from Debian's packages, everything needed to build tallyplot, run
# its tests (the Spider engine for the cluster tests) and run the demo; with
# --packaging also the tools that build and check its Debian package. Does
# nothing (quickly) when all of it is there. Run as root (or with sudo
# available).
#
# Usage: scripts/install_deps.sh [--packaging]
set -euo pipefail

# python3-pymysql (with python3-cryptography for its RSA step) is a MySQL
# client written without Connector/C, which the tests check the MySQL 8
# stand-in against.
PACKAGES=(
  g++ cmake make ninja-build pkg-config
  libmariadb-dev mariadb-server mariadb-client mariadb-plugin-spider
  ghostscript libgtest-dev googletest time openssl libssl-dev
  python3-pymysql python3-cryptography
)
# dpkg-shlibdeps (dpkg-dev) computes the package's dependencies, from the
# binaries that file(1) finds; lintian checks the result.
readonly PACKAGING_PACKAGES=(dpkg-dev file lintian)

missing_packages() {
  local pkg status
  for pkg in "${PACKAGES[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || echo "$pkg"
  done
}

as_root() {
  if [[ $(id -u) -eq 0 ]]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    echo "install_deps.sh: need root (or sudo) to install packages" >&2
    exit 1
  fi
}

# The tests and the demo start servers of their own; the package's system
# service is never needed, so keep apt from starting it while installing.
install_without_starting_services() {
  local policy=/usr/sbin/policy-rc.d added=0
  if [[ ! -e "$policy" ]]; then
    as_root sh -c "printf '#!/bin/sh\nexit 101\n' >$policy && chmod 755 $policy"
    added=1
  fi
  local rc=0
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
    --no-install-recommends "$@" || rc=$?
  if ((added)); then as_root rm -f "$policy"; fi
  return "$rc"
}

main() {
  if [[ $# -eq 1 && "$1" == --packaging ]]; then
    PACKAGES+=("${PACKAGING_PACKAGES[@]}")
  elif [[ $# -ne 0 ]]; then
    echo "usage: scripts/install_deps.sh [--packaging]" >&2
    exit 2
  fi
  local missing
  mapfile -t missing < <(missing_packages)
  if ((${#missing[@]} == 0)); then
    return 0
  fi
  echo "install_deps.sh: installing ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
  install_without_starting_services "${missing[@]}"
  local left
  left=$(missing_packages)
  if [[ -n "$left" ]]; then
    echo "install_deps.sh: still missing after install: $left" >&2
    exit 1
  fi
}

main "$@"
