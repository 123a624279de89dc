#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when any is missing.
# Quick when everything is there: one dpkg query, no network.
set -euo pipefail

packages=(
  # tool chain and tests
  cmake make g++ pkg-config libgtest-dev libgmock-dev
  # libraries
  libjpeg62-turbo-dev libboost-dev
  # media framework: the pipeline that takes a clip's first frame (tsdemux and h264parse are in
  # -bad, the H.264 decoder in -libav)
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-bad gstreamer1.0-libav
  # fuzzing
  clang libfuzzer-14-dev libclang-rt-14-dev
  # real clips for the tests and the demo; a reference thumbnailer for the grab benchmark
  ffmpeg ffmpegthumbnailer
  # the GUI toolkit, fonts (Liberation Sans in Arial's place), opening files with the desktop's
  # programs
  libwxgtk3.2-dev fonts-liberation xdg-utils libfile-mimeinfo-perl shared-mime-info
  # the desktop's programs, mounts and thumbnail cache (GIO, GdkPixbuf), and the validators of the
  # launcher and the software centre's description; FAT card images for the mount test
  libglib2.0-dev libgdk-pixbuf-2.0-dev libdeflate-dev desktop-file-utils appstream dosfstools
  # windows under a virtual display, and screenshots of them
  xvfb xauth imagemagick
  # real input for the GUI tests (pointer and keys through the X server), and the toolkit's
  # headers (the tests find its widgets on the screen; the program answers an open box on a signal)
  xdotool libgtk-3-dev
  # the Debian package: built with CPack (dpkg-shlibdeps from dpkg-dev, fakeroot) and checked
  # with lintian; the desktop's thumbnail factory that runs the thumbnailer and reads the cache
  dpkg-dev fakeroot file lintian python3-gi gir1.2-gnomedesktop-3.0
  # importing recordings: the database of what was imported (SQLite), SHA-256 (libcrypto), and a
  # file system in the tests that fails mid-read as a pulled card does (FUSE)
  libsqlite3-dev libssl-dev libfuse3-dev fuse3
)

missing=()
for package in "${packages[@]}"; do
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
