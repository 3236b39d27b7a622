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

packages=(g++-mingw-w64-x86-64-posix wine64 ccache cmake ninja-build googletest dpkg-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "build-windows: missing packages: ${missing[*]}; run this script as root" >&2
    exit 1
  fi
  echo "build-windows: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi

# pugixml's source package, once per build folder.
deps=$out/_deps
pugixml_src=$(ls -d "$deps"/pugixml-*/ 2>/dev/null | head -n 1 || true)
if [ -z "$pugixml_src" ] || [ ! -f "$pugixml_src/src/pugixml.cpp" ]; then
  apt_dir=$deps/apt
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/parts"
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  echo "deb-src http://deb.debian.org/debian $codename main" >"$apt_dir/sources.list"
  apt_private=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts="$apt_dir/parts"
               -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache"
               -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)
  echo "build-windows: fetching pugixml's source package"
  apt-get "${apt_private[@]}" -qq update
  (cd "$deps" && apt-get "${apt_private[@]}" -qq source pugixml)
  pugixml_src=$(ls -d "$deps"/pugixml-*/ | head -n 1)
fi
pugixml_src=${pugixml_src%/}

# ccache keys on paths relative to the checkout, so a fresh clone elsewhere reuses earlier builds.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
if [ ! -f "$out/build.ninja" ]; then
  cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DQUILLON_PUGIXML_SOURCE_DIR="$pugixml_src" -DQUILLON_GTEST_SOURCE_DIR=/usr/src/googletest >/dev/null
fi
ninja -C "$out" "$@"

echo "build-windows: artefacts in $out:"
find "$out" -maxdepth 3 \( -name '*.dll' -o -name '*.exe' \) -not -path '*/_deps/*' -printf '  %P\n' | sort
