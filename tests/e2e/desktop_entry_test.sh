#!/usr/bin/env bash
# scripts/install-desktop in a fresh HOME: the entry is installed, valid, and the
# quillabrenta-capture scheme handler.
set -euo pipefail
build=$1
source=$2
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share
unset XDG_CURRENT_DESKTOP XDG_DATA_DIRS
QB_BUILD_DIR=$build "$source/scripts/install-desktop" >/dev/null
entry=$home/.local/share/applications/quillabrenta-capture.desktop
desktop-file-validate "$entry"
grep -qx "Exec=\"$home/.local/bin/quillabrenta\" %u" "$entry" || { echo "wrong Exec in $entry"; cat "$entry"; exit 1; }
[ -x "$home/.local/bin/quillabrenta" ] || { echo "no executable installed"; exit 1; }
[ -f "$home/.local/share/icons/hicolor/scalable/apps/quillabrenta-capture.svg" ] || { echo "no icon"; exit 1; }
answer=$(xdg-mime query default x-scheme-handler/quillabrenta-capture)
[ "$answer" = "quillabrenta-capture.desktop" ] || { echo "handler is '$answer'"; exit 1; }
