#!/usr/bin/env bash
# Builds the fuzz targets with clang (build-fuzz/) and runs each for SECONDS (default 60).
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
seconds="${1:-60}"
shift || true
build="$root/build-fuzz"

if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKRV_BUILD_FUZZ=ON -DKRV_BUILD_BENCH=OFF -DBUILD_TESTING=OFF \
        -DKRV_SANITIZE=fuzzer
fi
cmake --build "$build" -j "$(nproc)" --target fuzz_update_file fuzz_text_table fuzz_bmp fuzz_input_report

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(update_file text_table bmp input_report)

for t in "${targets[@]}"; do
    corpus="$build/corpus/$t"
    mkdir -p "$corpus" "$build/artifacts/$t"
    echo "== fuzz_$t for ${seconds}s"
    "$build/bin/fuzz_$t" "$corpus" "$root/fuzz/corpus/$t" -max_total_time="$seconds" \
        -artifact_prefix="$build/artifacts/$t/" -print_final_stats=1 -rss_limit_mb=4096 2>&1 | tail -n 12
done
