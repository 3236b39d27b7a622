#!/usr/bin/env bash
# Checks that the host integration guide covers every interface in include/quillon/, builds the
# Debian package from a configured and built tree, unpacks it into a scratch root,
# checks the installed layout, runs the installed demo for a few seconds, and builds a small host
# against the installed headers through find_package(Quillon) and through pkg-config.
#   scripts/package-test.sh [BUILD_DIR]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD
build=$(cd "${1:-build}" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillon-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package-test: FAILED: $*" >&2; exit 1; }

# The guide that ships in the package names every interface, entry and function type of the headers.
missing=""
for name in $(grep -ohE '^(class|struct|enum) [A-Za-z_0-9]+' include/quillon/*.h | awk '{print $2}') \
            $(grep -ohE 'virtual [^(]*[ *][A-Za-z_0-9]+\(' include/quillon/*.h | sed -E 's/.*[ *]([A-Za-z_0-9]+)\($/\1/' \
              | grep -vE '^(Unused|Reserved)') \
            $(grep -ohE '^using [A-Za-z]+Fn' include/quillon/*.h | awk '{print $2}'); do
  grep -q "\b$name\b" docs/host-integration.md || missing="$missing $name"
done
[ -z "$missing" ] || fail "docs/host-integration.md does not describe:$missing"

rm -f "$build"/package/quillon_*.deb
(cd "$build" && cpack -G DEB -C RelWithDebInfo >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$(ls "$build"/package/quillon_*.deb)
echo "package-test: built $(basename "$deb") ($(du -k "$deb" | cut -f1) kB)"
dpkg-deb -f "$deb" Package Version Architecture Depends

root=$scratch/root
dpkg-deb -x "$deb" "$root"
for f in usr/lib/quillon/libquillon.so usr/lib/quillon/quillon-host usr/bin/quillon-host usr/bin/quillon-camsim \
         usr/include/quillon/IPCapture.h usr/lib/cmake/Quillon/QuillonConfig.cmake \
         usr/lib/pkgconfig/quillon.pc usr/share/doc/quillon/host-integration.md; do
  [ -s "$root/$f" ] || fail "$f missing from the package"
done

# The installed host must load the installed module, not the one in the build tree. A user who
# can write lib/quillon/ runs the host there; any other user runs a copy from their state folder,
# where the driver then keeps the preset file.
chmod 755 "$scratch"
run_demo() {  # user home expected-module-line
  local user=$1 home=$2 module=$3 as=()
  mkdir -p "$home/run"
  if [ "$user" != "$(id -un)" ]; then
    chown -R "$user" "$home"
    as=(setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups)
  fi
  (cd "$home/run" && "${as[@]}" env HOME="$home" XDG_STATE_HOME= QUILLON_HOST_STATE="$home/params" \
     timeout 120 "$root/usr/bin/quillon-host" demo --seconds 2 --out "$home/run/out") >"$home/demo.log" 2>&1 \
    || { cat "$home/demo.log"; fail "installed demo as $user"; }
  grep -q "^demo: module $module\$" "$home/demo.log" || { cat "$home/demo.log"; fail "the demo as $user did not load $module"; }
  grep -q "^demo: PTZ and presets ok" "$home/demo.log" || { cat "$home/demo.log"; fail "PTZ and presets as $user"; }
  echo "package-test: installed demo as $user: $(grep -c '^demo: .* ok$' "$home/demo.log") parts ok, module $module"
}
run_demo "$(id -un)" "$scratch/home-installer" "$root/usr/lib/quillon/libquillon.so"
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null && id nobody >/dev/null 2>&1; then
  run_demo nobody "$scratch/home-user" "$scratch/home-user/.local/state/quillon/libquillon.so"
  [ -s "$scratch/home-user/.local/state/quillon/Mobotix_0003C50A1B2C.preset" ] || fail "no preset file in the user's state folder"
else
  echo "package-test: the run as another user needs root; left out"
fi

# A host project built against the installed headers, both ways.
cmake -S "$source/tests/package/consumer" -B "$scratch/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$root/usr" \
  >"$scratch/consumer.log" 2>&1 && ninja -C "$scratch/consumer" >>"$scratch/consumer.log" 2>&1 \
  || { cat "$scratch/consumer.log"; fail "find_package(Quillon) consumer"; }
"$scratch/consumer/consumer" || fail "consumer run"
cflags=$(PKG_CONFIG_PATH=$root/usr/lib/pkgconfig pkg-config --cflags quillon)
module=$(PKG_CONFIG_PATH=$root/usr/lib/pkgconfig pkg-config --variable=module quillon)
[ -s "$module" ] || fail "pkg-config names a module that is not there: $module"
c++ -std=c++17 -Wall -Wextra -Werror $cflags -DQUILLON_MODULE_FILE="\"$module\"" \
  "$source/tests/package/consumer/consumer.cpp" -o "$scratch/consumer-pc" || fail "pkg-config consumer build"
"$scratch/consumer-pc" || fail "pkg-config consumer run"
echo "package-test: passed"
