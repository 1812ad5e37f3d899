#!/usr/bin/env bash
# `make deb`: builds the Debian package with Debian's own tools (dpkg-buildpackage, debhelper),
# in a copy of the sources under BUILD/deb so that the tree stays clean. Prints the package's
# path.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

# One version, the program's own: the changelog must say the same.
version=$(sed -n 's/^ *Version = QStringLiteral("\([^"]*\)");/\1/p' app/Unit1.cpp)
said=$(dpkg-parsechangelog -S Version)
if [[ -z "$version" || "$version" != "$said" ]]; then
  echo "deb: the program's version is '$version' but debian/changelog says '$said'" >&2
  exit 1
fi

work="$build/deb"
source="$work/vendrel-$version"
deb="$work/vendrel_${version}_$(dpkg --print-architecture).deb"
sources() { tar --exclude=./build --exclude='./build-*' --exclude=./shots --exclude=./.git "$@" -cf - .; }
# Built already from these very sources (their contents, whatever their times): nothing to do.
digest=$(sources --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner | sha256sum | cut -d' ' -f1)
if [[ -f "$deb" && "$(cat "$work/sources.sha256" 2>/dev/null)" == "$digest" ]]; then
  echo "$(cd "$work" && pwd)/$(basename "$deb")"
  exit 0
fi
rm -rf "$work"
mkdir -p "$source"
sources | tar -xf - -C "$source"
if ! (cd "$source" && dpkg-buildpackage -us -uc -b >../build.log 2>&1); then
  tail -40 "$work/build.log" >&2
  echo "deb: dpkg-buildpackage failed; its whole output is in $work/build.log" >&2
  exit 1
fi
[[ -f "$deb" ]] || { echo "deb: no $deb" >&2; exit 1; }
echo "$digest" >"$work/sources.sha256"
echo "$(cd "$work" && pwd)/$(basename "$deb")"
