#!/usr/bin/python3
# The desktop's thumbnail factory (GNOME's, through GObject introspection), as a file manager
# uses it, for the tests:
#   thumbnail_factory.py lookup URI MTIME   a line "<size> <cached thumbnail's path, or ->" for
#                                           large and x-large
# XDG_CACHE_HOME says where the shared cache is.
import sys

import gi

gi.require_version("GnomeDesktop", "3.0")
from gi.repository import GnomeDesktop  # noqa: E402

SIZES = {"large": GnomeDesktop.DesktopThumbnailSize.LARGE, "x-large": GnomeDesktop.DesktopThumbnailSize.XLARGE}

if len(sys.argv) != 4 or sys.argv[1] != "lookup":
    sys.exit("usage: thumbnail_factory.py lookup URI MTIME")
uri, mtime = sys.argv[2], int(sys.argv[3])
for name, size in SIZES.items():
    print(name, GnomeDesktop.DesktopThumbnailFactory.new(size).lookup(uri, mtime) or "-")
