#!/usr/bin/env bash
# Sets up what is missing, builds with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

# The paint programs are for the tests that take images through them.
bash scripts/setup.sh imagemagick python3-pil gimp xvfb xauth
cmake --preset default
cmake --build --preset default
ctest --preset default
