#!/bin/sh
# Instructions per row of a whole conversion of 100,000 encrypted rows, as
# valgrind's callgrind counts them (exact where timings are noisy), for an
# INI file written anew and for one left unchanged. Run by hand from the
# build directory of a Release build:
#   sh ../bench/instructions.sh [rows]
# Target: at most 4,000 instructions per row.
set -eu
rows=${1:-100000}
command -v valgrind >/dev/null || { echo "instructions.sh: valgrind is not installed" >&2; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
./bench/conversion_bench make "$dir/T.DB" "$rows"
count() {
    valgrind --tool=callgrind --callgrind-out-file=/dev/null ./path2ini "$dir/T.DB" 2>&1 >/dev/null |
        sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}
for run in "INI file written anew" "INI file unchanged"; do
    [ "$run" = "INI file written anew" ] && rm -f "$dir/T.INI"
    total=$(count)
    per_row=$((total / rows))
    verdict=missed
    [ "$per_row" -le 4000 ] && verdict=met
    printf '%8d rows, %-22s %12d instructions, %5d per row; target <= 4000: %s\n' \
        "$rows" "$run:" "$total" "$per_row" "$verdict"
done
