#!/usr/bin/env python3
"""Where each corpus file lies on the card: its first sector is looked up at every sector
start, and the whole file compared there. Prints a TSV manifest on standard output."""
import hashlib
import os
import sys

image_path, files_dir, deleted_list = sys.argv[1:4]
deleted = set(open(deleted_list).read().split())
files = sorted(os.listdir(files_dir))
first = {}
for name in files:
    with open(os.path.join(files_dir, name), "rb") as f:
        head = f.read(512)
    first.setdefault(head, []).append(name)

offsets = {}
with open(image_path, "rb") as img:
    data = img.read()
# Files shorter than a sector are compared on their own length.
short = [(h, n) for h, ns in first.items() if len(h) < 512 for n in ns]
for pos in range(0, len(data) - 511, 512):
    names = first.get(data[pos:pos + 512])
    for head, name in short:
        if name not in offsets and data[pos:pos + len(head)] == head:
            offsets[name] = pos
    if not names:
        continue
    for name in names:
        body = open(os.path.join(files_dir, name), "rb").read()
        if name not in offsets and data[pos:pos + len(body)] == body:
            offsets[name] = pos

print("type\tname\tbytes\tsha256\toffset\tdeleted")
for name in files:
    body = open(os.path.join(files_dir, name), "rb").read()
    print("\t".join([name.split("-")[0], name, str(len(body)), hashlib.sha256(body).hexdigest(),
                     str(offsets.get(name, -1)), "yes" if name in deleted else "no"]))
