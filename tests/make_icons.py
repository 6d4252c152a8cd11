#!/usr/bin/env python3
"""Writes the test icons into a folder: desk-a.ico (a 24-pixel PNG, a 16-pixel bitmap whose
entry leaves planes and bit count at 0, and a 256-pixel PNG) and the smaller desk-b.ico (one
20-pixel PNG), and faulty ones named for their fault: bad-header, outside, wrong-size and
too-large, and aliased (40 entries, one image)."""
import os
import struct
import sys
import zlib


def png(size, colour):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes(colour) * size for _ in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def bitmap(size, colour):
    """A 32-bit DIB as an .ico holds it: the header, twice the height, pixels, then the mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + bytes(colour) * size * size + b"\0" * (4 * size)


def ico(images):
    """images: (entry width, entry height, planes, bits, data)."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for width, height, planes, bits, data in images:
        out += struct.pack("<BBBBHHII", width, height, 0, 0, planes, bits, len(data), offset)
        offset += len(data)
    return out + b"".join(image[4] for image in images)


def aliased(count, image):
    """count entries that all point at the one image."""
    head = struct.pack("<HHH", 0, 1, count)
    entry = struct.pack("<BBBBHHII", 0, 0, 0, 0, 1, 32, len(image), 6 + 16 * count)
    return head + entry * count + image


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    good_a = ico([(24, 24, 1, 32, png(24, (0, 128, 128, 255))), (16, 16, 0, 0, bitmap(16, (40, 180, 250, 255))),
                  (0, 0, 1, 32, png(256, (250, 180, 40, 255)))])
    files = {
        "desk-a.ico": good_a,
        "desk-b.ico": ico([(20, 20, 1, 32, png(20, (200, 30, 90, 255)))]),
        "bad-header.ico": b"\0\0\2\0" + good_a[4:],
        "outside.ico": good_a[:-10],
        "wrong-size.ico": ico([(32, 32, 1, 32, png(24, (0, 0, 0, 255)))]),
        "too-large.ico": ico([(24, 24, 1, 32, png(24, (0, 0, 0, 255)) + b"\0" * (1 << 20))]),
        "aliased.ico": aliased(40, png(256, (0, 0, 0, 255)) + b"\0" * 4096),
    }
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
