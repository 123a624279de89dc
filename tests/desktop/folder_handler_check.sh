#!/bin/sh
# Installs the program to a scratch prefix, registers its launcher as a package would
# (update-desktop-database) and asks the desktop's tools (xdg-mime, and GIO's, which file
# managers use and which list a program only when it is on the PATH) about folders and clips.
# The viewer is offered for both, so a file manager's "Open With" lists it; where the desktop
# names a file manager for folders, as a desktop's own mimeapps.list does, the file manager
# stays the program that opens them.
#   folder_handler_check.sh <build folder>
set -eu
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
test -f "$scratch/prefix/share/applications/viewmere.desktop"
test -f "$scratch/prefix/share/metainfo/example.corvane.Viewmere.metainfo.xml"
update-desktop-database "$scratch/prefix/share/applications"
# A file manager of the desktop's, named by the desktop as the one for folders.
mkdir -p "$scratch/home/.local/share" "$scratch/config" "$scratch/desktop/applications"
printf '[Desktop Entry]\nType=Application\nName=Files\nExec=true %%U\nMimeType=inode/directory;\n' \
  > "$scratch/desktop/applications/files.desktop"
printf '[Default Applications]\ninode/directory=files.desktop\n' > "$scratch/desktop/applications/mimeapps.list"
update-desktop-database "$scratch/desktop/applications"
on_desktop() {
  env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION HOME="$scratch/home" \
    XDG_DATA_HOME="$scratch/home/.local/share" XDG_CONFIG_HOME="$scratch/config" \
    XDG_DATA_DIRS="$scratch/prefix/share:$scratch/desktop" PATH="$scratch/prefix/bin:$PATH" "$@"
}
fail() { echo "$1" >&2; exit 1; }

for type in inode/directory video/mp2t; do
  on_desktop gio mime "$type" > "$scratch/gio.txt"
  cat "$scratch/gio.txt"
  grep -q '^Registered applications:' "$scratch/gio.txt" || fail "GIO lists no program for $type"
  sed -n '/^Registered applications:/,/^[^ \t]/p' "$scratch/gio.txt" | grep -q 'viewmere.desktop' ||
    fail "the viewer is not offered for $type"
done
handler=$(on_desktop xdg-mime query default inode/directory)
echo "default for inode/directory: '${handler}'"
[ "$handler" = files.desktop ] || fail "the viewer took folders from the desktop's file manager"
on_desktop gio mime inode/directory | grep -q "^Default application for .inode/directory.: files.desktop" ||
  fail "GIO no longer opens folders with the desktop's file manager"
