#!/usr/bin/env python3
"""Rewrites a zip archive so that the same files always give the same bytes.

    norvane_zip.py ARCHIVE EPOCH

CPack's ZIP writer stores each file's access and change times and lists the
files in directory order; this keeps the files and their permission bits and
writes them again in name order, each dated EPOCH (seconds, UTC), with no
extra fields.
"""
import os
import sys
import time
import zipfile


def main():
    path, epoch = sys.argv[1], int(sys.argv[2])
    # A zip cannot date anything before 1980.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    with zipfile.ZipFile(path) as source:
        entries = [(info, source.read(info)) for info in sorted(source.infolist(), key=lambda i: i.filename)]
    temporary = path + ".tmp"
    with zipfile.ZipFile(temporary, "w") as target:
        for old, data in entries:
            info = zipfile.ZipInfo(old.filename, date_time=stamp)
            info.create_system = 3  # Unix, so that the permission bits below count
            info.external_attr = old.external_attr & 0xFFFF0000
            info.compress_type = zipfile.ZIP_DEFLATED
            target.writestr(info, data, compresslevel=9)
    os.replace(temporary, path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
