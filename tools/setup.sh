#!/usr/bin/env bash
# Installs what building and testing need (Debian packages), when missing.
set -euo pipefail

# dpkg-dev: dependencies of the Debian package (dpkg-shlibdeps); groff-base:
# the manuals' check.
packages=(cmake ninja-build g++ clang libclang-rt-dev llvm pkg-config libicu-dev libpng-dev libfreetype-dev fonts-dejavu-core fonts-dejavu-extra libgtest-dev libgmock-dev googletest libbenchmark-dev imagemagick mono-mcs mono-runtime
          dpkg-dev groff-base
          libpappl-dev libjpeg-dev cups-ipp-utils cups-daemon cups-client)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  echo "installing: ${missing[*]}"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
