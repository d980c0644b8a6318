#!/usr/bin/env bash
# The table engine's fuzz stage: builds the reader's libFuzzer target with
# Clang and runs it briefly over seed tables our own engine writes. A crash,
# hang or sanitizer report fails the stage. Run from the repository root.
set -euo pipefail
seconds="${P2I_FUZZ_SECONDS:-30}"
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DP2I_FUZZ=ON \
  -DP2I_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j2 --target engine_fuzz engine_fuzz_seeds
corpus="$(mktemp -d)"
trap 'rm -rf "$corpus"' EXIT
build-fuzz/tests/engine/engine_fuzz_seeds "$corpus"
build-fuzz/tests/engine/engine_fuzz "$corpus" -max_total_time="$seconds" -timeout=10 \
  -rss_limit_mb=1024 -print_final_stats=1
