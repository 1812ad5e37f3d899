#!/usr/bin/env bash
# Runs clang-tidy, with the checks of .clang-tidy, over the program's own sources (every .cpp
# under app/, settings/, about/ and platform/, however they are arranged in folders) and their
# headers; any finding fails. Takes the build folder whose compile_commands.json it reads.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-build}")
jobs=${TIDY_JOBS:-$(nproc)}
cd "$root"

dirs=(app settings about platform)
[[ -f "$build/compile_commands.json" ]] || {
  echo "tidy: no $build/compile_commands.json; build first (make build)" >&2
  exit 2
}
echo "clang-tidy over $(find "${dirs[@]}" -name '*.cpp' | wc -l) sources, $jobs at a time"
# clang's count of the warnings it saw, most of them in system headers and filtered out, is noise.
if ! find "${dirs[@]}" -name '*.cpp' -print0 | sort -z |
  xargs -0 -n1 -P"$jobs" clang-tidy -p "$build" --quiet --warnings-as-errors='*' \
    --header-filter="^$root/($(IFS='|'; echo "${dirs[*]}"))/" 2>&1 |
  { grep -vE '^[0-9]+ warnings? generated\.$' || true; }; then
  echo "tidy: clang-tidy found problems (above)" >&2
  exit 1
fi
