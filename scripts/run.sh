#!/usr/bin/env bash
# Starts the magnifier. With no display, runs it on a virtual X server over a sample picture
# and saves screenshots of its window.
set -euo pipefail
build=${1:-build}
if [[ -n "${DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1 || [[ -n "${DISPLAY:-}" && ! -x "$(command -v xdpyinfo)" ]]; then
  exec "$build/vendrel"
fi
out="$PWD/shots"
echo "No X display: running the magnifier on a virtual X server; screenshots:"
"$build/vendrel-demo" "$build/vendrel" "$out"
