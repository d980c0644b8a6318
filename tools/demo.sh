#!/usr/bin/env bash
# Builds path2ini, generates the sample path table with our own table engine
# and converts it, showing the table before and after and the INI file.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target path2ini sample_table >/dev/null

sample=build/sample
rm -rf "$sample"
mkdir -p "$sample"
build/sample_table create "$sample" >/dev/null

echo "== the sample table $sample/PATHS.DB (keyed, encrypted, code page 1251)"
build/sample_table show "$sample/PATHS.DB"
echo
echo "== path2ini $sample/PATHS.DB"
build/path2ini "$sample/PATHS.DB"
echo "(exit code $?)"
echo
echo "== the table after the run: DESCRIPTION was added"
build/sample_table show "$sample/PATHS.DB"
echo
echo "== $sample/PATHS.INI (Windows-1251 with CRLF, shown in UTF-8)"
iconv -f CP1251 -t UTF-8 "$sample/PATHS.INI" | tr -d '\r'
