#!/usr/bin/env bash
# Configures and builds everything into build/ (the program in build/bin/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/build" -G Ninja >/dev/null
cmake --build "$root/build"
