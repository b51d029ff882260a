#!/usr/bin/env bash
# Fuzzes the decrypt path for SECONDS (default 60) with libFuzzer, ASan and
# UBSan, in its own clang build tree, whose password derivation gives a fixed
# master key (KESTRIN_FUZZ_FIXED_KEY). New inputs go to fuzz/corpus-work (not
# committed); crashes to build/fuzz/artifacts.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SECS="${1:-60}"
B="$ROOT/build/fuzz"
SAN="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g"

cmake -S "$ROOT" -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DKESTRIN_FUZZ=ON -DKESTRIN_FUZZ_FIXED_KEY=ON -DKESTRIN_BENCH=OFF \
    "-DCMAKE_C_FLAGS=$SAN" "-DCMAKE_CXX_FLAGS=$SAN" >/dev/null
cmake --build "$B" --target fuzz_decrypt -j "${JOBS:-2}"

mkdir -p "$ROOT/fuzz/corpus-work" "$B/artifacts"
cd "$B"
exec ./bin/fuzz_decrypt -max_total_time="$SECS" -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$B/artifacts/" \
    "$ROOT/fuzz/corpus-work" "$ROOT/fuzz/corpus"
