#!/usr/bin/env python3
"""Draws Pagelift's resources: the application icon (scalable and at every size
the desktop asks for), the splash picture and the hand cursor. Standard library
only; run it from anywhere, it writes beside itself."""

import math
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


# The application icon as shapes on a 256-unit square: polygons, each filled with one
# colour or with the background's vertical gradient. The same shapes are written as
# the scalable SVG and drawn into the PNGs of every size, so all sizes agree.
ICON_SIZES = (16, 32, 48, 64, 128, 256)
GRADIENT = ((52, 120, 210), (20, 60, 130))
DARK_ORANGE = (190, 100, 20)


def rounded_square(x0, y0, x1, y1, r, steps=8):
    points = []
    corners = ((x1 - r, y0 + r, -90), (x1 - r, y1 - r, 0), (x0 + r, y1 - r, 90), (x0 + r, y0 + r, 180))
    for cx, cy, start in corners:
        for i in range(steps + 1):
            a = math.radians(start + 90 * i / steps)
            points.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return points


def icon_shapes():
    """(points, colour) in painting order; colour None is the background gradient."""
    page = [(48, 36), (150, 36), (186, 72), (186, 220), (48, 220)]
    inner = [(54, 42), (147, 42), (180, 75), (180, 214), (54, 214)]
    shapes = [(rounded_square(16, 16, 240, 240, 40), None), (page, GREY), (inner, WHITE),
              ([(150, 36), (150, 72), (186, 72)], GREY), ([(154, 46), (154, 68), (176, 68)], LIGHT)]
    for y in range(96, 200, 24):
        shapes.append(([(72, y), (162, y), (162, y + 10), (72, y + 10)], BLUE))
    arrow = [(188, 92), (240, 150), (212, 150), (212, 230), (164, 230), (164, 150), (136, 150)]
    inner_arrow = [(188, 102), (229, 145), (206, 145), (206, 224), (170, 224), (170, 145), (147, 145)]
    shapes += [(arrow, DARK_ORANGE), (inner_arrow, ORANGE)]
    return shapes


def gradient_at(y):
    return mix(GRADIENT[0], GRADIENT[1], min(1.0, max(0.0, (y - 16) / 224)))


def write_icon_svg(path, shapes):
    top, bottom = ("#%02x%02x%02x" % c for c in GRADIENT)
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">',
           '<defs><linearGradient id="sky" x1="0" y1="16" x2="0" y2="240" gradientUnits="userSpaceOnUse">'
           f'<stop offset="0" stop-color="{top}"/><stop offset="1" stop-color="{bottom}"/>'
           '</linearGradient></defs>']
    for points, colour in shapes:
        fill = "url(#sky)" if colour is None else "#%02x%02x%02x" % colour
        coords = " ".join(f"{x:g},{y:g}" for x, y in ((round(x, 2), round(y, 2)) for x, y in points))
        out.append(f'<polygon fill="{fill}" points="{coords}"/>')
    out.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


def draw_icon(size, shapes):
    """The shapes filled on a grid of samples (even-odd scanlines), then each pixel
    the average of its samples, with transparency where no shape covers them."""
    ss = max(4, 64 // size)
    n = size * ss
    scale = n / 256
    samples = [[None] * n for _ in range(n)]
    for points, colour in shapes:
        edges = list(zip(points, points[1:] + points[:1]))
        for j in range(n):
            y = (j + 0.5) / scale
            xs = sorted(x0 + (y - y0) * (x1 - x0) / (y1 - y0)
                        for (x0, y0), (x1, y1) in edges if (y0 <= y) != (y1 <= y))
            fill = gradient_at(y) if colour is None else colour
            row = samples[j]
            for a, b in zip(xs[::2], xs[1::2]):
                i0, i1 = max(0, math.ceil(a * scale - 0.5)), min(n, math.ceil(b * scale - 0.5))
                if i1 > i0:
                    row[i0:i1] = [fill] * (i1 - i0)
    pixels = []
    for py in range(size):
        out = []
        for px in range(size):
            total, r, g, b = 0, 0, 0, 0
            for row in samples[py * ss:(py + 1) * ss]:
                for c in row[px * ss:(px + 1) * ss]:
                    if c is not None:
                        total += 1
                        r, g, b = r + c[0], g + c[1], b + c[2]
            if total:
                out.append((r // total, g // total, b // total, 255 * total // (ss * ss)))
            else:
                out.append((0, 0, 0, 0))
        pixels.append(out)
    return pixels


def make_icons():
    shapes = icon_shapes()
    folder = os.path.join(HERE, "icons")
    os.makedirs(folder, exist_ok=True)
    write_icon_svg(os.path.join(folder, "pagelift.svg"), shapes)
    for size in ICON_SIZES:
        sized = os.path.join(folder, f"{size}x{size}")
        os.makedirs(sized, exist_ok=True)
        png(os.path.join(sized, "pagelift.png"), size, size, draw_icon(size, shapes), alpha=True)


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
    make_icons()
    make_splash()
    make_cursor()
