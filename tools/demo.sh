#!/usr/bin/env bash
# Builds path2ini, generates the sample path table with our own table engine
# and converts it, showing the table before and after and the INI file.
# Builds only the tool and the sample's generator, in a build directory of
# its own (build-demo), so it needs neither the tests' packages nor changes
# the settings of the main build directory.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-demo
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DP2I_BUILD_TESTS=OFF -DP2I_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target path2ini sample_table >/dev/null

# The INI file is shown in the terminal's character set, as path2ini shows
# its texts: the C locale's ASCII is taken as UTF-8, and a character the set
# lacks is shown as "?".
charset=$(locale charmap 2>/dev/null || echo UTF-8)
case "$charset" in ANSI_X3.4-1968 | "") charset=UTF-8 ;; esac

sample=$build/sample
rm -rf "$sample"
mkdir -p "$sample"
"$build/sample_table" create "$sample" >/dev/null

echo "== the sample table $sample/PATHS.DB (keyed, encrypted, code page 1251)"
"$build/sample_table" show "$sample/PATHS.DB"
echo
echo "== path2ini $sample/PATHS.DB"
code=0
"$build/path2ini" "$sample/PATHS.DB" || code=$?
echo "(exit code $code)"
echo
echo "== the table after the run: DESCRIPTION was added"
"$build/sample_table" show "$sample/PATHS.DB"
echo
echo "== $sample/PATHS.INI (Windows-1251 with CR LF, shown in $charset)"
iconv -f CP1251 -t "$charset//TRANSLIT" "$sample/PATHS.INI" | tr -d '\r'
