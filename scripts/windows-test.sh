#!/usr/bin/env bash
# Cross-builds the Windows tools with MinGW-w64 (libimagequant, libpng, zlib
# and libdeflate built in from Debian's source packages), packs them as a .zip, and
# runs the Windows test set under Wine (in a throwaway Wine prefix).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh g++-mingw-w64-x86-64 wine64 wine groff-base
# The libraries are compiled from their sources with the MinGW compiler.
bash scripts/fetch-sources.sh
[ -x build/default/tests/texgen ] || { cmake --preset default && cmake --build --preset default; }
cmake --preset windows >/dev/null
cmake --build --preset windows
(cd build/windows && cpack >/dev/null && ls skintools-*.zip)
# The licences of what is built in travel with the tools. The listing is
# read whole first: 'grep -q' stops at its first match, and under pipefail
# the lister's broken pipe would fail the run now and then.
listing=$(unzip -l build/windows/skintools-*.zip)
grep -q LICENSE-libpng <<<"$listing"
grep -q LICENSE-zlib <<<"$listing"
grep -q LICENSE-libdeflate <<<"$listing"
/usr/bin/python3 tests/windows/wine_test.py build/windows build/default
