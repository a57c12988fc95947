#!/usr/bin/env bash
# Sets up a fresh machine, builds and runs every test. The tests never touch the user's own
# settings: HOME and every XDG directory point into a temporary directory, GSettings uses its
# keyfile backend there, and a private D-Bus session and X server serve the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

scratch=$(mktemp -d /tmp/morvil-test.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch"/{home,config,data,cache,state,runtime,registry}
chmod 700 "$scratch/runtime"
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data"
export XDG_CACHE_HOME="$scratch/cache" XDG_STATE_HOME="$scratch/state"
export XDG_RUNTIME_DIR="$scratch/runtime" MORVIL_REGISTRY_DIR="$scratch/registry"
export GSETTINGS_BACKEND=keyfile NO_AT_BRIDGE=1
# Usage reports go to a closed loopback port unless a test points them at its own server.
export MORVIL_REPORT_URL=http://127.0.0.1:9/report MORVIL_ANALYTICS_URL=http://127.0.0.1:9
export WEBKIT_DISABLE_COMPOSITING_MODE=1
# Pages run in the browser's sandbox, as users run them, wherever it can start: it needs
# bubblewrap to make its namespaces, which an unprivileged container may forbid. Only there is it
# turned off (tests only, never for the program a user runs), and the run says so.
if ! bwrap --ro-bind / / --dev /dev --proc /proc --unshare-all --die-with-parent true \
    >/dev/null 2>&1; then
  echo "NOTE: bubblewrap cannot make namespaces here; pages run WITHOUT the browser sandbox"
  export WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1
fi

cd "$root/build"
exec dbus-run-session -- xvfb-run -a -s "-screen 0 1920x1080x24" \
  ctest --output-on-failure --timeout 600 "$@"
