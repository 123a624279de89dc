#!/bin/sh
# Runs the demo as `make demo` does on a machine without a display, for a build folder of its
# own (the built programs linked in), with an empty home and temporary folder: everything the
# demo writes, the shared thumbnails of the clips it pictures among them, stays in the build
# folder.
#   demo_check.sh <source folder> <build folder>
set -eu
source=$1 build=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/build" "$scratch/home" "$scratch/tmp"
for program in viewmere viewmere-grab-worker; do ln -s "$build/$program" "$scratch/build/$program"; done
fail() { echo "$1" >&2; exit 1; }

env -u DISPLAY -u XDG_CONFIG_HOME -u XDG_CACHE_HOME -u XDG_DATA_HOME -u XDG_STATE_HOME \
  HOME="$scratch/home" TMPDIR="$scratch/tmp" "$source/tools/demo.sh" "$scratch/build"

test -s "$scratch/build/demo.png" || fail "no screenshot"
left=$(find "$scratch/home" "$scratch/tmp" -mindepth 1)
[ -z "$left" ] || fail "the demo wrote outside its build folder: $left"
# The three clips without camera thumbnails and the split recording were pictured and shared.
shared=$(find "$scratch/build/demo-home/cache/thumbnails/large" -name '*.png' | wc -l)
echo "shared thumbnails in the demo's cache: $shared"
[ "$shared" -eq 4 ] || fail "expected 4 shared thumbnails, found $shared"
