#!/usr/bin/env bash
# Installs what building and testing need (Debian packages), when missing.
set -euo pipefail

# dpkg-dev: dependencies of the Debian package (dpkg-shlibdeps); groff-base:
# the manuals' check.
packages=(cmake ninja-build g++ clang libclang-rt-dev llvm pkg-config libicu-dev libpng-dev libfreetype-dev fonts-dejavu-core fonts-dejavu-extra libgtest-dev libgmock-dev googletest libbenchmark-dev imagemagick mono-mcs mono-runtime
          dpkg-dev groff-base
          libpappl-dev libjpeg-dev cups-ipp-utils cups-daemon cups-client)
# cups: CUPS's filters, which turn a desktop's PDF into raster for a
# driverless queue; without what it recommends (avahi and colord daemons).
bare=(cups)
# The packages named that are not installed yet, one a line.
not_installed() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing < <(not_installed "${packages[@]}")
mapfile -t missing_bare < <(not_installed "${bare[@]}")
if [ $((${#missing[@]} + ${#missing_bare[@]})) -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  apt_install() { DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "$@" >/dev/null; }
  echo "installing: ${missing[*]} ${missing_bare[*]}"
  $sudo_cmd apt-get update -qq
  [ ${#missing[@]} -eq 0 ] || apt_install "${missing[@]}"
  [ ${#missing_bare[@]} -eq 0 ] || apt_install --no-install-recommends "${missing_bare[@]}"
fi
