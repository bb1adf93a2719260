#!/usr/bin/env bash
# Renders the PNG sizes of Zarvel's icon from its SVG into data/icons/hicolor. Run it after
# changing the SVG and commit the PNGs with it; a test compares them with a fresh rendering.
#   tools/render-icons.sh [OUTPUT_ROOT]   (default: data/icons/hicolor of the checkout)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
id=example.ondrik.zarvel
svg=$root/data/icons/hicolor/scalable/apps/$id.svg
out=${1:-$root/data/icons/hicolor}
for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "$out/${size}x${size}/apps"
    rsvg-convert --width "$size" --height "$size" "$svg" -o "$out/${size}x${size}/apps/$id.png"
done
