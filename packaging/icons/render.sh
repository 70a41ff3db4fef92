#!/usr/bin/env bash
# Renders the icon's PNG sizes from remcons.svg (needs rsvg-convert, Debian's librsvg2-bin).
# The PNGs are kept in the repository, so a build needs no SVG renderer.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" remcons.svg -o "remcons-$size.png"
done
