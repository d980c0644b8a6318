#!/usr/bin/env bash
# The Windows build, cross-compiled with mingw-w64 and tested under Wine.
# Installs nothing: needs googletest, the locales ru_RU.UTF-8 and
# ja_JP.UTF-8, and for the architecture chosen (see .ci/run):
#   i686 (the build we ship)   g++-mingw-w64-i686-win32, wine, wine32:i386
#   x86_64                     g++-mingw-w64-x86-64-win32, wine, wine64
#
#   P2I_WINDOWS_ARCH=i686|x86_64 .ci/windows.sh [build directory]
#
# The build directory defaults to build-win32 (i686) or build-win64. The
# tests run in a Wine prefix of that architecture inside the build tree, with
# the Russian locale (ANSI code page 1251, OEM 866) and without a display, so
# that message boxes return at once; the prefix's wineserver is stopped at
# the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
arch=${P2I_WINDOWS_ARCH:-i686}
case "$arch" in
  i686) default_build=build-win32 wine_arch=win32 ;;
  x86_64) default_build=build-win64 wine_arch=win64 ;;
  *) echo "P2I_WINDOWS_ARCH: i686 or x86_64, not $arch" >&2; exit 2 ;;
esac
build=${1:-$default_build}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
start=$(date +%s)

# Wine takes its code pages from the locale: ru_RU gives ANSI 1251 and OEM
# 866, ja_JP gives 932 for the double-byte cases.
for wanted in ru_RU ja_JP; do
  if ! locale -a | grep -qix "$wanted.utf-\?8"; then
    echo "the locale $wanted.UTF-8 is missing: localedef -i $wanted -f UTF-8 $wanted.UTF-8" >&2
    exit 1
  fi
done

echo "== cross-compile path2ini.exe and the tests (mingw-w64 $arch, warnings are errors)"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DP2I_WERROR=ON -DP2I_BUILD_BENCH=OFF
cmake --build "$build" -j2
built=$(date +%s)
# user32.dll is loaded when a text first needs it, not when the process
# starts: under Wine, loading it costs a small conversion twice over.
if "$arch-w64-mingw32-objdump" -p "$build/path2ini.exe" | grep -qi "DLL Name: user32"; then
  echo "path2ini.exe imports user32.dll at start" >&2
  exit 1
fi

export WINEPREFIX="$build/wineprefix"
export WINEARCH=$wine_arch
export WINEDEBUG=-all
# No Mono or Gecko installers: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=ru_RU.UTF-8
unset DISPLAY WAYLAND_DISPLAY
trap 'wineserver -k 2>/dev/null || true' EXIT

echo "== Wine prefix"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i
  wineserver -w
fi

echo "== unit and contract tests under Wine"
ctest --test-dir "$build" --output-on-failure -j2
# Cases skipped where Wine is known to differ from Windows, with the reason.
grep -a -A1 ": Skipped$" "$build/Testing/Temporary/LastTest.log" | grep -av "^--$" || true

echo "== end to end: the same tables through path2ini on Linux and path2ini.exe under Wine"
# The Linux side comes from the native build (P2I_NATIVE_BUILD, default build).
native=${P2I_NATIVE_BUILD:-build}
[ -f "$native/CMakeCache.txt" ] || cmake -S . -B "$native" -DP2I_WERROR=ON >/dev/null
cmake --build "$native" -j2 --target path2ini sample_table >/dev/null
e2e="$build/e2e"
rm -rf "$e2e"
mkdir -p "$e2e/source"
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# The windows path of a unix path, as Wine shows it: drive Z: is the root.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# The source tables: the sample table in a plain and in a Cyrillic directory,
# and one whose INI file already holds other sections and stale keys.
"$native/sample_table" create "$e2e/source" >/dev/null
mkdir -p "$e2e/cases/plain" "$e2e/cases/Данные" "$e2e/cases/keep" "$e2e/cases/damaged"
for dir in plain Данные keep; do cp "$e2e/source/PATHS.DB" "$e2e/cases/$dir/"; done
head -c 300 "$e2e/source/PATHS.DB" >"$e2e/cases/damaged/PATHS.DB"
printf '[Main]\r\nkeep=1\r\n[NAME]\r\nOLD=stale\r\n[PRIORITY]\r\nAB=1\r\n[Tail]\r\nx = 2\r\n' > "$e2e/cases/keep/PATHS.INI"
cp -a "$e2e/cases" "$e2e/linux"
cp -a "$e2e/cases" "$e2e/windows"

