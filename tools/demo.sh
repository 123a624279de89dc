#!/usr/bin/env bash
# Shows the viewer on a generated sample card. Everything it writes stays in the build folder:
# the card, a home of its own (settings, the shared thumbnail cache, the toolkit's and the media
# framework's caches), temporary files and, without a display, the screenshot.
#   demo.sh <build folder>
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: demo.sh <build folder>}" && pwd)
card=$build/demo-card
home=$build/demo-home
"$tools/make-demo-card.sh" "$card"
mkdir -p "$home/config/Corvane/Viewmere" "$home/cache" "$home/data" "$home/state" "$home/tmp"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Corvane\\Viewmere]\r\n"LastDirectory"="%s"\r\n"GenerateThumbnails"=dword:00000001\r\n' \
  "$card" > "$home/config/Corvane/Viewmere/settings.reg"
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache XDG_DATA_HOME=$home/data
export XDG_STATE_HOME=$home/state TMPDIR=$home/tmp
# The toolkit's own settings (a dialog's size) stay in memory, not in the desktop's database.
export GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1
if [[ -n "${DISPLAY:-}" ]]; then
  exec "$build/viewmere"
fi
echo "No display: running on a virtual one and saving a screenshot to $build/demo.png"
xvfb-run -a -s "-screen 0 1920x1080x24" "$tools/screenshot-run.sh" "$build/demo.png" 8 "$build/viewmere"
