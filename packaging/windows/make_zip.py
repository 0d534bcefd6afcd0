#!/usr/bin/env python3
"""Writes a zip whose bytes depend only on the files' names and contents:
entries sorted by name, one fixed time stamp, no owner, permissions or extra
fields, so that two builds of one commit give the same zip.

    make_zip.py ZIP FOLDER FILE...   each FILE as FOLDER/<its name>
"""
import os
import sys
import zipfile

# The earliest time a zip can hold; the files' own times vary from build to build.
STAMP = (1980, 1, 1, 0, 0, 0)


def main(zip_path, folder, *files):
    partial = zip_path + ".partial"
    with zipfile.ZipFile(partial, "w") as archive:
        for path in sorted(files, key=os.path.basename):
            entry = zipfile.ZipInfo(f"{folder}/{os.path.basename(path)}", STAMP)
            entry.create_system = 0  # MS-DOS: no Unix owner or mode
            entry.external_attr = 0
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as source:
                archive.writestr(entry, source.read(), compresslevel=9)
    os.replace(partial, zip_path)


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
