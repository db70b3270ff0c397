#!/usr/bin/env bash
# Horavex on a demo work folder: installs what is missing, builds (Release)
# into build/, registers KestroCom.dll, writes the demo work folder (the
# first argument, default ~/kestrovane-demo) with a registry folder of its
# own, and runs Horavex in the foreground; without a display it runs
# offscreen. Ctrl+C ends it. Run again, it keeps the demo's files.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKV_BUILD_TESTS=OFF
cmake --build "$root/build" --target Horavex kvdemo -j "${KV_JOBS:-$(nproc)}"

bin="$root/build/bin"
demo=$(realpath -m "${1:-$HOME/kestrovane-demo}")
# The demo's registration and WorkDir go to its own registry folder; the
# user's settings stay as they are.
export KESTROVANE_REGISTRY_DIR="$demo/registry"
"$bin/regsvr32" /s "$bin/KestroCom.dll"
status=0
"$bin/kvdemo" "$demo" || status=$?
if [ "$status" -eq 3 ]; then
  exit 0  # kvdemo said that Horavex already runs for this user
fi
[ "$status" -eq 0 ] || exit "$status"
echo "Horavex gleicht $demo/Quelle alle 30 Sekunden nach $demo/Ziel ab."
echo "Protokolle: $demo/Profile/0000001/AUTOptk/ (lesen mit: $bin/kvdemo --protokoll DATEI)"
exec "$bin/Horavex"
