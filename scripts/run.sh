#!/bin/bash
# Builds corvina.exe and starts it under Wine with the Japanese locale.
# Arguments are passed to the program, for example: scripts/run.sh /I C:\\mail\\corvina.ini
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" --target windows -j"$(nproc)"
exec "$root/cmake/wine-run.sh" "$build/windows/wineprefix" "$build/windows/corvina.exe" "$@"
