#!/usr/bin/env python3
"""Draws the project's icons and writes them as multi-size .ico files.

Each design is a list of layers (shape, colour) in a unit square, painted in
order; every size is rendered from the same shapes with supersampling, so the
small sizes stay crisp without hand-made bitmaps.

usage: mkicon.py DESIGN OUT.ico [SIZE ...]
"""
import math
import struct
import sys
import zlib

# ---------------------------------------------------------------- shapes
# A shape is a function (x, y) -> bool over the unit square, y pointing down.


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_out, r_in):
    return lambda x, y: r_in * r_in <= (x - cx) ** 2 + (y - cy) ** 2 <= r_out * r_out


def arc(cx, cy, r_out, r_in, a_from, a_to):
    """Part of a ring between two angles (degrees, 0 = right, counter-clockwise)."""
    def inside(x, y):
        d = (x - cx) ** 2 + (y - cy) ** 2
        if not r_in * r_in <= d <= r_out * r_out:
            return False
        a = math.degrees(math.atan2(cy - y, x - cx)) % 360
        return a_from <= a <= a_to
    return inside


def polygon(points):
    def inside(x, y):
        result = False
        n = len(points)
        for i in range(n):
            (xa, ya), (xb, yb) = points[i], points[(i + 1) % n]
            if (ya > y) != (yb > y) and x < (xb - xa) * (y - ya) / (yb - ya) + xa:
                result = not result
        return result
    return inside


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


# ---------------------------------------------------------------- designs
# Colours are (r, g, b, a) with 0-255 components.

def design_mivo():
    """The support library: a slate tile with a white toolbox ring and bolt."""
    slate = (52, 73, 94, 255)
    white = (255, 255, 255, 255)
    amber = (243, 156, 18, 255)
    return [
        (rounded_rect(0.04, 0.04, 0.96, 0.96, 0.18), slate),
        (ring(0.5, 0.5, 0.36, 0.25), white),
        (polygon([(0.55, 0.18), (0.34, 0.54), (0.49, 0.54), (0.44, 0.82),
                  (0.66, 0.44), (0.51, 0.44)]), amber),
    ]


def design_orvantis():
    """The player: a deep-blue tile with a white aerial dot sending out waves."""
    blue = (23, 78, 140, 255)
    white = (255, 255, 255, 255)
    sky = (120, 190, 255, 255)
    return [
        (rounded_rect(0.04, 0.04, 0.96, 0.96, 0.2), blue),
        (arc(0.36, 0.64, 0.56, 0.47, 0, 90), sky),
        (arc(0.36, 0.64, 0.41, 0.32, 0, 90), white),
        (arc(0.36, 0.64, 0.26, 0.17, 0, 90), white),
        (circle(0.36, 0.64, 0.09), white),
    ]


def play_triangle(colour):
    return [(polygon([(0.25, 0.15), (0.85, 0.5), (0.25, 0.85)]), colour)]


def stop_square(colour):
    return [(rounded_rect(0.2, 0.2, 0.8, 0.8, 0.06), colour)]


def design_play():
    """Play button image: a green triangle."""
    return play_triangle((39, 150, 68, 255))


def design_stop():
    """Stop button image: a dark red square."""
    return stop_square((192, 46, 42, 255))


def design_thumb_play():
    """Taskbar thumbnail play button: light, to stand out on a dark taskbar."""
    return play_triangle((235, 245, 255, 255))


def design_thumb_stop():
    """Taskbar thumbnail stop button."""
    return stop_square((235, 245, 255, 255))


def design_overlay_playing():
    """Taskbar overlay while playing: a green disc with a white triangle."""
    return [
        (circle(0.5, 0.5, 0.48), (39, 150, 68, 255)),
        (polygon([(0.38, 0.27), (0.75, 0.5), (0.38, 0.73)]), (255, 255, 255, 255)),
    ]


def design_overlay_connecting():
    """Taskbar overlay while connecting: an amber disc with three white dots."""
    white = (255, 255, 255, 255)
    return [
        (circle(0.5, 0.5, 0.48), (230, 140, 20, 255)),
        (circle(0.26, 0.5, 0.085), white),
        (circle(0.5, 0.5, 0.085), white),
        (circle(0.74, 0.5, 0.085), white),
    ]


DESIGNS = {
    "mivo": design_mivo,
    "orvantis": design_orvantis,
    "play": design_play,
    "stop": design_stop,
    "thumb_play": design_thumb_play,
    "thumb_stop": design_thumb_stop,
    "overlay_playing": design_overlay_playing,
    "overlay_connecting": design_overlay_connecting,
}

DEFAULT_SIZES = (16, 24, 32, 48, 256)


# ---------------------------------------------------------------- rendering

def render(layers, size):
    """RGBA rows, top first, with 4x4 supersampling below 64 px and 2x2 above."""
    ss = 4 if size < 64 else 2
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(ss):
                y = (py + (sy + 0.5) / ss) / size
                for sx in range(ss):
                    x = (px + (sx + 0.5) / ss) / size
                    colour = None
                    for shape, c in layers:
                        if shape(x, y):
                            colour = c
                    if colour is not None:
                        a = colour[3] / 255.0
                        acc[0] += colour[0] * a
                        acc[1] += colour[1] * a
                        acc[2] += colour[2] * a
                        acc[3] += a
            n = ss * ss
            alpha = acc[3] / n
            if alpha > 0:
                rgb = [min(255, int(round(acc[i] / acc[3]))) for i in range(3)]
            else:
                rgb = [0, 0, 0]
            row += bytes((rgb[0], rgb[1], rgb[2], int(round(alpha * 255))))
        rows.append(bytes(row))
    return rows


def bmp_entry(rows, size):
    """32-bit DIB with an AND mask, as icons of up to 48 px are stored."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        for i in range(0, len(row), 4):
            r, g, b, a = row[i:i + 4]
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x in range(size):
            if row[x * 4 + 3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(pixels) + bytes(mask)


def png_entry(rows, size):
    raw = b"".join(b"\x00" + row for row in rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def write_ico(path, layers, sizes):
    images = []
    for size in sizes:
        rows = render(layers, size)
        images.append((size, png_entry(rows, size) if size >= 256 else bmp_entry(rows, size)))
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


def main(argv):
    if len(argv) < 3 or argv[1] not in DESIGNS:
        sys.stderr.write("usage: mkicon.py DESIGN OUT.ico [SIZE ...]\ndesigns: %s\n"
                         % ", ".join(sorted(DESIGNS)))
        return 2
    sizes = tuple(int(s) for s in argv[3:]) or DEFAULT_SIZES
    write_ico(argv[2], DESIGNS[argv[1]](), sizes)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
