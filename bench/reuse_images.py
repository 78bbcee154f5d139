#!/usr/bin/env python3
"""Images of a reused card, built from the corpus files (real encoder output), each with its
manifest (the format corpus_manifest.py writes; offset -1 for a file not stored whole):

  cut.img         every family's file with its second half overwritten by an intact file
                  of another family (its size fields and index still claim those sectors)
  unfinished.img  sparse, 4 GiB: recordings cut by power loss (an mdat of size 0 and no
                  movie box; a movie box lost), photos at 1 GiB and 3 GiB behind them
  twopiece.img    two-piece photos and a faststart movie split around other files, a photo
                  split around a run of files, two photos written interleaved (A1 B1 A2 B2)

Two-piece files are listed with their first piece's offset and "pieces" in the last column.

    reuse_images.py FILES_DIR OUT_DIR
"""
import hashlib
import os
import struct
import sys

files_dir, out = sys.argv[1:3]
CLUSTER = 4096
names = sorted(os.listdir(files_dir))
body = {n: open(os.path.join(files_dir, n), "rb").read() for n in names}
by_type = {}
for n in names:
    by_type.setdefault(n.split("-")[0], []).append(n)


def align(x, a=CLUSTER):
    return (x + a - 1) // a * a


class Image:
    def __init__(self, name, size=None):
        self.path = os.path.join(out, name)
        self.data = bytearray()
        self.size = size
        self.rows = []
        self.writes = []  # (offset, bytes) for a sparse image

    def put(self, at, b):
        if self.size is None:
            if len(self.data) < at + len(b):
                self.data.extend(bytes(at + len(b) - len(self.data)))
            self.data[at:at + len(b)] = b
        else:
            self.writes.append((at, bytes(b)))

    def place(self, name, at, pieces=False):
        self.rows.append((name, at, "pieces" if pieces else "no"))

    def save(self):
        with open(self.path, "wb") as f:
            if self.size is None:
                f.write(self.data + bytes(align(len(self.data) + (1 << 20), 1 << 20) - len(self.data)))
            else:
                f.truncate(self.size)
                for at, b in self.writes:
                    f.seek(at)
                    f.write(b)
        manifest = os.path.splitext(self.path)[0] + ".tsv"
        # Only what still stands whole (or in its pieces) on the image is placed.
        data = None if self.size else bytes(self.data)
        with open(manifest, "w") as m:
            m.write("type\tname\tbytes\tsha256\toffset\tdeleted\n")
            for name, at, note in self.rows:
                b = body[name]
                if data is not None and note == "no" and data[at:at + len(b)] != b:
                    at = -1
                m.write(f"{name.split('-')[0]}\t{name}\t{len(b)}\t"
                        f"{hashlib.sha256(b).hexdigest()}\t{at}\t{note}\n")


used = set()


def take(t, minimum=0, avoid=()):
    for n in by_type.get(t, []):
        if n not in used and n not in avoid and len(body[n]) >= minimum:
            used.add(n)
            return n
    return None


# ---- cut files followed by intact ones, for every family ----
img = Image("cut.img")
at = 1 << 20
intact = ["JPEG", "MP3", "PNG", "JPEG", "MP4", "JPEG", "WAV", "JPEG", "GIF", "JPEG", "MOV"]
k = 0
families = ["JPEG", "PNG", "GIF", "BMP", "TIFF", "PSD", "JP2", "MP4", "MOV", "M4V", "3G2",
            "MKV", "AVI", "DIVX", "WAV", "MPEG", "VOB", "DV", "ASF", "WMA", "RM", "OGG",
            "AIFF", "AU", "MP3", "MIDI", "CR2", "NEF", "DNG", "RAF", "MRW", "X3F", "CRW"]
