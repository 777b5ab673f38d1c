#!/usr/bin/env python3
"""Draws Pagelift's resources: the application icon, the splash picture and the
hand cursor. Standard library only; run it from anywhere, it writes beside itself."""

import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def png(path, width, height, pixels, alpha=False):
    """pixels: rows of (r, g, b) or (r, g, b, a) tuples."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for p in row:
            raw.extend(p[:4] if alpha else p[:3])

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 6 if alpha else 2, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", header))
        f.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
        f.write(chunk(b"IEND", b""))


def canvas(width, height, colour):
    return [[colour for _ in range(width)] for _ in range(height)]


def rect(img, x0, y0, x1, y1, colour):
    for y in range(max(0, y0), min(len(img), y1)):
        for x in range(max(0, x0), min(len(img[0]), x1)):
            img[y][x] = colour


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


# A 5 x 7 block font, enough for the splash's words.
FONT = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "F": ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    "G": ["01110", "10001", "10000", "10111", "10001", "10001", "01111"],
    "I": ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    "J": ["00111", "00010", "00010", "00010", "00010", "10010", "01100"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "W": ["10001", "10001", "10001", "10101", "10101", "10101", "01010"],
    " ": ["00000"] * 7,
}


def text_width(text, scale):
    return len(text) * 6 * scale - scale


def text(img, x, y, words, scale, colour, shadow=None):
    for ch in words:
        glyph = FONT[ch]
        for gy, row in enumerate(glyph):
            for gx, bit in enumerate(row):
                if bit == "1":
                    if shadow:
                        rect(img, x + gx * scale + 2, y + gy * scale + 2,
                             x + (gx + 1) * scale + 2, y + (gy + 1) * scale + 2, shadow)
                    rect(img, x + gx * scale, y + gy * scale,
                         x + (gx + 1) * scale, y + (gy + 1) * scale, colour)
        x += 6 * scale


BLUE = (31, 87, 168)
ORANGE = (242, 140, 40)
WHITE = (255, 255, 255)
GREY = (120, 128, 140)
LIGHT = (214, 226, 244)


def page(img, x, y, w, h, fold, lines=True):
    """A sheet of paper with a folded top-right corner and lines of text."""
    for yy in range(h):
        for xx in range(w):
            inside_fold = xx >= w - fold and yy < fold - (w - 1 - xx)
            if inside_fold:
                continue
            edge = xx in (0, w - 1) or yy in (0, h - 1) or (xx >= w - fold and yy == fold - (w - 1 - xx))
            img[y + yy][x + xx] = GREY if edge else WHITE
    for i in range(fold):  # the fold itself
        for j in range(i + 1):
            img[y + i][x + w - fold + j] = LIGHT if j < i else GREY
    if lines:
        step = max(2, h // 8)
        for yy in range(y + fold + step // 2, y + h - step, step):
            rect(img, x + max(2, w // 8), yy, x + w - max(2, w // 8), yy + max(1, h // 24), BLUE)


def arrow_up(img, cx, top, size, colour):
    """A solid arrow pointing up: the page being lifted out."""
    head = size // 2
    for i in range(head):
        rect(img, cx - i, top + i, cx + i + 1, top + i + 1, colour)
    rect(img, cx - size // 5, top + head, cx + size // 5 + 1, top + size, colour)


def make_icon():
    img = canvas(32, 32, BLUE)
    for y in range(32):  # a soft vertical gradient behind the page
        for x in range(32):
            img[y][x] = mix((52, 120, 210), (20, 60, 130), y / 31)
    page(img, 5, 3, 17, 23, 6)
    arrow_up(img, 23, 12, 17, ORANGE)
    png(os.path.join(HERE, "pagelift.png"), 32, 32, img)


def make_splash():
    width, height = 300, 200
    img = canvas(width, height, WHITE)
    for y in range(150):
        for x in range(width):
            img[y][x] = mix((36, 96, 180), (96, 160, 230), y / 149)
    # Three pages fanned out, the front one being lifted.
    page(img, 14, 36, 40, 56, 11)
    page(img, 24, 28, 40, 56, 11)
    page(img, 34, 20, 40, 56, 11)
    arrow_up(img, 74, 64, 34, ORANGE)
    title = "PAGELIFT"
    text(img, 100, 38, title, 4, WHITE, shadow=(20, 50, 110))
    sub = "WORD PAGES TO JPEG"
    text(img, (width - text_width(sub, 2)) // 2, 116, sub, 2, (255, 236, 200))
    # A thin orange rule between the banner and the white foot.
    rect(img, 0, 150, width, 153, ORANGE)
    text(img, (width - text_width("ONE JPEG PER PAGE", 2)) // 2, 164, "ONE JPEG PER PAGE", 2, GREY)
    png(os.path.join(HERE, "splash", "pagelift-splash.png"), width, height, img)


# The hand: "#" outline, "." fill, " " transparent. The fingertip is the hotspot.
HAND = [
    "     ##         ",
    "    #..#        ",
    "    #..#        ",
    "    #..#        ",
    "    #..#        ",
    "    #..###      ",
    "    #..#..###   ",
    "    #..#..#..## ",
    " ## #..#..#..#.#",
    "#..##........#.#",
    "#...#..........#",
    " #..#..........#",
    "  #............#",
    "  #............#",
    "   #...........#",
    "   #..........# ",
    "    #.........# ",
    "    #........#  ",
    "     #.......#  ",
    "     #.......#  ",
    "     #########  ",
]
HOTSPOT = (5, 0)


def make_cursor():
    size = 32
    ox, oy = 0, 0
    pixels = [[None] * size for _ in range(size)]  # None: transparent
    for y, row in enumerate(HAND):
        for x, c in enumerate(row):
            if c == "#":
                pixels[oy + y][ox + x] = (0, 0, 0)
            elif c == ".":
                pixels[oy + y][ox + x] = (255, 255, 255)
    # 32-bit BGRA picture, bottom-up, then the 1-bit AND mask (1 = transparent).
    colour = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):
        bits = 0
        row_mask = bytearray()
        for x in range(size):
            p = pixels[y][x]
            if p is None:
                colour.extend((0, 0, 0, 0))
                bits = (bits << 1) | 1
            else:
                colour.extend((p[2], p[1], p[0], 255))
                bits <<= 1
            if x % 8 == 7:
                row_mask.append(bits)
                bits = 0
        mask.extend(row_mask)
    dib = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(colour) + len(mask),
                      0, 0, 0, 0) + colour + mask
    header = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, HOTSPOT[0] + ox, HOTSPOT[1] + oy,
                        len(dib), 6 + 16)
    with open(os.path.join(HERE, "HAND-M.CUR"), "wb") as f:
        f.write(header + entry + dib)


if __name__ == "__main__":
    os.makedirs(os.path.join(HERE, "splash"), exist_ok=True)
    make_icon()
    make_splash()
    make_cursor()
