#!/usr/bin/env bash
# Sets up a fresh machine, builds and runs every test. The tests never touch the user's own
# settings: HOME, every XDG directory and TMPDIR point into a scratch directory that is removed
# afterwards, GSettings uses its keyfile backend there, and a private D-Bus session and X server
# serve the run. Arguments go to ctest (for example: scripts/test.sh -R e2e).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

# The X server makes /tmp/.X11-unix when it is missing and leaves it behind.
x11_dir_existed=0
[ -e /tmp/.X11-unix ] && x11_dir_existed=1
x_locks() { (cd /tmp && ls -d .X*-lock 2>/dev/null) || true; }
x_locks_before=$(x_locks)
# Short, as tests make socket paths below it (a socket path has room for 107 bytes).
scratch=$(mktemp -d /tmp/morvil.XXXXXX)
cleanup() {
  # xvfb-run stops its X server without waiting for it: wait until the server has removed its
  # lock and socket.
  for _ in $(seq 100); do
    [ -z "$(comm -13 <(echo "$x_locks_before") <(x_locks))" ] && break
    sleep 0.1
  done
  rm -rf "$scratch"
  if [ "$x11_dir_existed" = 0 ]; then rmdir /tmp/.X11-unix 2>/dev/null || true; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
# Traversable, not listable: the package test runs the installed program as another user, with
# a home of that user's own inside.
chmod 711 "$scratch"
mkdir -p "$scratch"/{home,config,data,cache,state,runtime,registry}
chmod 700 "$scratch/runtime"
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data"
export XDG_CACHE_HOME="$scratch/cache" XDG_STATE_HOME="$scratch/state"
export XDG_RUNTIME_DIR="$scratch/runtime" MORVIL_REGISTRY_DIR="$scratch/registry"
export TMPDIR="$scratch"
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
# Not exec: the clean-up above must run when the tests end.
status=0
dbus-run-session -- xvfb-run -a -s "-screen 0 1920x1080x24" \
  ctest --output-on-failure --timeout 900 "$@" || status=$?
exit "$status"
