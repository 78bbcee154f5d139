#!/usr/bin/env python3
"""Recall of each tool on the evaluation card: per type, how many placed files each tool
found (an output starts with the file's first sector), recovered byte for byte (an output
starts with the whole file) and at the exact length (an output equals the file), and how
many of its outputs start with no sector of any file of the card (invented bytes).

    recall.py MANIFEST FILES_DIR NAME=OUTPUT_DIR [NAME=OUTPUT_DIR ...]
"""
import collections
import hashlib
import os
import sys

manifest, files_dir, *runs = sys.argv[1:]
placed = []
# Every sector of every file on the card, broken ones too: an output that starts with one is
# a real file or a real file's remains (a prefix, or a video's frames whose header was
# overwritten), not invented bytes.
known_heads = set()
with open(manifest) as f:
    next(f)
    for line in f:
        t, name, size, sha, offset, deleted = line.rstrip("\n").split("\t")
        # A file not stored whole (overwritten, or never written) cannot be recovered.
        if offset != "-1":
            placed.append((t, name))
        with open(os.path.join(files_dir, name), "rb") as g:
            whole = g.read()
        for at in range(0, len(whole), 512):
            known_heads.add(hashlib.sha1(whole[at:at + 512]).digest())
bodies = {name: open(os.path.join(files_dir, name), "rb").read() for _, name in placed}
by_head = collections.defaultdict(list)
for _, name in placed:
    by_head[bodies[name][:512]].append(name)
short = [name for _, name in placed if len(bodies[name]) < 512]
TOOL_FILES = {"audit.txt", "report.xml", "photorec.log"}

def outputs(folder):
    for top, _, names in os.walk(folder):
        for n in names:
            if n not in TOOL_FILES:
                yield os.path.join(top, n)

results = {}
for run in runs:
    tool, folder = run.split("=", 1)
    found, exact, length = set(), set(), set()
    junk = total = 0
    for path in outputs(folder):
        total += 1
        with open(path, "rb") as f:
            head = f.read(512)
        names = list(by_head.get(head, [])) + [n for n in short if head.startswith(bodies[n])]
        if not names:
            junk += hashlib.sha1(head).digest() not in known_heads
            continue
        body = open(path, "rb").read()
        for n in names:
            found.add(n)
            if body.startswith(bodies[n]):
                exact.add(n)
                if len(body) == len(bodies[n]):
                    length.add(n)
    results[tool] = (found, exact, length, junk, total)

tools = [r.split("=", 1)[0] for r in runs]
types = sorted({t for t, _ in placed})
head = f"{'type':6}{'placed':>7}" + "".join(f"  {t:>22}" for t in tools)
print(head)
print(f"{'':13}" + "".join(f"  {'found/exact/length':>22}" for _ in tools))
for t in types + ["all"]:
    names = [n for tt, n in placed if t in (tt, "all")]
    row = f"{t:6}{len(names):7}"
    for tool in tools:
        found, exact, length, _, _ = results[tool]
        cells = [sum(n in s for n in names) for s in (found, exact, length)]
        row += f"  {'/'.join(map(str, cells)):>22}"
    print(row)
print()
for tool in tools:
    found, exact, length, junk, total = results[tool]
    n = len(placed)
    print(f"{tool:10} placed {n:4}  byte-exact {len(exact):4} = {100 * len(exact) / max(n, 1):5.1f} %   exact length "
          f"{100 * len(length) / max(n, 1):5.1f} %   outputs {total:4}, no real file {junk:4} "
          f"({100 * junk / max(total, 1):4.1f} %)")
