#!/usr/bin/env bash
# Sets up what is missing, then builds and runs every test: the normal build
# (warnings as errors), the packages, the Windows build under Wine, the same
# suite under AddressSanitizer and UndefinedBehaviorSanitizer, a bounded
# fuzzing run, and the static checks.
set -euo pipefail
cd "$(dirname "$0")/.."

# Each phase's time, printed at the end (also when a phase fails), to show
# where the run's time goes.
phases=()
phase_name=""
phase_start=$SECONDS
end_phase() {
  [ -z "$phase_name" ] || phases+=("$(printf '%5d s  %s' $((SECONDS - phase_start)) "$phase_name")")
  phase_name=""
}
phase() {
  end_phase
  phase_name=$1
  phase_start=$SECONDS
  echo "== $1"
}
print_phases() {
  end_phase
  echo "== Time by phase"
  printf '%s\n' "${phases[@]}"
  printf '%5d s  in all\n' "$SECONDS"
}
trap print_phases EXIT
phase "Setup"

# The paint programs are for the tests that take images through them, Chromium
# opens the preview page, strace injects rename and lock faults; clang and its
# runtime build the fuzz targets.
bash scripts/setup.sh imagemagick python3-pil gimp xvfb xauth \
  clang libclang-rt-14-dev clang-format clang-tidy cppcheck \
  g++-mingw-w64-x86-64 wine64 wine dpkg man-db groff-base strace chromium ccache
# Every build goes through ccache (its cache outside the clone): a clean
# clone on a machine that ran the tests before compiles nothing twice, in
# whatever directory it lies (paths taken relative to it, and the working
# directory of a build with debug information not counted).
export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true

phase "Normal build and tests"
cmake --preset default
cmake --build --preset default
ctest --preset default

phase "The tools alone (cmake -DBUILD_TESTING=OFF), GoogleTest kept out of sight"
cmake --no-warn-unused-cli -S . -B build/tools-only -DBUILD_TESTING=OFF -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >/dev/null
cmake --build build/tools-only -j 2 >/dev/null
ls build/tools-only/skinsplit build/tools-only/skinprep build/tools-only/skinweld

phase "Packages: the Debian package in a scratch root, the manual pages"
bash scripts/package-test.sh

phase "Windows: cross-built with MinGW-w64, tested under Wine"
bash scripts/windows-test.sh

phase "Under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan
cmake --build --preset asan
ctest --preset asan

phase "Fuzzing, 10 seconds a target"
bash scripts/fuzz.sh 10

phase "Static checks"
bash scripts/check.sh
