#!/usr/bin/env bash
# Installs what is missing, builds, and opens Pixorama on the bundled sample folder.
# Without a display it runs the command-line equivalent on the same folder instead.
set -euo pipefail
cd "$(dirname "$0")"
tools/ensure_deps.sh
tools/build.sh
folder="${1:-$PWD/samples}"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec build/pixorama "$folder"
fi
echo "No display found: running the headless equivalent (pixorama-cli info) on $folder"
shopt -s nullglob nocaseglob
files=("$folder"/*.tif "$folder"/*.tim "$folder"/*.bmp "$folder"/*.jpg "$folder"/*.png "$folder"/*.psd)
if [ ${#files[@]} -eq 0 ]; then
    echo "No images in $folder"
    exit 0
fi
status=0
build/pixorama-cli info "${files[@]}" || status=$?
exit $status
