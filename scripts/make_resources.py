#!/usr/bin/env python3
"""Makes the program's own embedded resources under resources/.

  resources/icons/*.ico   the nine menu icons (Windows ICO containers with
                          BMP entries at 4, 8 and 32 bits per pixel)
  resources/logo.png      the 275 x 47 logo
  resources/chime.wav     the completion cue: 2 channels, 22050 Hz, 16 bits
  resources/hicolor/*/pixmoor.png
                          the desktop icon in the hicolor sizes desktops
                          ask for, 16 x 16 to 256 x 256

Plain python3 (struct, zlib, math): no image library. The output is fixed
for a given version of this script, so rerunning it changes nothing.
Run from anywhere: python3 scripts/make_resources.py
"""
import math
import os
import struct
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "resources")

# ---------------------------------------------------------------- pictures
# A picture is a function (x, y, size) -> (r, g, b, a) with x, y in 0..size-1.


def inside_circle(x, y, size, radius_fraction=0.45):
    c = (size - 1) / 2.0
    return (x - c) ** 2 + (y - c) ** 2 <= (size * radius_fraction) ** 2


def info_icon(x, y, s):
    if not inside_circle(x, y, s):
        return (0, 0, 0, 0)
    u, v = x / s, y / s
    if 0.44 <= u <= 0.56 and (0.22 <= v <= 0.32 or 0.40 <= v <= 0.78):
        return (255, 255, 255, 255)
    return (30, 90, 200, 255)


def heart_icon(x, y, s):
    u = (x + 0.5) / s * 2.4 - 1.2
    v = 1.1 - (y + 0.5) / s * 2.4
    if (u * u + v * v - 1) ** 3 - u * u * v ** 3 <= 0:
        return (220, 30, 60, 255)
    return (0, 0, 0, 0)


def update_icon(x, y, s):
    c = (s - 1) / 2.0
    d = math.hypot(x - c, y - c) / s
    if 0.25 <= d <= 0.45:
        angle = math.atan2(y - c, x - c)
        if not (-0.6 < angle < 0.1):
            return (20, 160, 60, 255)
    if (s * 0.55 <= x <= s * 0.95) and (s * 0.35 <= y <= s * 0.55) and (x - s * 0.55) >= (y - s * 0.35) * 0.5:
        return (20, 160, 60, 255)
    return (0, 0, 0, 0)


def globe_icon(x, y, s):
    if not inside_circle(x, y, s):
        return (0, 0, 0, 0)
    c = (s - 1) / 2.0
    line = max(1.0, s / 16.0)
    if abs(x - c) < line / 2 + 0.01 or abs(y - c) < line / 2 + 0.01:
        return (240, 240, 240, 255)
    if abs(math.hypot((x - c) * 2.2, y - c) - s * 0.45) < line:
        return (240, 240, 240, 255)
    return (40, 120, 210, 255)


