#!/usr/bin/env bash
# Cross-builds the Windows module (quillon.dll), the reference host and the test programs into
# build-win64/ with mingw-w64. Installs what is missing (as root, with apt-get). pugixml is
# compiled from Debian's source package, fetched through a source list private to this script
# (the machine's own apt sources stay untouched); GoogleTest from the sources Debian's googletest
# package ships.
#   scripts/build-windows.sh [ninja targets...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build-win64

packages=(g++-mingw-w64-x86-64-posix wine wine64 ccache cmake ninja-build googletest dpkg-dev)
./scripts/install-missing.sh build-windows "${packages[@]}"

# Debian source packages (pugixml, libjpeg-turbo), fetched once per build folder through a source
# list of this script's own; prints the unpacked folder.
deps=$out/_deps
apt_dir=$deps/apt
apt_private=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts="$apt_dir/parts"
             -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache"
             -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)
source_package() {
  local name=$1 marker=$2 dir
  dir=$(ls -d "$deps/$name"-[0-9]*/ 2>/dev/null | head -n 1 || true)
  if [ -z "$dir" ] || [ ! -f "$dir/$marker" ]; then
    if [ ! -f "$apt_dir/sources.list" ]; then
      mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/parts"
      echo "deb-src http://deb.debian.org/debian $(. /etc/os-release && echo "$VERSION_CODENAME") main" \
        >"$apt_dir/sources.list.new"
      mv "$apt_dir/sources.list.new" "$apt_dir/sources.list"
      apt-get "${apt_private[@]}" -qq update >&2
    fi
    echo "build-windows: fetching the source package of $name" >&2
    (cd "$deps" && apt-get "${apt_private[@]}" -qq source "$name" >&2 2>/dev/null)
    dir=$(ls -d "$deps/$name"-[0-9]*/ | head -n 1)
  fi
  echo "${dir%/}"
}
mkdir -p "$deps"
pugixml_src=$(source_package pugixml src/pugixml.cpp)
jpeg_src=$(source_package libjpeg-turbo jpeglib.h)

# ccache keys on paths relative to the checkout, so a fresh clone elsewhere reuses earlier builds.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1

# libjpeg-turbo for the reference host's picture checks: the static library, without SIMD (whose
# assembler the cross toolchain lacks) and without TurboJPEG.
jpeg_build=$deps/libjpeg-turbo-build
if [ ! -f "$jpeg_build/libjpeg.a" ]; then
  cmake -S "$jpeg_src" -B "$jpeg_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_C_COMPILER_LAUNCHER=ccache \
    -DWITH_SIMD=OFF -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF -DCMAKE_INSTALL_PREFIX="$jpeg_build/install" -Wno-dev >/dev/null
  ninja -C "$jpeg_build" jpeg-static >/dev/null
fi

cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DQUILLON_PUGIXML_SOURCE_DIR="$pugixml_src" -DQUILLON_GTEST_SOURCE_DIR=/usr/src/googletest \
  -DQUILLON_JPEG_SOURCE_DIR="$jpeg_src" -DQUILLON_JPEG_BUILD_DIR="$jpeg_build" \
  -DQUILLON_LINUX_BUILD_DIR="$root/build" >/dev/null
ninja -C "$out" "$@"

echo "build-windows: artefacts in $out:"
find "$out" -maxdepth 3 \( -name '*.dll' -o -name '*.exe' \) -not -path '*/_deps/*' -printf '  %P\n' | sort
