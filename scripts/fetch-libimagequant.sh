#!/usr/bin/env bash
# Unpacks the source of libimagequant, the version the Linux build links
# (Debian's source package), into DIR, for the static Windows build:
#   bash scripts/fetch-libimagequant.sh DIR
# apt fetches it with a configuration of its own for this one run: the
# machine's own Debian sources with their type changed to deb-src, and lists
# and cache in a temporary directory. No server address is written into the
# project, the machine's apt lists stay as they are, and apt checks the
# files against the archive's signed checksums as for any package.
set -euo pipefail
cd "$(dirname "$0")/.."
version=2.17.0-1
dest=${1:?usage: fetch-libimagequant.sh DIR}
if [ -f "$dest/libimagequant.h" ]; then
  exit 0
fi
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
(cd "$work" && apt-get "${apt_options[@]}" -qq source --download-only \
  "libimagequant=$version" </dev/null)
# dpkg-source checks the files against the .dsc and applies Debian's patches.
(cd "$work" && dpkg-source -x libimagequant_*.dsc source >/dev/null 2>&1)
mkdir -p "$(dirname "$dest")"
rm -rf "$dest"
mv "$work/source" "$dest"
echo "libimagequant $version source in $dest"
