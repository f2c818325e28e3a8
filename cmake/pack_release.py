#!/usr/bin/env python3
"""Writes the release zip so that the same sources give the same bytes on any machine:
pack_release.py SOURCE_DIR ZIP FILE...
Every entry carries SOURCE_DATE_EPOCH, or else the time of SOURCE_DIR's last commit, in the order
given, as a plain file, with no owner, mode, access time or other field that depends on who built
it or when."""
import os
import subprocess
import sys
import time
import zipfile

source, out, files = sys.argv[1], sys.argv[2], sys.argv[3:]
epoch = os.environ.get('SOURCE_DATE_EPOCH')
if not epoch:
    epoch = subprocess.run(['git', '-C', source, 'log', '-1', '--format=%ct'], capture_output=True,
                           text=True).stdout.strip()
stamp = time.gmtime(max(int(epoch or 0), 315532800))[:6]  # a zip's dates start in 1980
with zipfile.ZipFile(out, 'w') as archive:
    for path in files:
        entry = zipfile.ZipInfo(os.path.basename(path), stamp)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.create_system = 0  # MS-DOS: no Unix owner or mode
        entry.external_attr = 0x20  # the archive bit only
        with open(path, 'rb') as data:
            archive.writestr(entry, data.read(), compresslevel=9)
