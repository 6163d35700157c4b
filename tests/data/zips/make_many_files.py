"""A zip of 100,001 small files, as Python's zipfile writes it: past
65,535 files it is zip64 (the end record says 0xFFFF, the zip64 record the
count).  usage: make_many_files.py OUT.zip"""
import sys
import zipfile

with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_STORED) as archive:
    for k in range(100001):
        archive.writestr("many/%d.txt" % k, "file %d\n" % k)
