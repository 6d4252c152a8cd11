#!/usr/bin/env bash
# Renders res/tarvo.svg into the five PNG images of the application icon and packs them,
# as PNG ("Vista") images, into res/tarvo.ico. The outputs are committed, so a build needs
# neither this script nor its tools; run it after changing the artwork.
set -euo pipefail
cd "$(dirname "$0")"
../scripts/ensure-packages.sh librsvg2-bin icoutils
images=()
for size in 16 32 48 64 256; do
  rsvg-convert --width "$size" --height "$size" --format png tarvo.svg --output "icon-$size.png"
  images+=(--raw="icon-$size.png")
done
icotool --create --output tarvo.ico "${images[@]}"
icotool --list tarvo.ico
