#!/usr/bin/env bash
# Installs from Debian 12's archive what path2ini needs, and nothing when it
# is already there:
#
#   bash .ci/deps.sh             building the tool: cmake, make, g++
#   bash .ci/deps.sh --tests     and the tests: GoogleTest, and pxlib (through
#                                pkg-config), an independent reader of tables
#   bash .ci/deps.sh --package   and the Debian package: dpkg-shlibdeps and
#                                file, which CPack asks for the dependencies
#
# Runs apt-get as root, or through sudo for another user.
set -euo pipefail
packages=(cmake make g++)
for option in "$@"; do
  case "$option" in
    --tests) packages+=(pkg-config googletest libgtest-dev pxlib-dev) ;;
    --package) packages+=(dpkg-dev file) ;;
    *) echo "usage: $0 [--tests] [--package]" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "$0: installing ${missing[*]} needs root: run it as root, or install and set up sudo" >&2
    exit 1
  fi
  sudo=(sudo)
fi
echo "installing ${missing[*]}"
# A mirror caught between syncs fails one index or another; apt-get keeps
# the lists it could fetch, and the install below says whether they do.
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q ||
  echo "$0: apt-get update failed; trying with the package lists there are" >&2
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
