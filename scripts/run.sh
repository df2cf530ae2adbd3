#!/usr/bin/env bash
# Installs what is needed, builds the agent (Release) and starts it against
# the bundled fake service: a demo account, the agent's own data folder with
# a debug file that points it at the fake, the computer bound to the demo
# account, and a demo sync folder. Ctrl-C stops the agent and the fake.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="${TESSARON_BUILD_DIR:-$here/build/release}"
demo="${TESSARON_DEMO_DIR:-$here/build/demo}"

bash "$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARON_TESTS=OFF -DTESSARON_BENCH=OFF
cmake --build "$build" --parallel --target tessaron tessaron-bind tessaron-fakeservice

# Every run starts from a fresh service and a fresh agent; the files of the
# sync folder stay and are synchronised again.
sync_folder="$demo/home/tessaron"
rm -rf "$demo/data" "$demo/config" "$demo/service" "$demo/service-inbox" "$demo/fakeservice.log"
mkdir -p "$demo/data" "$sync_folder"

"$build/fakeservice/tessaron-fakeservice" --mirror "$demo/service" --inbox "$demo/service-inbox" \
  >"$demo/fakeservice.log" 2>&1 &
fake=$!
stop_fake() {
  kill -TERM "$fake" 2>/dev/null || true
  wait "$fake" 2>/dev/null || true
  echo "run.sh: the agent and the fake service have stopped; the sync folder stays in $sync_folder"
}
trap stop_fake EXIT

for _ in $(seq 100); do
  grep -q "^  inbox:" "$demo/fakeservice.log" && break
  kill -0 "$fake" 2>/dev/null || { cat "$demo/fakeservice.log"; exit 1; }
  sleep 0.1
done
address() { sed -n "s/^  $1: *//p" "$demo/fakeservice.log"; }

# The debug file: service base, (unused), upload host, push channel, profile,
# then the hosts the five lines do not cover.
cat >"$demo/data/pelta.debug" <<DEBUG
$(address "service base")
-
$(address "upload host")
$(address "push channel")
DEV
account_server=$(address "account server")
signed_api=$(address "signed API")
DEBUG

# The agent keeps everything of its own under the demo folder.
export TESSARON_HOME="$demo/data"
export XDG_CONFIG_HOME="$demo/config"
export XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}"
export HOME="$demo/home"

"$build/shell/tessaron-bind" --login demo --password demo-password --agent-name demo-computer \
  --sync-folder "$sync_folder"

cat <<INFO

Tessaron runs against the fake service (demo account "demo").
  sync folder:          $sync_folder
  the service's side:   $demo/service   (the service's copy, refreshed every second)
  add on the service:   copy a file into $demo/service-inbox
  fake service's log:   $demo/fakeservice.log
  agent's log:          $demo/data/debug_*_d.log$( [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && echo " and below (no display: no tray icon)")
Ctrl-C stops the agent and the fake service.

INFO
"$build/shell/tessaron"
