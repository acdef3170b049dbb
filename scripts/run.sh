#!/bin/bash
# As root: builds corvina.exe and starts it under Wine, in a virtual desktop
# with its task bar, against a demo mailbox (Dovecot on 127.0.0.1:110).
# Arguments go to the program instead, for example: scripts/run.sh /IZ:\\home\\me\\corvina.ini
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" --target windows -j"$(nproc)"
exec python3 "$root/scripts/demo.py" "$build/windows/corvina.exe" "$build" "$@"
