#!/usr/bin/env python3
"""Prints "width height" of every PNG in a folder, sorted by name."""
import os
import struct
import sys

folder = sys.argv[1]
for name in sorted(os.listdir(folder)):
    if name.endswith(".png"):
        with open(os.path.join(folder, name), "rb") as f:
            head = f.read(24)
        print(*struct.unpack(">II", head[16:24]))
