#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and `make run` need; does nothing
# when they are all there.
set -euo pipefail

packages=(
  cmake make g++ build-essential pkg-config
  qt6-base-dev qt6-svg-dev qt6-qpa-plugins libgl-dev
  libxcb1-dev libxcb-shm0-dev libxcb-randr0-dev libxcb-render0-dev libxcb-xtest0-dev
  libxcb-damage0-dev libxcb-xfixes0-dev libxcb-xinput-dev
  libpipewire-0.3-dev libspa-0.2-dev
  libgtest-dev libbenchmark-dev
  xvfb xauth openbox fonts-dejavu-core xclip
  xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils
  pipewire pipewire-bin dbus-daemon
  mutter xwayland xdg-desktop-portal xdg-desktop-portal-gnome gsettings-desktop-schemas
  wireplumber at-spi2-core libatspi2.0-dev dbus-bin util-linux
  python3-gi gir1.2-gtk-3.0
  desktop-file-utils appstream
  debhelper dpkg-dev lintian
)
# `make bench` measures the peer magnifier beside this one.
if [[ "${1:-}" == bench ]]; then packages+=(xzoom); fi
if [[ "${1:-}" == tidy ]]; then packages+=(clang-tidy); fi

# One question for them all: `make unit` asks on every run.
declare -A installed=()
while read -r name status; do
  [[ "$status" == "install ok installed" ]] && installed[$name]=1
done < <(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null || true)
missing=()
for p in "${packages[@]}"; do
  [[ -n "${installed[$p]:-}" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)

"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
