#!/usr/bin/env bash
# Installs those of the given Debian packages that are missing, with apt-get as root; fails with
# the list when not root. Safe to run again: it installs nothing that is already there.
#   install-missing.sh <who is asking> <package>...
set -euo pipefail
who=$1
shift
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "$who: missing packages: ${missing[*]}; run this script as root" >&2
  exit 1
fi
echo "$who: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}"
