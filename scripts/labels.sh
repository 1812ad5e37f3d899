#!/usr/bin/env bash
# Checks that every test of the build carries exactly one of the project's CTest labels, so
# that `ctest -L` by kind (and `make unit`) leaves none out and runs none twice.
set -euo pipefail
build=${1:-build}
labels=(unit widget x11 e2e package realdesktop)
cd "$build"

count() { ctest -N "$@" | sed -n 's/^Total Tests: //p'; }
total=$(count)
sum=0
for label in "${labels[@]}"; do
  n=$(count -L "^$label\$")
  printf '%-12s %4d\n' "$label" "$n"
  sum=$((sum + n))
done
printf '%-12s %4d (all: %d)\n' "sum" "$sum" "$total"

status=0
unlabelled=$(ctest -N -LE '.' | sed -n 's/^ *Test *#[0-9]*: //p')
if [[ -n "$unlabelled" ]]; then
  echo "labels: tests without a label:" >&2
  echo "$unlabelled" >&2
  status=1
fi
while read -r label; do
  [[ " ${labels[*]} " == *" $label "* ]] || { echo "labels: unknown label '$label'" >&2; status=1; }
done < <(ctest --print-labels | sed -n 's/^  //p')
if ((sum != total)); then
  echo "labels: the labels count $sum tests but there are $total: some test has two" >&2
  status=1
fi
exit "$status"
