#!/bin/sh
# The Debian package as a user gets it: made by CPack from the build, holding every file the
# program needs, depending on the media plugins it loads, clean for lintian, and working once
# unpacked into a scratch root.   package_check.sh BUILD_FOLDER VERSION
set -eu
build=$1
version=$2
deb="$build/viewmere_${version}_amd64.deb"
fail() { echo "package_check: $*" >&2; exit 1; }

rm -f "$deb"
(cd "$build" && cpack -G DEB >/dev/null) || fail "cpack failed"
[ -f "$deb" ] || fail "no $deb"

listing=$(dpkg-deb -c "$deb")
for file in usr/bin/viewmere usr/bin/viewmere-grab-worker usr/bin/viewmere-thumbnailer \
            usr/share/applications/viewmere.desktop usr/share/icons/hicolor/scalable/apps/viewmere.svg \
            usr/share/metainfo/example.corvane.Viewmere.metainfo.xml usr/share/thumbnailers/viewmere.thumbnailer \
            usr/share/doc/viewmere/copyright usr/share/doc/viewmere/changelog.gz; do
  printf '%s\n' "$listing" | grep -q " \./$file\$" || fail "$file is not in the package"
done
printf '%s\n' "$listing" | grep -q "^-rwxr-xr-x root/root .* \./usr/bin/viewmere-thumbnailer\$" ||
  fail "the thumbnailer is not an executable owned by root"

# The plugins by name, the libraries as dpkg-shlibdeps found them; each one a package there is.
depends=$(dpkg-deb -f "$deb" Depends)
for package in gstreamer1.0-plugins-base gstreamer1.0-plugins-bad gstreamer1.0-libav \
               libgstreamer1.0-0 libwxgtk3.2-1 libjpeg62-turbo libpng16-16; do
  printf '%s\n' "$depends" | tr ',' '\n' | grep -q "^ *$package\( \|\$\)" || fail "Depends lacks $package: $depends"
done
for package in $(printf '%s\n' "$depends" | tr ',' '\n' | sed 's/(.*//; s/ //g'); do
  dpkg-query -W "$package" >/dev/null 2>&1 || fail "Depends names $package, which is not installed here"
  case $package in *-dev) fail "Depends names the development package $package";; esac
done

lintian --fail-on error "$deb" 2>/dev/null || fail "lintian reports errors"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
answer=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/viewmere" --version) || fail "the installed viewer failed"
[ "$answer" = "Viewmere Version $version" ] || fail "the installed viewer answered [$answer]"
echo "package_check: $deb is complete, lintian-clean and runs"
