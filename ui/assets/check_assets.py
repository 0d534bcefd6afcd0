#!/usr/bin/env python3
"""Checks Kestrine's window pictures and icon: formats, sizes, that light text
stays readable on the backgrounds, and (with --generator) that two runs of the
generator give the same bytes.

    check_assets.py [--generator PATH] ASSET-DIR
"""
import argparse
import filecmp
import struct
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path

PICTURES = {  # name: (width, height, colour type 2 = RGB, 6 = RGBA)
    "form1.png": (443, 320, 2),
    "complete.png": (400, 200, 2),
    "loading.png": (394, 67, 2),
    "import.png": (54, 20, 6),
    "cancel.png": (54, 20, 6),
    "done.png": (54, 20, 6),
}
ICON_ENTRIES = {(48, 8), (32, 8), (16, 8), (48, 32), (32, 32), (16, 32)}
BITMAPS = {name[:-4] + ".bmp": name for name in PICTURES}  # the Windows resources
ALL_FILES = sorted(PICTURES) + sorted(BITMAPS) + ["kestrine.ico"]


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def read_png(path):
    """Returns (width, height, colour type, rows of (r, g, b, a))."""
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", f"{path.name}: not a PNG"
    pos, chunks = 8, {}
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        crc, = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        assert zlib.crc32(kind + body) == crc, f"{path.name}: bad CRC in {kind}"
        chunks.setdefault(kind, []).append(body)
        pos += 12 + length
    w, h, depth, ctype, _, _, interlace = struct.unpack(">IIBBBBB", chunks[b"IHDR"][0])
    assert depth == 8 and interlace == 0 and ctype in (2, 6), f"{path.name}: unexpected format"
    bpp = 3 if ctype == 2 else 4
    raw = zlib.decompress(b"".join(chunks[b"IDAT"]))
    assert len(raw) == h * (1 + w * bpp), f"{path.name}: pixel data has the wrong length"
    rows, prev, step = [], bytearray(w * bpp), 1 + w * bpp
    for y in range(h):
        kind, line = raw[y * step], bytearray(raw[y * step + 1:(y + 1) * step])
        for i in range(len(line)):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            pred = (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]
            line[i] = (line[i] + pred) & 0xFF
        rows.append([tuple(line[x * bpp:x * bpp + 3]) + ((line[x * bpp + 3],) if bpp == 4 else (255,))
                     for x in range(w)])
        prev = line
    return w, h, ctype, rows


def read_bmp(path):
    """Returns (width, height, rows of (r, g, b, a)) of a 24- or 32-bit BI_RGB file."""
    data = path.read_bytes()
    magic, size, _, offset = struct.unpack("<2sIII", data[:14])
    assert magic == b"BM" and size == len(data), f"{path.name}: not a BMP"
    hsize, w, h, planes, bits, compression = struct.unpack("<IiiHHI", data[14:34])
    assert (hsize, planes, compression) == (40, 1, 0) and bits in (24, 32) and h > 0, \
        f"{path.name}: unexpected format"
    bpp, stride = bits // 8, (w * bits + 31) // 32 * 4
    assert offset + stride * h == len(data), f"{path.name}: pixel data has the wrong length"
    rows = []
    for y in range(h - 1, -1, -1):  # bottom-up
        line = data[offset + y * stride:offset + y * stride + w * bpp]
        rows.append([(line[x * bpp + 2], line[x * bpp + 1], line[x * bpp],
                      line[x * bpp + 3] if bpp == 4 else 255) for x in range(w)])
    return w, h, rows


def check_bitmaps(folder):
    """The BMP copies hold the PNGs' pixels; see-through pixels keep their alpha."""
    for bmp, png in BITMAPS.items():
        _, _, ctype, png_rows = read_png(folder / png)
        _, _, bmp_rows = read_bmp(folder / bmp)
        if ctype == 2:
            assert (folder / bmp).read_bytes()[28] == 24, f"{bmp}: opaque picture not in 24 bits"
        assert bmp_rows == png_rows, f"{bmp}: pixels differ from {png}"


def luminance(rgb):
    def lin(v):
        v /= 255
        return v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4
    r, g, b = (lin(v) for v in rgb[:3])
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def min_white_contrast(rows, x0, y0, x1, y1):
    return min(1.05 / (luminance(p) + 0.05) for row in rows[y0:y1] for p in row[x0:x1])