def vertical_tricolour(colours):
    def draw(x, y, s):
        if y < s * 0.15 or y >= s * 0.85:
            return (0, 0, 0, 0)
        return colours[min(2, x * 3 // s)] + (255,)
    return draw


def horizontal_bands(colours, weights):
    total = sum(weights)

    def draw(x, y, s):
        if y < s * 0.15 or y >= s * 0.85:
            return (0, 0, 0, 0)
        v = (y - s * 0.15) / (s * 0.7) * total
        acc = 0
        for colour, weight in zip(colours, weights):
            acc += weight
            if v < acc:
                return colour + (255,)
        return colours[-1] + (255,)
    return draw


def cross_flag(x, y, s):
    if y < s * 0.15 or y >= s * 0.85:
        return (0, 0, 0, 0)
    c = (s - 1) / 2.0
    if abs(x - c) < s * 0.07 or abs(y - c) < s * 0.07:
        return (200, 16, 46, 255)
    if abs(x - c) < s * 0.14 or abs(y - c) < s * 0.14:
        return (255, 255, 255, 255)
    return (1, 33, 105, 255)


def desktop_icon(x, y, s):
    u, v = x / s, y / s
    if 0.08 <= u <= 0.92 and 0.12 <= v <= 0.70:
        if 0.14 <= u <= 0.86 and 0.18 <= v <= 0.64:
            return (90, 170, 240, 255)
        return (60, 60, 60, 255)
    if 0.44 <= u <= 0.56 and 0.70 < v <= 0.82:
        return (60, 60, 60, 255)
    if 0.28 <= u <= 0.72 and 0.82 < v <= 0.90:
        return (60, 60, 60, 255)
    return (0, 0, 0, 0)


# ---------------------------------------------------------------- ICO files

VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def palette256():
    colours = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    colours += [(i * 255 // 39, i * 255 // 39, i * 255 // 39) for i in range(40)]
    return colours[:256]


def nearest(palette, rgb):
    best, best_d = 0, None
    for i, p in enumerate(palette):
        d = sum((a - b) ** 2 for a, b in zip(p, rgb))
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def row_bytes(width, bits):
    return ((width * bits + 31) // 32) * 4


def bmp_entry(draw, size, bits):
    """One icon entry: BITMAPINFOHEADER (height doubled), palette, XOR rows
    bottom-up, AND mask rows bottom-up."""
    pixels = [[draw(x, y, size) for x in range(size)] for y in range(size)]
    palette = VGA16 if bits == 4 else palette256() if bits == 8 else []
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0,
                         len(palette), 0)
    pal = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in palette)
    xor = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytearray()
        if bits == 32:
            for (r, g, b, a) in pixels[y]:
                row += bytes((b, g, r, a)) if a else bytes(4)
        elif bits == 8:
            for (r, g, b, a) in pixels[y]:
                row.append(nearest(palette, (r, g, b)) if a else 0)
        else:
            indices = [nearest(palette, (r, g, b)) if a else 0 for (r, g, b, a) in pixels[y]]
            for i in range(0, size, 2):
                row.append(indices[i] << 4 | indices[i + 1])
        row += bytes(row_bytes(size, bits) - len(row))
        xor += row
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytearray(row_bytes(size, 1))
        for x, (_, _, _, a) in enumerate(pixels[y]):
            if not a:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    return header + pal + bytes(xor) + bytes(mask)


def ico_file(draw, entries):
    blobs = [(size, bits, bmp_entry(draw, size, bits)) for size, bits in entries]
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for size, bits, blob in blobs:
        colours = 16 if bits == 4 else 0
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blob for _, _, blob in blobs)


FIVE = [(16, 4), (32, 4), (48, 4), (16, 8), (16, 32)]
NINE = [(16, 4), (32, 4), (48, 4), (16, 8), (32, 8), (48, 8), (16, 32), (32, 32), (48, 32)]
SEVEN = [(16, 4), (32, 4), (48, 4), (16, 8), (32, 8), (16, 32), (32, 32)]

ICONS = [
    ("information.ico", info_icon, FIVE, 5278),
    ("donate.ico", heart_icon, FIVE, 5278),
    ("update.ico", update_icon, FIVE, 5278),
    ("visit.ico", globe_icon, FIVE, 5278),
    ("french.ico", vertical_tricolour([(0, 35, 149), (255, 255, 255), (237, 41, 57)]), NINE, 25214),
    ("english.ico", cross_flag, NINE, 25214),
    ("dutch.ico", horizontal_bands([(0, 0, 0), (221, 0, 0), (255, 206, 0)], [1, 1, 1]), NINE, 25214),
    ("spanish.ico", horizontal_bands([(170, 21, 27), (241, 191, 0), (170, 21, 27)], [1, 2, 1]), NINE, 25214),
    ("desktop.ico", desktop_icon, SEVEN, 11790),
]

# ---------------------------------------------------------------- PNG files


def png_file(width, height, rgba_rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    raw = b"".join(b"\x00" + bytes(row) for row in rgba_rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


GLYPHS = {
    "P": ["1110", "1001", "1001", "1110", "1000", "1000", "1000"],
    "I": ["111", "010", "010", "010", "010", "010", "111"],
    "X": ["10001", "10001", "01010", "00100", "01010", "10001", "10001"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["1110", "1001", "1001", "1110", "1010", "1001", "1001"],
    "2": ["0110", "1001", "0001", "0010", "0100", "1000", "1111"],
    "0": ["0110", "1001", "1001", "1001", "1001", "1001", "0110"],
    "1": ["010", "110", "010", "010", "010", "010", "111"],
    " ": ["00", "00", "00", "00", "00", "00", "00"],
}


def text_mask(text, scale):
    columns = []
    for ch in text:
        glyph = GLYPHS[ch]
        for c in range(len(glyph[0])):
            columns.append([glyph[r][c] == "1" for r in range(7)])
        columns.append([False] * 7)
    width = len(columns) * scale
    return width, 7 * scale, lambda x, y: columns[x // scale][y // scale]


def logo_png():
    w, h = 275, 47
    big_w, big_h, big = text_mask("PIXMOOR", 4)
    small_w, small_h, small = text_mask("2011", 2)
    bx, by = 14, (h - big_h) // 2
    sx, sy = bx + big_w + 10, by + big_h - small_h
    rows = []
    for y in range(h):
        row = bytearray()
        for x in range(w):
            t = y / (h - 1)
            r, g, b = int(250 - 40 * t), int(215 - 60 * t), int(95 - 50 * t)
            if y in (0, h - 1) or x in (0, w - 1):
                r, g, b = 60, 40, 10
            if bx <= x < bx + big_w and by <= y < by + big_h and big(x - bx, y - by):
                r, g, b = 40, 30, 20
            elif bx + 2 <= x < bx + big_w + 2 and by + 2 <= y < by + big_h + 2 and big(x - bx - 2, y - by - 2):
                r, g, b = 255, 246, 200
            if sx <= x < sx + small_w and sy <= y < sy + small_h and small(x - sx, y - sy):
                r, g, b = 160, 20, 20
            row += bytes((r, g, b, 255))
        rows.append(row)
    return png_file(w, h, rows)


ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def app_icon_png(s):
    rows = []
    for y in range(s):
        row = bytearray()
        for x in range(s):
            u, v = x / s, y / s
            if 0.06 <= u <= 0.94 and 0.14 <= v <= 0.86:
                if 0.12 <= u <= 0.88 and 0.20 <= v <= 0.80:
                    sun = (u - 0.68) ** 2 + (v - 0.36) ** 2 < 0.008
                    hill = v > 0.62 - 0.25 * math.sin(u * 3.0)
                    colour = (250, 215, 95) if sun else (60, 140, 60) if hill else (120, 180, 240)
                else:
                    colour = (250, 215, 95)
                row += bytes(colour + (255,))
            else:
                row += bytes(4)
        rows.append(row)
    return png_file(s, s, rows)


# ---------------------------------------------------------------- the chime


def chime_wav():
    rate, frames = 22050, 13921  # 55,684 bytes of 16-bit stereo samples
    samples = bytearray()
    for n in range(frames):
        t = n / rate
        envelope = math.exp(-t * 7.0) * min(1.0, n / 60.0) * min(1.0, (frames - n) / 200.0)
        tone = 0.55 * math.sin(2 * math.pi * 1318.5 * t) + 0.35 * math.sin(2 * math.pi * 1975.5 * t)
        if t > 0.09:
            tone += 0.45 * math.sin(2 * math.pi * 1760.0 * (t - 0.09)) * math.exp(-(t - 0.09) * 5.0)
        left = int(max(-1.0, min(1.0, tone * envelope * 0.6)) * 32767)
        right = int(max(-1.0, min(1.0, tone * envelope * 0.55)) * 32767)
        samples += struct.pack("<hh", left, right)
    fmt = struct.pack("<HHIIHH", 1, 2, rate, rate * 4, 4, 16)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(samples)) + bytes(samples)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    for name, draw, entries, expected in ICONS:
        data = ico_file(draw, entries)
        assert len(data) == expected, (name, len(data), expected)
        write(os.path.join(ROOT, "icons", name), data)
    write(os.path.join(ROOT, "logo.png"), logo_png())
    for size in ICON_SIZES:
        write(os.path.join(ROOT, "hicolor", "%dx%d" % (size, size), "pixmoor.png"), app_icon_png(size))
    write(os.path.join(ROOT, "chime.wav"), chime_wav())


if __name__ == "__main__":
    main()
