#!/usr/bin/env bash
# Installs what is needed, builds the agent and starts it.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="${TESSARON_BUILD_DIR:-$here/build/release}"

bash "$here/scripts/install-deps.sh"

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARON_TESTS=OFF
cmake --build "$build" --parallel

agent="$build/shell/tessaron"
if [ ! -x "$agent" ]; then
  echo "The libraries are built; the agent program itself is not part of this version yet."
  exit 0
fi
exec "$agent" "$@"
