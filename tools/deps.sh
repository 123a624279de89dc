#!/usr/bin/env bash
# Installs the Debian packages of the given sets, when any is missing. Quick when everything is
# there: one dpkg query, no network.
#   deps.sh [run] [virtual-display] [test]     (no set: all of them)
#   run              building the viewer and running it (and making the demo's sample card)
#   virtual-display  showing it without a display: a virtual one, and screenshots of it
#   test             the tests, benchmarks, fuzzing and the package's checks
set -euo pipefail

run=(
  # tool chain
  cmake make g++ pkg-config
  # libraries
  libjpeg62-turbo-dev libboost-dev libdeflate-dev
  # media framework: the pipeline that takes a clip's first frame (tsdemux and h264parse are in
  # -bad, the MP4 demuxer in -good, the H.264 and H.265 decoders in -libav); ffmpeg, which the
  # viewer can grab with and which makes the demo's clips
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav ffmpeg
  # the XML files that cameras write beside their MP4 clips
  libexpat1-dev
  # the GUI toolkit and its own calls, the X server's input events (a drag that copies whatever
  # modifier is held), fonts (Liberation Sans in Arial's place), opening files with the desktop's
  # programs
  libwxgtk3.2-dev libgtk-3-dev libx11-dev libxi-dev fonts-liberation xdg-utils libfile-mimeinfo-perl
  shared-mime-info
  # the desktop's programs, mounts and thumbnail cache (GIO, GdkPixbuf)
  libglib2.0-dev libgdk-pixbuf-2.0-dev
  # importing recordings: the database of what was imported (SQLite), SHA-256 (libcrypto)
  libsqlite3-dev libssl-dev
)
virtual_display=(
  # windows under a virtual display, and screenshots of them
  xvfb xauth imagemagick
)
test=(
  libgtest-dev libgmock-dev
  # fuzzing
  clang libfuzzer-14-dev libclang-rt-14-dev
  # a reference thumbnailer for the grab benchmark
  ffmpegthumbnailer
  # the validators of the launcher and the software centre's description; FAT card images for
  # the mount test
  desktop-file-utils appstream dosfstools
  "${virtual_display[@]}"
  # real input for the GUI tests (pointer and keys through the X server), and another program's
  # view of the clipboard
  xdotool xclip
  # the Debian package: built with CPack (dpkg-shlibdeps from dpkg-dev, fakeroot) and checked
  # with lintian; the desktop's thumbnail factory that runs the thumbnailer and reads the cache
  dpkg-dev fakeroot file lintian python3-gi gir1.2-gnomedesktop-3.0
  # a file system that fails mid-read as a pulled card does (FUSE), for the import's tests
  libfuse3-dev fuse3
)

sets=("$@")
[[ ${#sets[@]} -gt 0 ]] || sets=(run test)
packages=()
for set in "${sets[@]}"; do
  case "$set" in
    run) packages+=("${run[@]}") ;;
    virtual-display) packages+=("${virtual_display[@]}") ;;
    test) packages+=("${run[@]}" "${test[@]}") ;;
    *) echo "deps.sh: unknown set '$set' (run, virtual-display, test)" >&2; exit 2 ;;
  esac
done

missing=()
for package in $(printf '%s\n' "${packages[@]}" | sort -u); do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
