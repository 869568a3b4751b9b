#!/usr/bin/env bash
# Renders the scalable icon into the PNG sizes the desktop's icon theme wants
# (resources/icons/hicolor/NxN/tesmarcontrol.png). Run after changing tesmarcontrol.svg and
# commit the PNGs: the build itself needs no SVG renderer. Needs rsvg-convert (librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../resources/icons"
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "hicolor/${size}x${size}"
  rsvg-convert -w "$size" -h "$size" tesmarcontrol.svg -o "hicolor/${size}x${size}/tesmarcontrol.png"
done
