#!/usr/bin/env bash
# Redraws the panel pictures into resources/images/.
#   tools/art/make-art.sh [build folder]     (default: build-art)
# Builds the generator (pelk_art), which writes RGB PNGs, then turns them into 8-bit indexed PNGs:
# pngquant picks one palette for each group of pictures that must match outside their lit parts (no
# dithering, so equal colours stay equal), and ImageMagick writes each picture with bit depth 8, colour
# type 3 and no ancillary chunks.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build-art}
images=$root/resources/images

cmake -S "$root" -B "$build" -DPELK_BUILD_ART_TOOL=ON -DPELK_BUILD_TESTS=OFF -DPELK_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --target pelk_art -j "$(nproc)" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bin/pelk_art" "$work/rgb"

# Pictures that share a palette, one group a line.
groups=(
    "panel-background-1x panel-face-1x"
    "panel-background-2x panel-face-2x"
    "loopback-2x loopback-lit-2x loopback-1x"
    "thumb-1x thumb-linked-1x thumb-2x thumb-linked-2x"
    "routing-matrix routing-matrix-lit"
    "about"
)

n=0
for group in "${groups[@]}"; do
    n=$((n + 1))
    files=()
    for name in $group; do files+=("$work/rgb/$name.png"); done
    convert "${files[@]}" -background black -append "$work/sheet$n.png"
    pngquant --nofs --speed 1 --force --output "$work/quant$n.png" 256 "$work/sheet$n.png"
    y=0
    for name in $group; do
        size=$(identify -format '%wx%h' "$work/rgb/$name.png")
        convert "$work/quant$n.png" -crop "${size}+0+${y}" +repage -alpha off -strip \
            -define png:exclude-chunks=all -define png:bit-depth=8 -define png:color-type=3 \
            "PNG8:$images/$name.png"
        y=$((y + ${size#*x}))
    done
done
echo "pictures written to $images"
