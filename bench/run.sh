#!/usr/bin/env bash
# The batch benchmark: installs what is missing (ImageMagick included), builds,
# and times the tools against the cat floor and ImageMagick.
#   bash bench/run.sh [RUNS]      (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh imagemagick python3 time libbenchmark-dev
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null
/usr/bin/python3 bench/run.py "${1:-5}"
echo
echo "Micro-benchmarks of the inner byte loops:"
if [ -x build/default/bench/micro_bench ]; then
  build/default/bench/micro_bench --benchmark_min_time=0.2
fi