# run_case DIR FROM ARGUMENT CODE: runs both executables in FROM with the
# (Windows-form) ARGUMENT, which names DIR/PATHS.DB or a missing table, and
# compares exit codes, console output, INI files and tables.
run_case() {
  local dir=$1 from=$2 argument=$3 expected_code=$4
  local linux_arg=${argument//\\//} code_linux code_windows
  # Where its outputs go: cases in deep directories are named by their first one.
  local tag=${dir%%/*}
  set +e
  (cd "$e2e/linux/$from" && "$root/$native/path2ini" "$linux_arg" >"$e2e/$tag.linux.out" 2>"$e2e/$tag.linux.err")
  code_linux=$?
  (cd "$e2e/windows/$from" && wine "$build/path2ini.exe" "$argument" >"$e2e/$tag.windows.raw" 2>"$e2e/$tag.windows.err")
  code_windows=$?
  set -e
  [ "$code_linux" = "$expected_code" ] || fail "$tag: Linux exit code $code_linux, expected $expected_code"
  [ "$code_windows" = "$expected_code" ] || fail "$tag: Windows exit code $code_windows, expected $expected_code"
  # Standard output: CR LF line ends, then the name and full path in code page 866.
  if [ -s "$e2e/$tag.windows.raw" ] && grep -qav $'\r$' "$e2e/$tag.windows.raw"; then fail "$tag: a console line without CR LF"; fi
  tr -d '\r' <"$e2e/$tag.windows.raw" >"$e2e/$tag.windows.out"
  local name=${argument##*\\} full
  full=$(windows_path "$(cd "$e2e/windows/$from" && pwd)")\\$argument
  printf '%s\n%s\n' "$name" "$full" | iconv -f UTF-8 -t CP866 >"$e2e/$tag.expected.out"
  cmp -s "$e2e/$tag.windows.out" "$e2e/$tag.expected.out" || fail "$tag: console output is not the name and full path in code page 866"
  if [ "$expected_code" = 0 ]; then
    cmp -s "$e2e/linux/$dir/PATHS.INI" "$e2e/windows/$dir/PATHS.INI" || fail "$tag: the INI files differ"
    cmp -s "$e2e/linux/$dir/PATHS.DB" "$e2e/windows/$dir/PATHS.DB" || fail "$tag: the upgraded tables differ"
    # Every key our INI layer wrote reads back the same through the real
    # GetPrivateProfileStringA.
    local ini
    ini=$(windows_path "$e2e/windows/$dir")\\PATHS.INI
    wine "$build/ini_readback.exe" ours "$ini" NAME PATH PRIORITY Main Tail | tr -d '\r' >"$e2e/$tag.ours.keys"
    [ -s "$e2e/$tag.ours.keys" ] || fail "$tag: no keys read back"
    # The ANSI functions open no path past 259 characters: an INI file beside
    # a table of 259 has 260.
    if [ "${#ini}" -le 259 ]; then
      wine "$build/ini_readback.exe" win32 "$ini" NAME PATH PRIORITY Main Tail | tr -d '\r' >"$e2e/$tag.win32.keys"
      cmp -s "$e2e/$tag.win32.keys" "$e2e/$tag.ours.keys" || fail "$tag: GetPrivateProfileStringA reads other values"
    else
      echo "$tag: the INI path has ${#ini} characters, too many for GetPrivateProfileStringA: not read back through it"
    fi
  fi
  echo "$tag $argument: exit code $code_windows"
}
run_case plain plain 'PATHS.DB' 0
run_case Данные . 'Данные\PATHS.DB' 0
run_case keep keep 'PATHS.DB' 0
# A table that is not there: exit code 3 on both sides and no INI file.
run_case plain plain 'NOPE.DB' 3
[ ! -e "$e2e/windows/plain/NOPE.INI" ] || fail "an INI file was written for a missing table"
# A damaged table: the error box has no desktop to appear on, so its caption
# and text go to standard error (in code page 866), and the run fails.
run_case damaged damaged 'PATHS.DB' 3
box=$(printf 'Ошибка: Ошибка открытия файла %s\\PATHS.DB' "$(windows_path "$e2e/windows/damaged")" | iconv -f UTF-8 -t CP866)
tr -d '\r' <"$e2e/damaged.windows.err" | grep -aqF "$box" || fail "damaged: the error box's text is not on standard error"
[ ! -e "$e2e/windows/damaged/PATHS.INI" ] || fail "damaged: an INI file was written"

# Awkward values written by our INI layer on Windows, read by the real
# functions.
awkward=$(windows_path "$e2e")\\AWKWARD.INI
wine "$build/ini_readback.exe" write "$awkward"
wine "$build/ini_readback.exe" win32 "$awkward" AWKWARD | tr -d '\r' >"$e2e/awkward.win32.keys"
wine "$build/ini_readback.exe" ours "$awkward" AWKWARD | tr -d '\r' >"$e2e/awkward.ours.keys"
[ "$(wc -l <"$e2e/awkward.ours.keys")" -ge 17 ] || fail "awkward values: keys missing"
cmp -s "$e2e/awkward.win32.keys" "$e2e/awkward.ours.keys" || fail "awkward values: GetPrivateProfileStringA reads other values"

# INI files that other programs wrote with a byte-order mark, holding other
# sections (Cyrillic) and stale keys: they stay UTF-16LE and UTF-8, and the
# real GetPrivateProfileStringA reads the new keys and the old sections.
for encoding in utf16 utf8; do
  mkdir -p "$e2e/linux/$encoding" "$e2e/windows/$encoding"
  ini_text=$'[Main]\r\nkeep=Ключ\r\n[NAME]\r\nOLD=stale\r\n[Tail]\r\nx = 2\r\n'
  for side in linux windows; do
    cp "$e2e/source/PATHS.DB" "$e2e/$side/$encoding/"
    if [ "$encoding" = utf16 ]; then
      { printf '\xFF\xFE'; printf '%s' "$ini_text" | iconv -f UTF-8 -t UTF-16LE; } >"$e2e/$side/$encoding/PATHS.INI"
    else
      { printf '\xEF\xBB\xBF%s' "$ini_text"; } >"$e2e/$side/$encoding/PATHS.INI"
    fi
  done
  run_case "$encoding" "$encoding" 'PATHS.DB' 0
  mark=$(head -c 3 "$e2e/windows/$encoding/PATHS.INI" | od -An -tx1 | tr -d ' \n')
  case "$encoding:$mark" in utf16:fffe*|utf8:efbbbf) ;; *) fail "$encoding: the byte-order mark is gone ($mark)" ;; esac
  grep -aq '^\[NAME\] AB=' "$e2e/$encoding.win32.keys" || fail "$encoding: GetPrivateProfileStringA reads no new key"
  grep -aqF "$(printf '[Main] keep=Ключ' | iconv -f UTF-8 -t CP1251)" "$e2e/$encoding.win32.keys" ||
    fail "$encoding: GetPrivateProfileStringA lost the other sections"
  ! grep -aq 'OLD=' "$e2e/$encoding.win32.keys" || fail "$encoding: the stale key stayed"
done

# An INI file that another program holds open, sharing reading and writing
# but not deleting: written all the same. (The sample table is keyed: its
# upgrade writes PATHS.PX beside it.)
mkdir -p "$e2e/linux/held" "$e2e/windows/held"
for side in linux windows; do
  cp "$e2e/source/PATHS.DB" "$e2e/$side/held/"
  printf '[Main]\r\nkeep=1\r\n[NAME]\r\nOLD=stale\r\n' >"$e2e/$side/held/PATHS.INI"
done
(cd "$e2e/linux/held" && "$root/$native/path2ini" PATHS.DB >/dev/null 2>&1) || fail "held: the Linux run failed"
set +e
(cd "$e2e/windows/held" && wine "$build/ini_readback.exe" hold "$(windows_path "$e2e/windows/held")\\PATHS.INI" \
   "$(windows_path "$build")\\path2ini.exe" PATHS.DB >"$e2e/held.windows.out" 2>"$e2e/held.windows.err")
code=$?
set -e
[ "$code" = 0 ] || fail "held: exit code $code ($(tr -d '\r' <"$e2e/held.windows.err" | tail -1))"
cmp -s "$e2e/linux/held/PATHS.INI" "$e2e/windows/held/PATHS.INI" || fail "held: the INI files differ"
[ "$(LC_ALL=C ls "$e2e/windows/held" | tr '\n' ' ')" = "PATHS.DB PATHS.INI PATHS.PX " ] || fail "held: files left beside the INI"
echo "held PATHS.DB: exit code $code"

# Paths as users type them on Windows: "/" and a dotted folder, a table
# without extension. The INI goes beside the table, and v1.INI (what the
# folder's dot once made of it) is not touched.
for side in linux windows; do
  mkdir -p "$e2e/$side/slash/v1.2"
  cp "$e2e/source/PATHS.DB" "$e2e/$side/slash/v1.2/PATHS"
  printf '[NAME]\r\nX=not ours\r\n' >"$e2e/$side/slash/v1.INI"
done
(cd "$e2e/linux/slash" && "$root/$native/path2ini" v1.2/PATHS >/dev/null 2>&1) || fail "slash: the Linux run failed"
(cd "$e2e/windows/slash" && wine "$build/path2ini.exe" 'v1.2/PATHS' >"$e2e/slash.windows.raw" 2>/dev/null) ||
  fail "slash: the Windows run failed"
printf '%s\n%s\n' 'v1.2/PATHS' "$(windows_path "$e2e/windows/slash")\\v1.2\\PATHS" | iconv -f UTF-8 -t CP866 >"$e2e/slash.expected.out"
tr -d '\r' <"$e2e/slash.windows.raw" | cmp -s - "$e2e/slash.expected.out" || fail "slash: console output is not the argument and its full path"
for side in linux windows; do
  [ "$(cd "$e2e/$side/slash" && find . -type f | LC_ALL=C sort | tr '\n' ' ')" = \
    "./v1.2/PATHS ./v1.2/PATHS.INI ./v1.2/PATHS.PX ./v1.INI " ] ||
    fail "slash: $side wrote files other than v1.2/PATHS.INI"
  [ "$(cat "$e2e/$side/slash/v1.INI")" = $'[NAME]\r\nX=not ours\r' ] || fail "slash: $side changed v1.INI"
done
cmp -s "$e2e/linux/slash/v1.2/PATHS.INI" "$e2e/windows/slash/v1.2/PATHS.INI" || fail "slash: the INI files differ"
# A trailing dot, which Windows drops: PATHS.DB. is PATHS.DB, its INI PATHS.INI.
mkdir -p "$e2e/windows/dot"
cp "$e2e/source/PATHS.DB" "$e2e/windows/dot/"
(cd "$e2e/windows/dot" && wine "$build/path2ini.exe" 'PATHS.DB.' >"$e2e/dot.windows.out" 2>"$e2e/dot.windows.err") ||
  fail "dot: the Windows run failed ($(tr -d '\r' <"$e2e/dot.windows.err" | tail -3))"
[ "$(LC_ALL=C ls "$e2e/windows/dot" | tr '\n' ' ')" = "PATHS.DB PATHS.INI PATHS.PX " ] || fail "dot: not PATHS.INI beside PATHS.DB"
echo "slash v1.2/PATHS, dot PATHS.DB.: checked"

# Table paths of 250 and 259 characters (as Windows shows them), the longest
# Windows programs open: converted and upgraded, twice, with nothing left
# beside them; at 260 the run names the path and says it is too long.
# long_dir LENGTH: the directory, under linux/ and windows/, whose PATHS.DB
# has a Windows path of LENGTH characters.
long_dir() {
  local length=$1 sub="long$length" full
  full=$(windows_path "$e2e/windows/$sub")
  local left=$((length - ${#full} - 9))  # "\PATHS.DB"
  while [ "$left" -gt 0 ]; do
    local n=$((left - 1 > 100 ? 100 : left - 1))
    [ $((left - 1 - n)) = 1 ] && n=$((n - 1))
    sub="$sub/$(printf '%*s' "$n" '' | tr ' ' d)"
    left=$((left - 1 - n))
  done
  printf '%s' "$sub"
}
for length in 250 259; do
  sub=$(long_dir "$length")
  for side in linux windows; do mkdir -p "$e2e/$side/$sub" && cp "$e2e/source/PATHS.DB" "$e2e/$side/$sub/"; done
  table=$(windows_path "$e2e/windows/$sub")\\PATHS.DB
  [ "${#table}" = "$length" ] || fail "long$length: the table path has ${#table} characters"
  run_case "$sub" "$sub" 'PATHS.DB' 0
  run_case "$sub" "$sub" 'PATHS.DB' 0
  [ "$(LC_ALL=C ls "$e2e/windows/$sub" | tr '\n' ' ')" = "PATHS.DB PATHS.INI PATHS.PX " ] ||
    fail "long$length: files left beside the table"
done
sub=$(long_dir 260)
mkdir -p "$e2e/windows/$sub" && cp "$e2e/source/PATHS.DB" "$e2e/windows/$sub/"
set +e
(cd "$e2e/windows/$sub" && wine "$build/path2ini.exe" PATHS.DB >/dev/null 2>"$e2e/long260.err")
code=$?
set -e
[ "$code" = 3 ] || fail "long260: exit code $code, expected 3"
too_long=$(printf 'Слишком длинный путь %s\\PATHS.DB' "$(windows_path "$e2e/windows/$sub")" | iconv -f UTF-8 -t CP866)
tr -d '\r' <"$e2e/long260.err" | grep -aqF "$too_long" || fail "long260: the message does not name the path as too long"
[ "$(LC_ALL=C ls "$e2e/windows/$sub" | tr '\n' ' ')" = "PATHS.DB " ] || fail "long260: files written beside the table"
echo "long260 PATHS.DB: exit code $code"

[ "$failures" = 0 ] || { echo "== end to end: $failures failures (files in $e2e)"; exit 1; }
echo "== end to end passed"

echo "== Windows stage: build $((built - start)) s, Wine $(( $(date +%s) - built )) s"
