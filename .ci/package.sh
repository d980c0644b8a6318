#!/usr/bin/env bash
# The install rules and the Debian package, tried for real: cmake --install
# into a prefix, cpack -G DEB, dpkg -i of the package, the installed program
# (--version and a conversion) and manual page, then dpkg -r.
#
#   .ci/package.sh [build directory, default build]
#
# Runs as root (dpkg) and needs dpkg-dev, file and man-db (see .ci/run). The
# build directory is configured when it is not, and otherwise used as it is.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DP2I_WERROR=ON -DP2I_BUILD_TESTS=OFF -DP2I_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target path2ini sample_table >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

if dpkg-query -W -f='${Status}' path2ini 2>/dev/null | grep -q "ok installed"; then
  echo "a package path2ini is installed already: this stage would replace it" >&2
  exit 1
fi

echo "== cmake --install into a prefix"
prefix=$build/install-check
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
expected="bin/path2ini
share/doc/path2ini/LICENSE
share/doc/path2ini/README.md
share/man/man1/path2ini.1.gz"
installed=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort)
[ "$installed" = "$expected" ] || fail "installed files: $(echo $installed)"
[ "$("$prefix/bin/path2ini" --version)" = "path2ini $version" ] || fail "the installed program's --version"

echo "== cpack -G DEB"
(cd "$build" && cpack -G DEB >/dev/null)
deb=$build/path2ini_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "FAILED: no package $deb"; exit 1; }
echo "$deb: $(stat -c %s "$deb") bytes"
dpkg-deb -f "$deb" Package Version Maintainer Depends Section
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer field"
dpkg-deb -f "$deb" Depends | grep -q "libc6" || fail "the dependencies lack libc6 (dpkg-shlibdeps did not run?)"

echo "== dpkg -i, the installed program and manual page, dpkg -r"
dpkg -i "$deb" >/dev/null
trap 'dpkg -r path2ini >/dev/null' EXIT
[ "$(command -v path2ini)" = /usr/bin/path2ini ] || fail "path2ini is not /usr/bin/path2ini"
[ "$(path2ini --version)" = "path2ini $version" ] || fail "--version of the package's program"
man -l /usr/share/man/man1/path2ini.1.gz 2>&1 | grep -q "path2ini - convert a password-protected path table" ||
  fail "the manual page does not show"
sample=$(mktemp -d)
"$build/sample_table" create "$sample" >/dev/null
(cd "$sample" && path2ini PATHS.DB >/dev/null) || fail "the package's program did not convert the sample table"
grep -aq "^GH=GH" "$sample/PATHS.INI" 2>/dev/null || fail "the sample's INI file lacks GH=GH"
rm -rf "$sample"
dpkg -r path2ini >/dev/null
trap - EXIT
[ ! -e /usr/bin/path2ini ] || fail "dpkg -r left /usr/bin/path2ini"

[ "$failures" = 0 ] || { echo "== package stage: $failures failures"; exit 1; }
echo "== package stage passed"
