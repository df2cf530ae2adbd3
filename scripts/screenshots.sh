#!/usr/bin/env bash
# Draws every window of the agent and every page of its first-run wizard on
# Qt's offscreen platform and writes them as PNG files, so that they can be
# looked at without a desktop:
#
#   bash scripts/screenshots.sh [OUTPUT_FOLDER]     (default: build/screenshots)
#
# Builds the drawing program in TESSARON_BUILD_DIR (default build/screens).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="${TESSARON_BUILD_DIR:-$here/build/screens}"
output="${1:-$here/build/screenshots}"

bash "$here/scripts/install-deps.sh"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARON_TESTS=OFF -DTESSARON_BENCH=OFF
fi
cmake --build "$build" --parallel --target tessaron-screens

mkdir -p "$output"
rm -f "$output"/*.png
QT_QPA_PLATFORM=offscreen "$build/shell/tessaron-screens" "$output"
echo "screenshots: written to $output"
