#!/usr/bin/env bash
# Installs what is missing, builds, and opens Pixorama on the sample folder that the build
# draws (build/samples), or on the folder or file given. Without a display it says so and
# runs the command-line equivalent on the same folder instead.
set -euo pipefail
cd "$(dirname "$0")"
tools/ensure_deps.sh
tools/build.sh
# A file as the first argument opens its folder; for a folder, one of its files is passed.
target="${1:-$PWD/build/samples/sem-16bit-512x384.tif}"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    if [ -d "$target" ]; then
        first="$(find "$target" -maxdepth 1 -type f | sort | head -n 1)"
        [ -n "$first" ] && target="$first"
    fi
    exec build/pixorama "$target"
fi
folder="$target"
[ -d "$folder" ] || folder="$(dirname "$target")"
echo "No display found: running the headless equivalent (pixorama-cli thumbs and info) on $folder"
build/pixorama-cli thumbs "$folder"
shopt -s nullglob nocaseglob
files=("$folder"/*.tif "$folder"/*.tiff "$folder"/*.tim "$folder"/*.bmp "$folder"/*.jpg \
       "$folder"/*.jpeg "$folder"/*.png "$folder"/*.psd)
if [ ${#files[@]} -eq 0 ]; then
    echo "No images in $folder"
    exit 0
fi
status=0
build/pixorama-cli info "${files[@]}" || status=$?
exit $status