def check_pictures(folder):
    px = {}
    for name, (w, h, ctype) in PICTURES.items():
        pw, ph, pctype, rows = read_png(folder / name)
        assert (pw, ph, pctype) == (w, h, ctype), f"{name}: {pw}x{ph} type {pctype}"
        px[name] = rows

    # White labels at the top left (under the glint of row 0) and light text
    # in the lists of the main window; the completion window's visible part;
    # the progress bar under its rim.
    for name, area in (("form1.png", (0, 2, 443, 30)), ("form1.png", (0, 56, 443, 281)),
                       ("complete.png", (0, 2, 393, 82)), ("loading.png", (0, 3, 394, 67))):
        contrast = min_white_contrast(px[name], *area)
        assert contrast >= 4.5, f"{name}: white text on {area} has contrast {contrast:.1f} only"

    for name in ("form1.png", "complete.png"):
        rows = px[name]
        top = sum(luminance(p) for p in rows[8])
        below = sum(luminance(p) for p in rows[len(rows) // 2 if name == "form1.png" else 70])
        assert top > 1.5 * below, f"{name}: no lighter band along the top"

    bar = px["loading.png"]
    assert luminance(bar[0][100]) > 2 * luminance(bar[30][100]), "loading.png: no rim on top"
    assert len(set(bar[30])) > 4, "loading.png: no texture"

    for name in ("import.png", "cancel.png", "done.png"):
        rows = px[name]
        assert rows[0][0][3] < 128 and rows[10][27][3] == 255, f"{name}: not a rounded face"
        caption = [p for row in rows[4:16] for p in row[10:44] if min(p[:3]) > 230]
        assert len(caption) >= 15, f"{name}: no white caption"
        assert rows[3][27][2] > rows[3][27][0] + 60, f"{name}: face is not blue"


def check_icon(path):
    data = path.read_bytes()
    reserved, kind, count = struct.unpack("<HHH", data[:6])
    assert (reserved, kind, count) == (0, 1, 6), f"{path.name}: header {reserved, kind, count}"
    seen, colours = set(), {}
    for i in range(count):
        w, h, ncolours, _, planes, bits, size, offset = struct.unpack(
            "<BBBBHHII", data[6 + 16 * i:22 + 16 * i])
        assert w == h and ncolours == 0 and planes == 1, f"{path.name}: entry {i}"
        assert offset >= 6 + 16 * count and offset + size <= len(data), f"{path.name}: entry {i} out of file"
        seen.add((w, bits))
        dib = data[offset:offset + size]
        hsize, dw, dh, dplanes, dbits, compression = struct.unpack("<IiiHHI", dib[:20])
        assert (hsize, dw, dh, dplanes, dbits, compression) == (40, w, 2 * w, 1, bits, 0), \
            f"{path.name}: DIB header of entry {i}"
        palette = dib[40:40 + 1024] if bits == 8 else b""
        stride = (w * bits + 31) // 32 * 4
        mask_stride = (w + 31) // 32 * 4
        pixels = dib[40 + len(palette):40 + len(palette) + stride * w]
        mask = dib[40 + len(palette) + stride * w:]
        assert len(mask) == mask_stride * w, f"{path.name}: entry {i} has the wrong size"
        image = {}
        for y in range(w):
            for x in range(w):
                masked = mask[y * mask_stride + x // 8] >> (7 - x % 8) & 1
                if bits == 32:
                    b, g, r, a = pixels[y * stride + 4 * x:y * stride + 4 * x + 4]
                    assert masked == (a < 128), f"{path.name}: mask and alpha differ in entry {i}"
                else:
                    index = pixels[y * stride + x]
                    b, g, r = palette[4 * index:4 * index + 3]
                if not masked:
                    image[(x, y)] = (r, g, b)
        assert len(image) > w * w // 2, f"{path.name}: entry {i} is mostly see-through"
        colours[(w, bits)] = image
    assert seen == ICON_ENTRIES, f"{path.name}: holds {sorted(seen)}"
    for size in (48, 32, 16):
        full, paletted = colours[(size, 32)], colours[(size, 8)]
        assert full.keys() == paletted.keys(), f"{path.name}: masks of the {size}px pictures differ"
        worst = max(max(abs(a - b) for a, b in zip(full[k], paletted[k])) for k in full)
        assert worst <= 24, f"{path.name}: 256-colour {size}px picture is off by {worst}"


def check_folder(folder):
    check_pictures(folder)
    check_bitmaps(folder)
    check_icon(folder / "kestrine.ico")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--generator")
    parser.add_argument("assets")
    args = parser.parse_args()
    check_folder(Path(args.assets))
    if args.generator:
        with tempfile.TemporaryDirectory() as one, tempfile.TemporaryDirectory() as two:
            for out in (one, two):
                subprocess.run([args.generator, out], check=True)
            _, differ, missing = filecmp.cmpfiles(one, two, ALL_FILES, shallow=False)
            assert not differ and not missing, f"two runs differ in {differ + missing}"
            check_folder(Path(one))
    print("assets ok")


if __name__ == "__main__":
    try:
        main()
    except AssertionError as failure:
        sys.exit(f"check_assets: {failure}")
