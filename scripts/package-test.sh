#!/usr/bin/env bash
# Makes the Debian package and the tarball, installs the package into a
# scratch root, runs the three installed tools on a generated texture there, and
# renders every manual page, which must give no warning.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh dpkg man-db groff-base
[ -x build/default/skinsplit ] || { cmake --preset default && cmake --build --preset default; }
root=$PWD
(cd build/default && cpack >/dev/null)
deb=$(ls build/default/skintools_*.deb)
tarball=$(ls build/default/skintools-*.tar.gz)
echo "made $(basename "$deb") and $(basename "$tarball")"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
tar -tzf "$tarball" >"$scratch/contents"
grep -q '/bin/skinsplit$' "$scratch/contents"
grep -q '/share/man/man1/skinweld.1$' "$scratch/contents"
grep -q '/bin/skinprep$' "$scratch/contents"
grep -q '/share/doc/skintools/copyright$' "$scratch/contents"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q libimagequant0 <<<"$depends"
grep -q libpng16-16 <<<"$depends"
dpkg -x "$deb" "$scratch/root"
bin=$scratch/root/usr/bin
cd "$scratch"
"$root/build/default/tests/texgen" tex 1 64 32 car1.tex
cp car1.tex original.tex
"$bin/skinsplit" car1.tex </dev/null >split.out
"$bin/skinprep" car1.tex </dev/null >prep.out
"$bin/skinweld" car1 </dev/null >weld.out
cmp car1.tex original.tex
echo "installed skinsplit, skinprep and skinweld took car1.tex apart and back"

for page in skinsplit skinprep skinweld; do
  file=$scratch/root/usr/share/man/man1/$page.1
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "man $page: $warnings" >&2
    exit 1
  fi
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$file" >"$scratch/$page.txt"
  grep -q "EXIT STATUS" "$scratch/$page.txt"
done
echo "every manual page renders without warnings"
