#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   bash scripts/fuzz.sh [SECONDS_PER_TARGET]     (default 10; try 600 for a long run)
# The corpus grows in build/fuzz/corpus; the seeds in tests/fuzz/corpus are
# made by "texgen seeds". A crash stops the run with the input that caused it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}

bash scripts/setup.sh clang libclang-rt-14-dev
# libpng and zlib are built from their sources with the fuzzer's
# instrumentation, so that fuzz_png sees their branches too.
bash scripts/fetch-sources.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# Absolute paths: the whole-procedure targets change the current directory.
root=$PWD
bin=$root/build/fuzz/tests/fuzz
for target in tex tga png pal split weld prep; do
  corpus=$root/build/fuzz/corpus/$target
  mkdir -p "$corpus" "$root/build/fuzz/crashes"
  log=build/fuzz/$target.log
  if ! "$bin/fuzz_$target" -max_total_time="$seconds" -close_fd_mask=3 -print_final_stats=1 \
      -artifact_prefix="$root/build/fuzz/crashes/$target-" "$corpus" "$root/tests/fuzz/corpus/$target" \
      >"$log" 2>&1; then
    tail -40 "$log"
    echo "fuzz_$target found a fault" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "fuzz_$target: $runs inputs in ${seconds}s, no fault"
done
