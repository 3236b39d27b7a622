#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks (as root, with apt-get), then configures and
# builds Quillon into build/. Safe to run again: it installs nothing that is already there.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build pkg-config ccache
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libjpeg62-turbo-dev libssl-dev libpugixml-dev
  lighttpd apache2-utils libxml2-utils curl binutils
)
./scripts/install-missing.sh setup "${packages[@]}"

# ccache keys on paths relative to the checkout, so a fresh clone elsewhere reuses earlier builds.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build
