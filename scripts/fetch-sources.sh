#!/usr/bin/env bash
# Unpacks the sources of the libraries the tools link, as Debian's source
# packages hold them, for the static Windows build: libimagequant (the
# version the Linux build links), libpng, zlib and libdeflate (the versions
# of this Debian release), into DIR/libimagequant, DIR/libpng, DIR/zlib and
# DIR/libdeflate, and links build/deps to DIR (the presets' place for them):
#   bash scripts/fetch-sources.sh [DIR]
# DIR is by default outside the clone (~/.cache/skintools/sources), so that a
# fresh clone on the same machine finds them fetched already.
# apt fetches it with a configuration of its own for this one run: the
# machine's own Debian sources with their type changed to deb-src, and lists
# and cache in a temporary directory. No server address is written into the
# project, the machine's apt lists stay as they are, and apt checks the
# files against the archive's signed checksums as for any package.
set -euo pipefail
cd "$(dirname "$0")/.."
dest=${1:-${XDG_CACHE_HOME:-$HOME/.cache}/skintools/sources}
mkdir -p "$dest" build
dest=$(cd "$dest" && pwd)
if [ "$dest" != "$PWD/build/deps" ]; then
  [ -L build/deps ] || rm -rf build/deps
  ln -sfn "$dest" build/deps
fi
# Debian's source package, the directory it goes into, a file that shows it
# is there, and the versions to try in turn ("new": this release's newest; a
# mirror may not hold a security update's source yet).
packages=("libimagequant libimagequant libimagequant.h 2.17.0-1"
  "libpng1.6 libpng png.h new 1.6.39-2+deb12u5 1.6.39-2"
  "zlib zlib zlib.h new 1:1.2.13.dfsg-1"
  "libdeflate libdeflate libdeflate.h new 1.14-1")
missing=()
for package in "${packages[@]}"; do
  read -r name dir marker _ <<<"$package"
  [ -f "$dest/$dir/$marker" ] || missing+=("$package")
done
[ "${#missing[@]}" -gt 0 ] || exit 0
bash scripts/setup.sh dpkg-dev

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/sources.list.d"
: >"$work/sources.list"
if [ -f /etc/apt/sources.list ]; then
  sed -n 's/^deb \(.*\)$/deb-src \1/p' /etc/apt/sources.list >>"$work/sources.list"
fi
for list in /etc/apt/sources.list.d/*.list; do
  [ -f "$list" ] && sed -n 's/^deb \(.*\)$/deb-src \1/p' "$list" >>"$work/sources.list"
done
for sources in /etc/apt/sources.list.d/*.sources; do
  [ -f "$sources" ] && sed 's/^Types:.*$/Types: deb-src/' "$sources" \
    >"$work/sources.list.d/$(basename "$sources")"
done
apt_options=(-o "Dir::Etc::SourceList=$work/sources.list"
  -o "Dir::Etc::SourceParts=$work/sources.list.d"
  -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache"
  -o "APT::Sandbox::User=root" -o "Debug::NoLocking=1")
apt-get "${apt_options[@]}" -qq update </dev/null
mkdir -p "$dest"
for package in "${missing[@]}"; do
  read -r name dir marker versions <<<"$package"
  fetched=""
  for version in $versions; do
    rm -rf "$work/$name" && mkdir -p "$work/$name"
    [ "$version" = new ] && wanted=$name || wanted="$name=$version"
    if (cd "$work/$name" && apt-get "${apt_options[@]}" -qq source --download-only "$wanted" \
      </dev/null >/dev/null 2>&1); then
      fetched=$wanted
      break
    fi
  done
  [ -n "$fetched" ] || { echo "could not fetch the source of $name" >&2; exit 1; }
  # dpkg-source checks the files against the .dsc and applies Debian's patches.
  (cd "$work/$name" && dpkg-source -x ./*.dsc source >/dev/null 2>&1)
  rm -rf "${dest:?}/$dir"
  mv "$work/$name/source" "$dest/$dir"
  echo "$fetched source in $dest/$dir"
done
