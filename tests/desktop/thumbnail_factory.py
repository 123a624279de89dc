#!/usr/bin/python3
# GNOME's thumbnail factory, as a file manager uses it: "thumbnail_factory.py lookup URI MTIME"
# prints "<size> <the cached thumbnail's path, or ->" for large and x-large (XDG_CACHE_HOME).
import sys

import gi

gi.require_version("GnomeDesktop", "3.0")
from gi.repository import GnomeDesktop  # noqa: E402

uri, mtime = sys.argv[2], int(sys.argv[3])
for name, size in (("large", GnomeDesktop.DesktopThumbnailSize.LARGE), ("x-large", GnomeDesktop.DesktopThumbnailSize.XLARGE)):
    print(name, GnomeDesktop.DesktopThumbnailFactory.new(size).lookup(uri, mtime) or "-")
