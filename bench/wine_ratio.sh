#!/bin/sh
# The Windows executable under Wine against the Linux binary, converting the
# same table of 100,000 encrypted rows (an INI file written anew each run),
# in turns, with one wineserver kept running so that neither side pays for
# starting it. The new table is written out to the disk first and each side
# runs once uncounted, so that no run pays for the writeback of the table or
# of a cold start. Prints each side's median of 15 runs and their ratio. Run
# by hand from the build directory of a Linux Release build:
#   sh ../bench/wine_ratio.sh path/to/path2ini.exe [rows]
# Needs wine64 (Debian's wine and wine64 packages). Target: ratio <= 2.
set -eu
exe=$(realpath "$1")
rows=${2:-100000}
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
server=$(command -v wineserver || echo /usr/lib/wine/wineserver)
[ -x "$wine" ] || { echo "wine_ratio.sh: wine64 is not installed" >&2; exit 1; }
dir=$(mktemp -d)
export WINEPREFIX="$dir/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap '"$server" -k 2>/dev/null || true; rm -rf "$dir"' EXIT
"$wine" wineboot -i >/dev/null 2>&1
"$server" -w
"$server" -p 600 </dev/null >/dev/null 2>&1
./bench/conversion_bench make "$dir/T.DB" "$rows"
sync

# Seconds of one run, by the shell's clock in nanoseconds.
seconds() {
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 </dev/null || true
    end=$(date +%s%N)
    echo "$(( (end - start) / 1000 ))" | awk '{ printf "%.4f\n", $1 / 1e6 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Wine's drive Z: is the root of the file system.
table="Z:$(echo "$dir/T.DB" | tr / '\\')"
# A first run of each, not counted.
"$wine" "$exe" "$table" >/dev/null 2>&1 </dev/null || true
rm -f "$dir/T.INI"
./path2ini "$dir/T.DB" >/dev/null 2>&1 </dev/null || true
: >"$dir/wine.txt"
: >"$dir/linux.txt"
for run in $(seq 15); do
    rm -f "$dir/T.INI"
    seconds "$wine" "$exe" "$table" >>"$dir/wine.txt"
    rm -f "$dir/T.INI"
    seconds ./path2ini "$dir/T.DB" >>"$dir/linux.txt"
done
w=$(median <"$dir/wine.txt")
l=$(median <"$dir/linux.txt")
awk -v w="$w" -v l="$l" -v rows="$rows" 'BEGIN {
    r = w / l
    printf "%8d rows, exe under wine64 %.3f s, Linux binary %.3f s (medians of 15): %.2f times; target <= 2: %s\n",
           rows, w, l, r, r <= 2 ? "met" : "missed"
}'
