#!/usr/bin/env bash
# The Windows build, cross-compiled with mingw-w64 and tested under Wine.
# Installs nothing: needs g++-mingw-w64-i686-win32, wine, wine32:i386,
# googletest and the locales ru_RU.UTF-8 and ja_JP.UTF-8 (see .ci/run).
#
#   .ci/windows.sh [build directory, default build-win32]
#
# Runs in a Wine prefix inside the build tree (32-bit), with the Russian
# locale (ANSI code page 1251, OEM 866) and without a display, so that
# message boxes return at once; the prefix's wineserver is stopped at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build-win32}
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

echo "== cross-compile path2ini.exe and the tests (mingw-w64 i686, warnings are errors)"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DP2I_WERROR=ON -DP2I_BUILD_BENCH=OFF
cmake --build "$build" -j2
built=$(date +%s)

export WINEPREFIX="$build/wineprefix"
export WINEARCH=win32
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
  set +e
  (cd "$e2e/linux/$from" && "$root/$native/path2ini" "$linux_arg" >"$e2e/$dir.linux.out" 2>"$e2e/$dir.linux.err")
  code_linux=$?
  (cd "$e2e/windows/$from" && wine "$build/path2ini.exe" "$argument" >"$e2e/$dir.windows.raw" 2>"$e2e/$dir.windows.err")
  code_windows=$?
  set -e
  [ "$code_linux" = "$expected_code" ] || fail "$dir: Linux exit code $code_linux, expected $expected_code"
  [ "$code_windows" = "$expected_code" ] || fail "$dir: Windows exit code $code_windows, expected $expected_code"
  # Standard output: CR LF line ends, then the name and full path in code page 866.
  if [ -s "$e2e/$dir.windows.raw" ] && grep -qav $'\r$' "$e2e/$dir.windows.raw"; then fail "$dir: a console line without CR LF"; fi
  tr -d '\r' <"$e2e/$dir.windows.raw" >"$e2e/$dir.windows.out"
  local name=${argument##*\\} full
  full=$(windows_path "$(cd "$e2e/windows/$from" && pwd)")\\$argument
  printf '%s\n%s\n' "$name" "$full" | iconv -f UTF-8 -t CP866 >"$e2e/$dir.expected.out"
  cmp -s "$e2e/$dir.windows.out" "$e2e/$dir.expected.out" || fail "$dir: console output is not the name and full path in code page 866"
  if [ "$expected_code" = 0 ]; then
    cmp -s "$e2e/linux/$dir/PATHS.INI" "$e2e/windows/$dir/PATHS.INI" || fail "$dir: the INI files differ"
    cmp -s "$e2e/linux/$dir/PATHS.DB" "$e2e/windows/$dir/PATHS.DB" || fail "$dir: the upgraded tables differ"
    # Every key our INI layer wrote reads back the same through the real
    # GetPrivateProfileStringA.
    local ini
    ini=$(windows_path "$e2e/windows/$dir")\\PATHS.INI
    wine "$build/ini_readback.exe" win32 "$ini" NAME PATH PRIORITY Main Tail | tr -d '\r' >"$e2e/$dir.win32.keys"
    wine "$build/ini_readback.exe" ours "$ini" NAME PATH PRIORITY Main Tail | tr -d '\r' >"$e2e/$dir.ours.keys"
    [ -s "$e2e/$dir.ours.keys" ] || fail "$dir: no keys read back"
    cmp -s "$e2e/$dir.win32.keys" "$e2e/$dir.ours.keys" || fail "$dir: GetPrivateProfileStringA reads other values"
  fi
  echo "$dir $argument: exit code $code_windows"
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

[ "$failures" = 0 ] || { echo "== end to end: $failures failures (files in $e2e)"; exit 1; }
echo "== end to end passed"

echo "== Windows stage: build $((built - start)) s, Wine $(( $(date +%s) - built )) s"
