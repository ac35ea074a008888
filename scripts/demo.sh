#!/usr/bin/env bash
# Sets up what is missing, builds, makes a sample texture of each sub-type and
# shows both tools at work on them in build/demo.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default

bin=build/default
demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
texgen="$PWD/$bin/tests/texgen"
skinsplit="$PWD/$bin/skinsplit"
skinweld="$PWD/$bin/skinweld"
cd "$demo"

echo "== Sample textures (generated test patterns)"
"$texgen" tex 1 128 64 paletted.tex
"$texgen" tex 14 64 64 expanded.tex
"$texgen" tex 17 64 32 truecolour24.tex
"$texgen" tex 18 32 64 truecolour32.tex
ls -l ./*.tex

echo
echo "== skinsplit paletted.tex expanded.tex truecolour24.tex truecolour32.tex"
"$skinsplit" paletted.tex expanded.tex truecolour24.tex truecolour32.tex </dev/null
echo
echo "== What skinsplit wrote into $demo/tga"
ls -l tga

echo
echo "== Preparing the image directory 'paletted' as a user would:"
echo "   the palette file, the image as the high level, and half and quarter size copies"
mkdir -p paletted
cp tga/paletted.pal paletted/paletted.pal
cp tga/paletted.tga paletted/paletted_h.tga
"$texgen" shrink tga/paletted.tga 2 paletted/paletted_m.tga
"$texgen" shrink tga/paletted.tga 4 paletted/paletted_l.tga
cp paletted.tex paletted.original.tex
ls -l paletted

echo
echo "== skinweld paletted"
"$skinweld" paletted </dev/null
echo
if cmp paletted.tex paletted.original.tex; then
  echo "The welded paletted.tex is byte for byte the texture that was split."
else
  echo "The welded paletted.tex differs from the texture that was split!" >&2
  exit 1
fi
