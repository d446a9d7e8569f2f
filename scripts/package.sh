#!/usr/bin/env bash
# Builds the Debian package of tallyplot, tallyplot_<version>_<arch>.deb:
#   - installs what it needs (Debian packages, scripts/install_deps.sh),
#   - configures a clean Release build in build-package/ with Debian's usual
#     hardening flags (from dpkg-buildflags; only this build gets them),
#   - builds it and makes the package with CPack (cpack -G DEB), whose
#     version, from project() in CMakeLists.txt, must have an entry in
#     packaging/changelog,
#   - checks the package with lintian and fails on any error or warning,
#   - prints the path of the package as its last line.
# Run as root (or with sudo available) so missing tools can be installed.
# TALLYPLOT_PACKAGE_DIR overrides build-package/ (a relative path is taken
# from the caller's directory); the directory is removed and made anew, so
# it must be a build directory or not exist.
#
# Usage: scripts/package.sh
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Resolved against the caller's directory now: main changes to the
# repository before it removes the directory.
dir=$(realpath -m -- "${TALLYPLOT_PACKAGE_DIR:-$repo/build-package}")
jobs=2

die() {
  echo "package.sh: $*" >&2
  exit 1
}

# Removes the previous package build, refusing any directory that is not a
# CMake build directory, so a mistyped TALLYPLOT_PACKAGE_DIR never takes
# someone's files with it.
clean_build_dir() {
  [[ -n "$dir" && "$dir" != / ]] || die "no package build directory given"
  if [[ -e "$dir" && -n "$(ls -A -- "$dir")" && ! -f "$dir/CMakeCache.txt" ]]; then
    die "$dir is not empty and holds no CMakeCache.txt; not removing it"
  fi
  rm -rf -- "$dir"
}

# Debian's flags: fortified functions, stack protector, full RELRO and
# immediate binding (PIE is the compiler's default). CMake reads no
# CPPFLAGS, so they go in front of the compiler flags.
configure() {
  local cppflags cxxflags ldflags
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  cppflags=$(dpkg-buildflags --get CPPFLAGS) || die "dpkg-buildflags failed"
  cxxflags=$(dpkg-buildflags --get CXXFLAGS) || die "dpkg-buildflags failed"
  ldflags=$(dpkg-buildflags --get LDFLAGS) || die "dpkg-buildflags failed"
  echo "== configuring $dir"
  cmake -S "$repo" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DTALLYPLOT_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$cppflags $cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null ||
    die "configuring $dir failed"
}

# Sets deb to the path of the package cpack made.
make_package() {
  echo "== building $dir"
  cmake --build "$dir" -j"$jobs" || die "building $dir failed"
  echo "== making the package"
  (cd "$dir" && cpack -G DEB) || die "cpack failed"
  local debs
  mapfile -t debs < <(find "$dir" -maxdepth 1 -name '*.deb')
  ((${#debs[@]} == 1)) || die "expected one .deb in $dir, found ${#debs[@]}"
  deb=${debs[0]}
}

# The changelog is history, written by hand, so it cannot follow the
# version by itself: a release without an entry of its own is refused.
check_changelog_version() {
  local changelog=$repo/packaging/changelog entry version
  entry=$(dpkg-parsechangelog -l "$changelog" -S Version) ||
    die "cannot read $changelog"
  version=$(dpkg-deb -f "$deb" Version) || die "cannot read $deb"
  [[ "$entry" == "$version" ]] ||
    die "$changelog: the latest entry is for $entry, the package is $version;" \
      "add an entry for $version on top"
}

check_with_lintian() {
  echo "== lintian $deb"
  lintian --fail-on error,warning "$deb" ||
    die "lintian reports errors or warnings (above) for $deb"
  echo "== lintian: no errors or warnings"
}

main() {
  [[ $# -eq 0 ]] || {
    echo "usage: scripts/package.sh" >&2
    exit 2
  }
  # dpkg-buildflags maps this directory to "." in the debugging paths.
  cd "$repo"
  bash "$repo/scripts/install_deps.sh" --packaging
  clean_build_dir
  configure
  make_package
  check_changelog_version
  check_with_lintian
  echo "$deb"
}

main "$@"
