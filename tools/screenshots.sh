#!/usr/bin/env bash
# Screenshots of the program's windows on a virtual display, as PNGs in <out>.
#   screenshots.sh <build folder> <out folder> <card folder>
set -euo pipefail
build=$1 out=$2 card=$3
mkdir -p "$out"
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/Corvane/Viewmere"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Corvane\\Viewmere]\r\n"LastDirectory"="%s"\r\n"GenerateThumbnails"=dword:00000001\r\n' \
  "$card" > "$home/Corvane/Viewmere/settings.reg"
for what in main menu-file menu-edit menu-view menu-help popup about log options; do
  XDG_CONFIG_HOME=$home XDG_CACHE_HOME=$home/cache NO_AT_BRIDGE=1 xvfb-run -a -s "-screen 0 1920x1080x24" \
    "$(dirname "$0")/screenshot-run.sh" "$out/$what.png" 5 "$build/tests/viewmere_screenshots" "$what"
  echo "$out/$what.png"
done
