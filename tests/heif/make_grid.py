#!/usr/bin/env python3
"""Turns a HEIF holding ROWS x COLS pictures (heif-enc with several inputs, row by row) into
a grid picture of WIDTH x HEIGHT made of them, as phones store large photos:
make_grid.py IN OUT ROWS COLS WIDTH HEIGHT. The grid item becomes the primary; its
8-byte description goes into an mdat box added at the end."""
import struct
import sys

from add_transform import boxes, find, shift_iloc


def box(kind, body, full=None):
    head = struct.pack(">I4s", 8 + (4 if full is not None else 0) + len(body), kind)
    return head + (struct.pack(">I", full) if full is not None else b"") + body


def children(data, at, size, header, skip=0):
    return [(k, bytes(data[a:a + s])) for a, s, h, k in boxes(data, at + header + skip, at + size)]


def main():
    src, dst = sys.argv[1], sys.argv[2]
    rows, cols, width, height = (int(v) for v in sys.argv[3:7])
    data = bytearray(open(src, "rb").read())
    meta, meta_size, meta_header = find(data, 0, len(data), b"meta")
    kids = children(data, meta, meta_size, meta_header, 4)
    tiles = list(range(1, rows * cols + 1))
    grid = len(tiles) + 1
    new = []
    for kind, raw in kids:
        body = raw[8:]
        if kind == b"pitm":
            raw = box(b"pitm", struct.pack(">H", grid), 0)
        elif kind == b"iinf":
            count = struct.unpack_from(">H", body, 4)[0]
            entries = bytearray(body[6:])
            for at, size, header, k in boxes(entries, 0, len(entries)):
                entries[at + 11] |= 1  # the tiles are hidden: only the grid is a picture of its own
            infe = box(b"infe", struct.pack(">HH4s", grid, 0, b"grid") + b"\0", 2 << 24)
            raw = box(b"iinf", struct.pack(">H", count + 1) + bytes(entries) + infe, 0)
        elif kind == b"iprp":
            props = children(bytearray(raw), 0, len(raw), 8)
            ipco = dict(props)[b"ipco"]
            count = sum(1 for _ in boxes(ipco, 8, len(ipco)))
            ispe = box(b"ispe", struct.pack(">II", width, height), 0)
            ipco = box(b"ipco", ipco[8:] + ispe)
            ipma = dict(props)[b"ipma"]
            version, flags = ipma[8], ipma[11]
            entries = struct.unpack_from(">I", ipma, 12)[0]
            entry = struct.pack(">H" if version < 1 else ">I", grid) + bytes([1])
            entry += struct.pack(">H", count + 1) if flags & 1 else bytes([count + 1])
            ipma = box(b"ipma", struct.pack(">I", entries + 1) + ipma[16:] + entry, version << 24 | flags)
            raw = box(b"iprp", ipco + ipma)
        new.append((kind, raw))
    iref = box(b"dimg", struct.pack(">HH", grid, len(tiles)) + b"".join(struct.pack(">H", t) for t in tiles))
    if not any(k == b"iref" for k, _ in new):
        new.append((b"iref", box(b"iref", iref, 0)))
    else:
        new = [(k, box(b"iref", r[12:] + iref, 0) if k == b"iref" else r) for k, r in new]

    # The item locations: the old ones move with the grown meta box, the grid's points at the end.
    iloc_raw = dict(new)[b"iloc"]
    version = iloc_raw[8]
    offset_size, length_size = iloc_raw[12] >> 4, iloc_raw[12] & 15
    base_size, index_size = iloc_raw[13] >> 4, (iloc_raw[13] & 15 if version in (1, 2) else 0)
    count = struct.unpack_from(">H", iloc_raw, 14)[0]
    entry = struct.pack(">H", grid) + (struct.pack(">H", 0) if version in (1, 2) else b"")
    entry += struct.pack(">H", 0) + bytes(base_size) + struct.pack(">H", 1) + bytes(index_size)
    offset_at = len(entry)
    entry += bytes(offset_size) + (struct.pack(">I", 8) if length_size == 4 else struct.pack(">Q", 8))
    iloc_raw = iloc_raw[:14] + struct.pack(">H", count + 1) + iloc_raw[16:] + entry
    iloc_raw = struct.pack(">I", len(iloc_raw)) + iloc_raw[4:]
    new = [(k, iloc_raw if k == b"iloc" else r) for k, r in new]
    meta_body = b"".join(r for _, r in new)
    new_meta = bytearray(box(b"meta", meta_body, 0))
    delta = len(new_meta) - meta_size
    out = data[:meta] + new_meta + data[meta + meta_size:]
    iloc, iloc_size, h = find(out, meta + 12, meta + len(new_meta), b"iloc")
    shift_iloc(out, iloc, iloc_size, h, meta + meta_size, delta)
    description = struct.pack(">BBBBHH", 0, 0, rows - 1, cols - 1, width, height)
    at = iloc + iloc_size - len(entry) + offset_at
    struct.pack_into(">I" if offset_size == 4 else ">Q", out, at, len(out) + 8)
    out += box(b"mdat", description)
    open(dst, "wb").write(out)


if __name__ == "__main__":
    main()
