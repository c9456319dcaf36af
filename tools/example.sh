#!/usr/bin/env bash
# The main job: builds the command and runs it on the bundled example profile.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake -S . -B build -G Ninja -DPRESSEL_TESTS=OFF -DPRESSEL_BENCH=OFF >/dev/null
cmake --build build --target pressel
build/bin/pressel profile show --ini examples/profiles/epson-9pin.ini "Epson LX-350"
