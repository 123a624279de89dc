#!/bin/sh
# Installs the program to a scratch prefix, registers its launcher as a package would
# (update-desktop-database) and asks xdg-mime which program opens folders on a desktop that has
# only this one: the viewer must never be that program.
#   folder_handler_check.sh <build folder>
set -eu
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
test -f "$scratch/prefix/share/applications/viewmere.desktop"
test -f "$scratch/prefix/share/metainfo/example.corvane.Viewmere.metainfo.xml"
update-desktop-database "$scratch/prefix/share/applications"
mkdir -p "$scratch/home/.local/share" "$scratch/config"
handler=$(env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION HOME="$scratch/home" \
  XDG_DATA_HOME="$scratch/home/.local/share" XDG_CONFIG_HOME="$scratch/config" \
  XDG_DATA_DIRS="$scratch/prefix/share" xdg-mime query default inode/directory)
echo "default for inode/directory: '${handler}'"
case "$handler" in
  *viewmere*) echo "the viewer would open folders for the desktop" >&2; exit 1 ;;
esac
