#!/usr/bin/env python3
"""Creates COUNT empty files in a new folder and prints "COUNT SECONDS": what
creating that many files costs on this file system now, the floor under
any tool that writes them.

  create_files.py FOLDER COUNT
"""
import os
import sys
import time


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: create_files.py FOLDER COUNT")
    folder, count = sys.argv[1], int(sys.argv[2])
    os.makedirs(folder)
    start = time.perf_counter()
    for k in range(count):
        os.close(os.open(os.path.join(folder, "f%05d.tres" % k), os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644))
    print("%d %.6f" % (count, time.perf_counter() - start))


if __name__ == "__main__":
    main()
