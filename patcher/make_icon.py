#!/usr/bin/env python3
"""Draws the patcher's icon: a 32x32 and a 16x16 image in 16 colours, written as an .ico file."""
import struct
import sys

# The 16-colour palette of the classic VGA set, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128), (128, 0, 0), (128, 0, 128),
    (128, 128, 0), (192, 192, 192), (128, 128, 128), (0, 0, 255), (0, 255, 0), (0, 255, 255),
    (255, 0, 0), (255, 0, 255), (255, 255, 0), (255, 255, 255),
]
DARK_BLUE, YELLOW, WHITE, TRANSPARENT = 1, 14, 15, 0


def pixel(x, y, size):
    """Colour index at (x, y), y counted from the top: a shield with a downward arrow."""
    u, v = (x + 0.5) / size, (y + 0.5) / size
    half_width = 0.42 if v < 0.6 else 0.42 * (1.0 - v) / 0.4
    if abs(u - 0.5) > half_width or v < 0.06 or v > 0.97:
        return TRANSPARENT, True
    shaft = abs(u - 0.5) < 0.08 and 0.18 < v < 0.55
    head = v >= 0.5 and v < 0.78 and abs(u - 0.5) < (0.78 - v) * 0.9
    if shaft or head:
        return YELLOW, False
    border = abs(u - 0.5) > half_width - 1.5 / size or v < 0.06 + 1.5 / size
    return (WHITE if border else DARK_BLUE), False


def image(size):
    stride = ((size * 4 + 31) // 32) * 4
    mask_stride = ((size + 31) // 32) * 4
    colour_rows, mask_rows = [], []
    for y in reversed(range(size)):  # bottom-up rows
        row, mask = bytearray(stride), bytearray(mask_stride)
        for x in range(size):
            index, clear = pixel(x, y, size)
            row[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if clear:
                mask[x // 8] |= 0x80 >> (x % 8)
        colour_rows.append(bytes(row))
        mask_rows.append(bytes(mask))
    bitmap = b"".join(colour_rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(bitmap) + len(b"".join(mask_rows)), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    return header + palette + bitmap + b"".join(mask_rows)


def main():
    images = [image(32), image(16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
