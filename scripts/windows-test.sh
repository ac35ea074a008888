#!/usr/bin/env bash
# Cross-builds the Windows tools with MinGW-w64 (libimagequant built in from
# Debian's source package), packs them as a .zip, and runs the Windows test
# set under Wine (in a throwaway Wine prefix).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh g++-mingw-w64-x86-64 wine64 wine
# libimagequant is compiled from its source with the MinGW compiler.
bash scripts/fetch-libimagequant.sh build/deps/libimagequant
[ -x build/default/tests/texgen ] || { cmake --preset default && cmake --build --preset default; }
cmake --preset windows >/dev/null
cmake --build --preset windows
(cd build/windows && cpack >/dev/null && ls skintools-*.zip)
/usr/bin/python3 tests/windows/wine_test.py build/windows build/default
