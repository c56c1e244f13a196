#!/usr/bin/env bash
# Draws the icon's PNG sizes from quillomarde.svg, the one source of the
# program's icon; the PNGs are kept in the repository so that building needs
# no SVG rasteriser. Run again after changing the SVG (needs librsvg2-bin).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
for size in 16 32 48 64 128 256; do
    rsvg-convert --width "$size" --height "$size" quillomarde.svg --output "quillomarde-$size.png"
done
