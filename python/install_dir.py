"""Prints the interpreter's platform site-packages directory relative to an install prefix.

Debian's default scheme puts "local/" after the prefix, meant for a prefix of /usr; the install
prefix already says where, and both /usr and /usr/local lead to a directory on Debian's path."""

import os
import sysconfig

platlib = sysconfig.get_path("platlib", vars={"platbase": "/prefix", "base": "/prefix"})
relative = os.path.relpath(platlib, "/prefix")
if relative.startswith("local" + os.sep):
    relative = relative[len("local" + os.sep):]
print(relative)
