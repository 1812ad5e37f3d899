#!/usr/bin/env bash
# Starts the magnifier. With no display, runs it on a virtual X server over a sample picture
# and saves screenshots of its window.
set -euo pipefail
build=${1:-build}
if [[ -n "${DISPLAY:-}" ]]; then
  exec "$build/vendrel"
fi
echo "No X display: running the magnifier on a virtual X server. Screenshots:"
"$build/vendrel-demo" "$build/vendrel" "$PWD/shots"
