#!/usr/bin/env bash
# `make install` and `make uninstall`: a per-user install by default (PREFIX=~/.local).
#   install.sh install BUILD PREFIX
#   install.sh uninstall BUILD PREFIX
set -euo pipefail
action=$1 build=$2 prefix=${3:-$HOME/.local}
manifest="$prefix/lib/vendrel/.installed-files"

case "$action" in
  install)
    cmake --install "$build" --prefix "$prefix"
    # What was installed, kept beside the program so that uninstall needs no build folder.
    { cat "$build/install_manifest.txt"; echo; echo "$manifest"; } | grep -v '^$' > "$manifest"
    echo "Installed in $prefix: run 'vendrel' ($prefix/bin on your PATH) or find Вендрел in the menu."
    ;;
  uninstall)
    if [[ ! -f "$manifest" ]]; then
      echo "Nothing to uninstall: $manifest is missing." >&2
      exit 1
    fi
    mapfile -t files < "$manifest"
    for f in "${files[@]}"; do
      [[ -e "$f" || -L "$f" ]] && rm -f -- "$f"
    done
    settings="$prefix/lib/vendrel/Vendrel/Vendrel.ini"
    # Folders the install made, when nothing of the user's is left in them.
    for d in "$prefix/lib/vendrel/Vendrel" "$prefix/lib/vendrel" \
             "$prefix"/share/icons/hicolor/{16x16,32x32,48x48,scalable}/apps \
             "$prefix"/share/icons/hicolor/{16x16,32x32,48x48,scalable} \
             "$prefix/share/man/ru/man1" "$prefix/share/man/ru"; do
      [[ -d "$d" ]] && rmdir --ignore-fail-on-non-empty -- "$d"
    done
    echo "Uninstalled from $prefix."
    if [[ -f "$settings" ]]; then
      echo "Kept your settings: $settings"
    fi
    ;;
  *)
    echo "usage: install.sh install|uninstall BUILD [PREFIX]" >&2
    exit 2
    ;;
esac
