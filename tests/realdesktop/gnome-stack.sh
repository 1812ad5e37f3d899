#!/usr/bin/env bash
# The real GNOME stack for the tests, in a mount namespace of its own (unshare -m). When this
# script ends (SIGTERM, or the process that started it gone), every process of the stack goes
# too, those the bus started on demand included: all carry VENDREL_GNOME_STACK.
#
# Not in a PID namespace: the portal looks up its callers in /proc by the process number the
# bus gives, which for a caller outside such a namespace is 0 ("Unable to open /proc/0/root").
# Usage: gnome-stack.sh FOLDER WAYLAND_NAME [OWNER_PID]
set -u
folder=$1
name=$2
owner=${3:-}
# Mutter starts Xwayland only where /tmp/.X11-unix is writable by all; a tmpfs of this
# namespace's own leaves the machine's folder alone (made first where no X server made it yet,
# as any X server would).
[[ -d /tmp/.X11-unix ]] || install -d -m 1777 /tmp/.X11-unix
mount --make-rprivate / 2>/dev/null
mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix || exit 3

export HOME=$folder/home XDG_RUNTIME_DIR=$folder/run XDG_CONFIG_HOME=$folder/home/.config \
  XDG_DATA_HOME=$folder/home/.local/share XDG_CACHE_HOME=$folder/home/.cache \
  XDG_STATE_HOME=$folder/home/.local/state \
  DBUS_SESSION_BUS_ADDRESS=unix:path=$folder/run/bus \
  XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland XDG_SESSION_DESKTOP=gnome \
  LIBGL_ALWAYS_SOFTWARE=1 GSETTINGS_BACKEND=keyfile GTK_A11Y=atspi \
  WAYLAND_DISPLAY=$name LANG=C LC_ALL=C LANGUAGE= VENDREL_GNOME_STACK=$folder
# Set before the bus starts, so that what it starts on demand (the portal backend again after
# a crash, the accessibility bus) finds the compositor, with the chooser's labels in English.
unset DISPLAY
mkdir -p "$HOME/.config" "$HOME/.local/share" "$HOME/.cache" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
log=$folder/log
mkdir -p "$log"

# Every process of this stack, known by its environment; never this script.
stack_processes() {
  grep -lszxF "VENDREL_GNOME_STACK=$folder" /proc/[0-9]*/environ | cut -d/ -f3 | grep -vxF "$$"
}
mutter_pid=
end_stack() {
  trap - EXIT TERM INT HUP
  kill -KILL $(stack_processes) 2>/dev/null
  wait  # the stack's own children, reaped here rather than left to init
  # Killed, mutter leaves its X display locks in the machine's /tmp: they go with it.
  local lock
  for lock in /tmp/.X*-lock; do
    [[ -n $mutter_pid && $(tr -d ' \n' <"$lock" 2>/dev/null) == "$mutter_pid" ]] && rm -f "$lock"
  done
  # Its owner gone without a word (killed), no one else will clear the stack's folder either.
  [[ -n $owner && ! -d /proc/$owner && -f $folder/ready ]] && rm -rf -- "$folder"
  exit 0
}
trap end_stack EXIT TERM INT HUP

dbus-daemon --session --address="$DBUS_SESSION_BUS_ADDRESS" --nofork --nopidfile >"$log/dbus" 2>&1 &
for _ in $(seq 300); do [[ -S $XDG_RUNTIME_DIR/bus ]] && break; sleep 0.02; done
pipewire >"$log/pipewire" 2>&1 &
for _ in $(seq 300); do [[ -S $XDG_RUNTIME_DIR/pipewire-0 ]] && break; sleep 0.02; done
wireplumber >"$log/wireplumber" 2>&1 &
WAYLAND_DISPLAY= mutter --headless --wayland --virtual-monitor 1280x800 --wayland-display="$name" >"$log/mutter" 2>&1 &
mutter_pid=$!
for _ in $(seq 1500); do [[ -S $XDG_RUNTIME_DIR/$name ]] && break; sleep 0.02; done
/usr/libexec/xdg-desktop-portal-gnome >"$log/portal-gnome" 2>&1 &
/usr/libexec/xdg-desktop-portal >"$log/portal" 2>&1 &
echo ready >"$folder/ready"
# The stack also ends when the process that started it is gone, however it went (a test program
# killed by its timeout sends nothing).
if [[ -n $owner ]]; then
  while [[ -d /proc/$owner ]]; do sleep 0.5; done
else
  wait
fi
end_stack
