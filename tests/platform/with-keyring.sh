#!/bin/sh
# Runs a command on a private session bus with an unlocked keyring daemon whose files live in a
# fresh temporary home, so the user's own keyring is never touched. Usage: with-keyring.sh CMD ARGS...
set -eu
home=$(mktemp -d "${TMPDIR:-/tmp}/keyring-home.XXXXXX")
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home/run" XDG_CONFIG_HOME="$home/config"
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME"
chmod 700 "$XDG_RUNTIME_DIR"
dbus-run-session -- sh -c '
  printf %s test-password | gnome-keyring-daemon --unlock --components=secrets >/dev/null || exit 1
  exec "$@"' with-keyring "$@"
