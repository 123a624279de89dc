#!/bin/sh
# Runs the demo as `make demo` does without a display, for a build folder of its own (the built
# programs linked in) and an empty home and temporary folder: everything it writes, the shared
# thumbnails of the six clips it pictures among them (three AVCHD clips without a camera picture,
# the split recording, the XAVC S clip without one and the QuickTime clip), stays in that build folder.
#   demo_check.sh <source folder> <build folder>
set -eu
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/build" "$scratch/home" "$scratch/tmp"
ln -s "$2/viewmere" "$2/viewmere-grab-worker" "$scratch/build/"
env -u DISPLAY -u XDG_CONFIG_HOME -u XDG_CACHE_HOME -u XDG_DATA_HOME -u XDG_STATE_HOME \
  HOME="$scratch/home" TMPDIR="$scratch/tmp" "$1/tools/demo.sh" "$scratch/build"
test -s "$scratch/build/demo.png"
left=$(find "$scratch/home" "$scratch/tmp" -mindepth 1)
[ -z "$left" ] || { echo "written outside the build folder: $left" >&2; exit 1; }
shared=$(find "$scratch/build/demo-home/cache/thumbnails/large" -name '*.png' | wc -l)
echo "shared thumbnails in the demo's cache: $shared"
[ "$shared" -eq 6 ]
