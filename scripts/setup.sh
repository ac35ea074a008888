#!/usr/bin/env bash
# Installs, with apt-get, whatever building and testing need and this machine
# lacks (Debian 12): the compiler and CMake, libimagequant (skinprep's colour
# reduction), libpng (skinprep's PNG input), libdeflate (checksums) and
# GoogleTest. Extra packages may be named as arguments; each is
# installed only when dpkg does not know it as installed.
set -euo pipefail

need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v make >/dev/null 2>&1 || need+=(make)
command -v pkg-config >/dev/null 2>&1 || need+=(pkg-config)
[ -f /usr/include/libimagequant.h ] || need+=(libimagequant-dev)
[ -f /usr/include/png.h ] || need+=(libpng-dev)
[ -f /usr/include/libdeflate.h ] || need+=(libdeflate-dev)
[ -f /usr/lib/x86_64-linux-gnu/cmake/GTest/GTestConfig.cmake ] ||
  [ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
for package in "$@"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || need+=("$package")
done

if [ "${#need[@]}" -gt 0 ]; then
  echo "Installing: ${need[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq </dev/null
  $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" </dev/null
fi
