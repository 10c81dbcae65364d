#!/usr/bin/env python3
"""Makes reference/<name>.png for every good/ and questionable/ WebP file with
libwebp's own tools (Debian's webp package: dwebp, webpmux), so that the
reader's tests compare with the library's decoder rather than with themselves.

- A still picture: `dwebp -pam` (straight R, G, B, A), written as an RGBA PNG.
- An animation: its first frame taken out with `webpmux -get frame 1`, decoded
  with dwebp and placed at its offset (`webpmux -info`) on a canvas that is
  transparent black elsewhere, as libwebp's animation decoder leaves it.
- An EXIF orientation (the pil_hopper_orientation_N files, whose N is in the
  name): libwebp ignores it, so the decoded picture is turned here as a JPEG's
  orientation turns it, with the plain formulas below.

Run from this folder: python3 make_references.py
"""
import pathlib
import re
import struct
import subprocess
import tempfile
import zlib


def read_pam(path):
    data = pathlib.Path(path).read_bytes()
    header_end = data.index(b"ENDHDR\n") + len(b"ENDHDR\n")
    fields = dict(line.split(b" ", 1) for line in data[:header_end].split(b"\n")[1:-2])
    width, height, depth = int(fields[b"WIDTH"]), int(fields[b"HEIGHT"]), int(fields[b"DEPTH"])
    assert depth == 4 and int(fields[b"MAXVAL"]) == 255
    pixels = data[header_end:]
    rows = [[tuple(pixels[(y * width + x) * 4:(y * width + x) * 4 + 4]) for x in range(width)] for y in range(height)]
    return width, height, rows


def write_png(path, width, height, rows):
    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel) for row in rows)

    def chunk(tag, body):
        return struct.pack(">I", len(body)) + tag + body + struct.pack(">I", zlib.crc32(tag + body))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    pathlib.Path(path).write_bytes(png)


def decode(path, scratch):
    out = pathlib.Path(scratch) / "out.pam"
    subprocess.run(["dwebp", "-quiet", "-pam", str(path), "-o", str(out)], check=True)
    return read_pam(out)


def first_frame(path, scratch):
    head = pathlib.Path(path).read_bytes()[:21]
    if head[12:16] != b"VP8X" or not head[20] & 0x02:  # not an animation
        return None
    info = subprocess.run(["webpmux", "-info", str(path)], check=True, capture_output=True, text=True).stdout
    canvas = re.search(r"Canvas size: (\d+) x (\d+)", info)
    width, height = int(canvas.group(1)), int(canvas.group(2))
    row = re.search(r"^\s*1:\s+(\d+)\s+(\d+)\s+\w+\s+(\d+)\s+(\d+)", info, re.M)
    x0, y0 = int(row.group(3)), int(row.group(4))
    frame = pathlib.Path(scratch) / "frame.webp"
    subprocess.run(["webpmux", "-get", "frame", "1", str(path), "-o", str(frame)], check=True, capture_output=True)
    fw, fh, pixels = decode(frame, scratch)
    rows = [[(0, 0, 0, 0)] * width for _ in range(height)]
    for y in range(fh):
        rows[y0 + y][x0:x0 + fw] = pixels[y]
    return width, height, rows


# Where stored pixel (x, y) of a w x h picture lands upright (EXIF orientation).
def upright(orientation, width, height, rows):
    turned = orientation >= 5
    out_w, out_h = (height, width) if turned else (width, height)
    out = [[None] * out_w for _ in range(out_h)]
    place = {
        1: lambda x, y: (x, y),
        2: lambda x, y: (width - 1 - x, y),
        3: lambda x, y: (width - 1 - x, height - 1 - y),
        4: lambda x, y: (x, height - 1 - y),
        5: lambda x, y: (y, x),
        6: lambda x, y: (height - 1 - y, x),
        7: lambda x, y: (height - 1 - y, width - 1 - x),
        8: lambda x, y: (y, width - 1 - x),
    }[orientation]
    for y in range(height):
        for x in range(width):
            ux, uy = place(x, y)
            out[uy][ux] = rows[y][x]
    return out_w, out_h, out


def main():
    here = pathlib.Path(__file__).resolve().parent
    (here / "reference").mkdir(exist_ok=True)
    with tempfile.TemporaryDirectory() as scratch:
        for path in sorted(list((here / "good").glob("*.webp")) + list((here / "questionable").glob("*.webp"))):
            picture = first_frame(path, scratch) or decode(path, scratch)
            turn = re.search(r"_orientation_(\d)", path.name)
            if turn:
                picture = upright(int(turn.group(1)), *picture)
            write_png(here / "reference" / (path.stem + ".png"), *picture)


if __name__ == "__main__":
    main()
