#!/usr/bin/env bash
# The main job: builds the command, shows the bundled example profile and
# prints the bundled sample text with it into a file.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
# The same build directory as the tests: an existing configuration is kept.
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target pressel
build/bin/pressel profile show --ini examples/profiles/epson-9pin.ini "Epson LX-350"

out=build/example-output.prn
echo
echo "Printing examples/delivery-round.txt on the Epson LX-350 profile into $out ..."
build/bin/pressel print --ini examples/profiles/epson-9pin.ini "Epson LX-350" --output "$out" \
  --header "Route 7 - page {page}" --footer "- {page} -" examples/delivery-round.txt
echo "Done: $(wc -c <"$out") bytes of printer data (ESC @ to initialise, ESC W 0/DC2 for the normal"
echo "font, text in code page 1252, CR LF line ends, CR FF form feeds, headers and footers on"
echo "each of the 66-line pages). The first bytes:"
# head reads only what it shows, so nothing in the pipe dies of SIGPIPE.
head -c 64 "$out" | od -An -c
