#!/usr/bin/env bash
# Sets up a fresh machine, builds and runs morvil with its pages. Arguments go to the program
# (for example: scripts/run.sh tray). Without a display it runs under a virtual X server.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
if [ -n "${DISPLAY:-}" ]; then
  exec "$root/build/bin/morvil" "$@"
fi
exec xvfb-run -a -s "-screen 0 1920x1080x24" "$root/build/bin/morvil" "$@"
