#!/usr/bin/env python3
"""Gives a HEIF's primary item an irot (and optionally imir) property, as a phone
writes one for a turned picture: add_transform.py IN OUT ANGLE [MIRROR_AXIS].
ANGLE counts quarter turns anticlockwise ("-": none); a last argument
nclx:MATRIX:FULL_RANGE adds a colour box. The boxes around the new properties
grow and the item locations after them move along."""
import struct
import sys


def boxes(data, start, end):
    at = start
    while at + 8 <= end:
        size, kind = struct.unpack_from(">I4s", data, at)
        header = 8
        if size == 1:
            size = struct.unpack_from(">Q", data, at + 8)[0]
            header = 16
        elif size == 0:
            size = end - at
        yield at, size, header, kind
        at += size


def find(data, start, end, kind):
    for at, size, header, k in boxes(data, start, end):
        if k == kind:
            return at, size, header
    raise SystemExit("no %s box" % kind.decode())


def grow(data, at, delta):
    size = struct.unpack_from(">I", data, at)[0]
    struct.pack_into(">I", data, at, size + delta)


def shift_iloc(data, at, size, header, moved_from, delta):
    p = at + header
    version = data[p]
    p += 4
    offset_size, length_size = data[p] >> 4, data[p] & 15
    base_size, index_size = data[p + 1] >> 4, (data[p + 1] & 15 if version in (1, 2) else 0)
    p += 2
    count = struct.unpack_from(">H" if version < 2 else ">I", data, p)[0]
    p += 2 if version < 2 else 4
    fmt = {0: None, 4: ">I", 8: ">Q"}
    for _ in range(count):
        p += 2 if version < 2 else 4
        method = 0
        if version in (1, 2):
            method = struct.unpack_from(">H", data, p)[0] & 15
            p += 2
        p += 2  # data reference index
        base = struct.unpack_from(fmt[base_size], data, p)[0] if base_size else 0
        if base_size and method == 0 and base >= moved_from:
            struct.pack_into(fmt[base_size], data, p, base + delta)
        p += base_size
        extents = struct.unpack_from(">H", data, p)[0]
        p += 2
        for _ in range(extents):
            p += index_size
            off = struct.unpack_from(fmt[offset_size], data, p)[0] if offset_size else 0
            if offset_size and method == 0 and base == 0 and off >= moved_from:
                struct.pack_into(fmt[offset_size], data, p, off + delta)
            p += offset_size + length_size


def main():
    args = sys.argv[1:]
    nclx = args.pop()[5:].split(":") if args[-1].startswith("nclx:") else None
    src, dst, angle = args[0], args[1], None if args[2] == "-" else int(args[2])
    mirror = int(args[3]) if len(args) > 3 else None
    data = bytearray(open(src, "rb").read())
    meta, meta_size, meta_header = find(data, 0, len(data), b"meta")
    body = meta + meta_header + 4
    pitm, _, h = find(data, body, meta + meta_size, b"pitm")
    primary = struct.unpack_from(">H" if data[pitm + h] == 0 else ">I", data, pitm + h + 4)[0]
    iprp, iprp_size, h = find(data, body, meta + meta_size, b"iprp")
    ipco, ipco_size, ipco_header = find(data, iprp + h, iprp + iprp_size, b"ipco")
    ipma, ipma_size, ipma_header = find(data, iprp + h, iprp + iprp_size, b"ipma")
    count = sum(1 for _ in boxes(data, ipco + ipco_header, ipco + ipco_size))

    new = []
    if angle is not None:
        new.append(struct.pack(">I4sB", 9, b"irot", angle & 3))
    if mirror is not None:
        new.append(struct.pack(">I4sB", 9, b"imir", mirror & 1))
    if nclx is not None:  # BT.709 primaries and transfer, the given matrix and range
        new.append(struct.pack(">I4s4sHHHB", 19, b"colr", b"nclx", 1, 1, int(nclx[0]), int(nclx[1]) << 7))
    props = b"".join(new)
    new_indices = list(range(count + 1, count + 1 + len(new)))

    # The primary item's association list gains the new indices.
    p = ipma + ipma_header
    version, flags = data[p], data[p + 3]
    wide_index = flags & 1
    entries = struct.unpack_from(">I", data, p + 4)[0]
    p += 8
    added = b"".join(struct.pack(">H", i) if wide_index else bytes([i]) for i in new_indices)
    for _ in range(entries):
        item = struct.unpack_from(">H" if version < 1 else ">I", data, p)[0]
        p += 2 if version < 1 else 4
        n = data[p]
        if item == primary:
            data[p] = n + len(new_indices)
            insert_at = p + 1 + n * (2 if wide_index else 1)
            data[insert_at:insert_at] = added
            break
        p += 1 + n * (2 if wide_index else 1)
    else:
        raise SystemExit("primary item has no associations")
    grow(data, ipma, len(added))

    # ipco sits before ipma inside iprp: insert the properties at its end.
    data[ipco + ipco_size:ipco + ipco_size] = props
    grow(data, ipco, len(props))
    delta = len(added) + len(props)
    grow(data, iprp, delta)
    grow(data, meta, delta)
    iloc, iloc_size, h = find(data, body, meta + meta_size + delta, b"iloc")
    shift_iloc(data, iloc, iloc_size, h, meta + meta_size, delta)
    open(dst, "wb").write(data)


if __name__ == "__main__":
    main()
