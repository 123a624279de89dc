#!/bin/sh
# The Debian package as a user gets it: made by CPack, holding every file the program needs,
# depending on the media plugins it loads, clean for lintian, and working once unpacked.
#   package_check.sh BUILD_FOLDER VERSION
set -eu
deb="$1/viewmere_$2_amd64.deb"
fail() { echo "package_check: $*" >&2; exit 1; }
rm -f "$deb"
(cd "$1" && cpack -G DEB >/dev/null) && [ -f "$deb" ] || fail "cpack made no $deb"

listing=$(dpkg-deb -c "$deb")
for file in bin/viewmere bin/viewmere-grab-worker bin/viewmere-thumbnailer share/applications/viewmere.desktop \
            share/icons/hicolor/scalable/apps/viewmere.svg share/metainfo/example.corvane.Viewmere.metainfo.xml \
            share/thumbnailers/viewmere.thumbnailer share/doc/viewmere/copyright share/doc/viewmere/changelog.gz; do
  printf '%s\n' "$listing" | grep -q " \./usr/$file\$" || fail "$file is not in the package"
done
# The plugins by name, the libraries as dpkg-shlibdeps found them; each a package there is.
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/(.*//; s/ //g')
for package in gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav libwxgtk3.2-1 libjpeg62-turbo; do
  printf '%s\n' "$depends" | grep -qx "$package" || fail "Depends lacks $package"
done
for package in $depends; do dpkg-query -W "$package" >/dev/null 2>&1 || fail "Depends names $package, unknown here"; done
lintian --fail-on error "$deb" 2>/dev/null || fail "lintian reports errors"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
answer=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/viewmere" --version) || fail "the installed viewer failed"
[ "$answer" = "Viewmere Version $2" ] || fail "the installed viewer answered [$answer]"