for fam in families:
    for _ in range(2 if fam in ("JPEG", "MP4", "MOV", "AVI", "WAV", "MKV", "MP3") else 1):
        x = take(fam, 3 * CLUSTER)
        if not x:
            continue
        y = None
        for tries in range(len(intact)):
            y = take(intact[(k + tries) % len(intact)])
            if y:
                break
        k += 1
        if not y:
            break
        xb = body[x]
        img.put(at, xb)
        img.place(x, at)  # broken: not placed once the newer file is written
        over = at + align(len(xb) // 2)
        img.put(over, body[y])
        img.place(y, over)
        at = align(max(at + len(xb), over + len(body[y]))) + CLUSTER
img.save()

# ---- unfinished recordings on a sparse 4 GiB image ----
used.clear()
GiB = 1 << 30
img = Image("unfinished.img", 4 * GiB)


def boxes(b):
    off = 0
    while off + 8 <= len(b):
        size, kind = struct.unpack(">I4s", b[off:off + 8])
        if size == 1:
            size = struct.unpack(">Q", b[off + 8:off + 16])[0]
        if size < 8:
            return
        yield off, size, kind
        off += size


def unfinished(name, zero_size):
    b = bytearray(body[name])
    cut = None
    for off, size, kind in boxes(b):
        if kind == b"mdat":
            if zero_size:
                b[off:off + 4] = b"\0\0\0\0"
        if kind == b"moov" and off > 0:
            cut = off
    return bytes(b[:cut]) if cut else bytes(b)


# Phone recordings (movie box at the end) cut by power loss.
def last_moov(n):
    kinds = [k for _, _, k in boxes(body[n])]
    return b"mdat" in kinds and kinds[-1] == b"moov"


# A phone's MP4 and a camera's MOV, with video.
recs = [next((n for n in by_type.get(t, []) if n.endswith(ext) and last_moov(n)), None)
        for t, ext in (("MP4", ".mp4"), ("MOV", ".mov"))]
recs = [n for n in recs if n]
spots = [(1 << 20, 1 * GiB), (2 * GiB, 3 * GiB)]
for (rec_at, photo_at), rec, zero in zip(spots, recs, (True, False)):
    used.add(rec)
    cut = unfinished(rec, zero)
    # Kept beside the corpus files, so that its remains count as a real file's.
    t, rest = rec.split("-", 1)
    kept = f"{t}-unfinished-{rest}"
    with open(os.path.join(files_dir, kept), "wb") as f:
        f.write(cut)
    body[kept] = cut
    img.put(rec_at, cut)
    img.place(kept, -1)
    off = photo_at
    for _ in range(2):
        p = take("JPEG")
        img.put(off, body[p])
        img.place(p, off)
        off = align(off + len(body[p])) + CLUSTER
img.save()

# ---- two-piece files ----
used.clear()
img = Image("twopiece.img")
at = 1 << 20


def split(name):
    b = body[name]
    half = align(len(b) // 2)
    return b[:half], b[half:]


def put_run(parts):
    """Writes (name, bytes, is_first_piece_of_two) cluster-aligned, back to back."""
    global at
    for name, b, role in parts:
        img.put(at, b)
        if role == "whole":
            img.place(name, at)
        elif role == "first":
            img.place(name, at, pieces=True)
        at = align(at + len(b))
    at += 4 * CLUSTER


for _ in range(3):  # a photo split around another photo
    a, c = take("JPEG", 3 * CLUSTER), take("JPEG")
    a1, a2 = split(a)
    put_run([(a, a1, "first"), (c, body[c], "whole"), (a, a2, "")])
a, c, d = take("JPEG", 3 * CLUSTER), take("MP3"), take("JPEG")  # around a run of files
a1, a2 = split(a)
put_run([(a, a1, "first"), (c, body[c], "whole"), (d, body[d], "whole"), (a, a2, "")])
faststart = [n for n in by_type.get("MP4", []) if n not in used and
             [k for _, _, k in boxes(body[n])][1:2] == [b"moov"]]
for m in faststart[:2]:  # a faststart movie split by a photo
    used.add(m)
    j = take("JPEG")
    m1, m2 = split(m)
    put_run([(m, m1, "first"), (j, body[j], "whole"), (m, m2, "")])
for _ in range(2):  # two photos written at once: A1 B1 A2 B2
    a, b = take("JPEG", 3 * CLUSTER), take("JPEG", 3 * CLUSTER)
    a1, a2 = split(a)
    b1, b2 = split(b)
    put_run([(a, a1, "first"), (b, b1, "first"), (a, a2, ""), (b, b2, "")])
img.save()
for n in ("cut", "unfinished", "twopiece"):
    print(f"{n}.img: {sum(1 for _ in open(os.path.join(out, n + '.tsv'))) - 1} files")
