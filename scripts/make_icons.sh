#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the icon's PNG sizes from its SVG (packaging/icons), so that building
# needs no SVG renderer. Run after changing the SVG; needs rsvg-convert
# (Debian package librsvg2-bin).
set -euo pipefail
dir=$(cd "$(dirname "$0")/../packaging/icons" && pwd)
id=io.github.sondrel.Sondrel
for size in 48 128 256; do
  rsvg-convert -w "$size" -h "$size" "$dir/$id.svg" -o "$dir/$id-$size.png"
done
