#!/usr/bin/env python3
"""Draws the setup program's icon (a box with a downward arrow) as a small
16-colour .ico with one 32x32 image. Run it to regenerate startup/setup.ico.

One image only: a 16x16 one would be this drawing scaled down, which Windows
does itself where it shows a small icon, and it cost the program file 350
bytes of resources (with them, 512 bytes of file alignment)."""
import struct
import sys

PALETTE = [(0, 0, 0), (255, 255, 255), (40, 90, 170), (90, 150, 230), (250, 190, 40), (30, 30, 30)]
PALETTE += [(0, 0, 0)] * (16 - len(PALETTE))


def draw(size):
    s = size / 32.0
    px = [[None] * size for _ in range(size)]  # None = transparent

    def rect(x0, y0, x1, y1, c):
        for y in range(int(y0 * s), int(y1 * s)):
            for x in range(int(x0 * s), int(x1 * s)):
                px[y][x] = c

    rect(3, 14, 29, 30, 5)   # box outline
    rect(4, 15, 28, 29, 2)   # box
    rect(4, 15, 28, 18, 3)   # lid highlight
    rect(13, 2, 19, 14, 5)   # arrow shaft outline
    rect(14, 2, 18, 15, 4)   # arrow shaft
    for i in range(7):       # arrow head
        rect(8 + i, 12 + i, 24 - i, 13 + i, 4)
    return px


def image(size):
    px = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    pal = b''.join(struct.pack('BBBB', b, g, r, 0) for r, g, b in PALETTE)
    xor = bytearray()
    andmask = bytearray()
    row_and = ((size + 31) // 32) * 4
    for y in reversed(range(size)):
        row = bytearray()
        for x in range(0, size, 2):
            a = px[y][x] or 0
            b = px[y][x + 1] or 0
            row.append((a << 4) | b)
        while len(row) % 4:
            row.append(0)
        xor += row
        bits = bytearray(row_and)
        for x in range(size):
            if px[y][x] is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        andmask += bits
    return header + pal + bytes(xor) + bytes(andmask)


def main(path):
    images = [(32, image(32))]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    open(path, 'wb').write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'startup/setup.ico')
