#!/usr/bin/env bash
# Sets up what is missing, builds, makes a sample texture of each sub-type and
# shows the three tools at work on them in build/demo.
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
skinprep="$PWD/$bin/skinprep"
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
echo "== skinprep paletted.tex expanded.tex: the image directories skinweld reads"
cp paletted.tex paletted.original.tex
cp expanded.tex expanded.original.tex
"$skinprep" paletted.tex expanded.tex </dev/null
ls -l paletted expanded

echo
echo "== skinweld paletted expanded"
"$skinweld" paletted expanded </dev/null
echo
for name in paletted expanded; do
  if cmp "$name.tex" "$name.original.tex"; then
    echo "The welded $name.tex is byte for byte the texture that was split."
  else
    echo "The welded $name.tex differs from the texture that was split!" >&2
    exit 1
  fi
done
