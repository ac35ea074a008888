#!/usr/bin/env bash
# The quality benchmark: installs what is missing (pngquant, the photographs
# of python3-skimage, numpy), builds skinprep as it is and as it was before
# its levels were averaged as light (BASELINE, a commit), and compares both
# with pngquant and with exact references.
#   bash bench/quality.sh            (prints the tables for the README)
set -euo pipefail
cd "$(dirname "$0")/.."
baseline=${BASELINE:-144f47e}
bash scripts/setup.sh pngquant python3-skimage python3-numpy python3-pil gimp-data fonts-dejavu-core
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null
# The earlier skinprep, built from its own commit beside this tree.
if [ ! -x build/baseline/skinprep ]; then
  rm -rf build/baseline-src
  git worktree add --force --detach build/baseline-src "$baseline" >/dev/null 2>&1
  cmake -S build/baseline-src -B build/baseline -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  cmake --build build/baseline -j 2 --target skinprep >/dev/null
  git worktree remove --force build/baseline-src
fi
/usr/bin/python3 bench/quality.py "$PWD/build/default" "$PWD/build/baseline"
