#!/usr/bin/env python3
"""Writes the program's icon: io.github.qvtpatch.QvtPatch.svg and the same drawing as a 256 px PNG.

The drawing: a rounded blue card (the game image) with a white patch laid across it at 45
degrees, holding four stitch dots. Run it again after changing the shapes below."""
import math, pathlib, struct, zlib

HERE = pathlib.Path(__file__).resolve().parent
NAME = "io.github.qvtpatch.QvtPatch"
CARD = (16, 16, 224, 224, 40)          # x, y, width, height, corner radius (256 x 256 canvas)
BAND = (128, 128, 200, 76, 30, -45)    # centre x, y, length, width, corner radius, angle
DOTS = [(-45, -16), (-15, 16), (15, -16), (45, 16)]  # along and across the band
DOT_R = 9
BLUE, SHADE, WHITE, DOT = (0x2a, 0x6f, 0xc9), (0x1d, 0x4f, 0x94), (0xf4, 0xf1, 0xe8), (0x2a, 0x6f, 0xc9)


def svg():
    x, y, w, h, r = CARD
    cx, cy, length, width, br, angle = BAND
    dots = "\n".join(f'    <circle cx="{a}" cy="{b}" r="{DOT_R}" fill="#{"%02x%02x%02x" % DOT}"/>'
                     for a, b in DOTS)
    return f"""<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">
  <rect x="{x}" y="{y + 6}" width="{w}" height="{h}" rx="{r}" fill="#{"%02x%02x%02x" % SHADE}"/>
  <rect x="{x}" y="{y}" width="{w}" height="{h}" rx="{r}" fill="#{"%02x%02x%02x" % BLUE}"/>
  <g transform="translate({cx} {cy}) rotate({angle})">
    <rect x="{-length / 2}" y="{-width / 2}" width="{length}" height="{width}" rx="{br}" fill="#{"%02x%02x%02x" % WHITE}"/>
{dots}
  </g>
</svg>
"""


def in_round_rect(px, py, x, y, w, h, r):
    qx = min(max(px, x + r), x + w - r)
    qy = min(max(py, y + r), y + h - r)
    return (px - qx) ** 2 + (py - qy) ** 2 <= r * r and x <= px <= x + w and y <= py <= y + h


def colour_at(px, py):
    x, y, w, h, r = CARD
    cx, cy, length, width, br, angle = BAND
    a = math.radians(-angle)
    u = (px - cx) * math.cos(a) - (py - cy) * math.sin(a)
    v = (px - cx) * math.sin(a) + (py - cy) * math.cos(a)
    inside_card = in_round_rect(px, py, x, y, w, h, r)
    if inside_card and in_round_rect(u, v, -length / 2, -width / 2, length, width, br):
        if any((u - du) ** 2 + (v - dv) ** 2 <= DOT_R * DOT_R for du, dv in DOTS):
            return DOT + (255,)
        return WHITE + (255,)
    if inside_card:
        return BLUE + (255,)
    if in_round_rect(px, py, x, y + 6, w, h, r):
        return SHADE + (255,)
    return (0, 0, 0, 0)


def png(size=256, samples=3):
    rows = []
    for j in range(size):
        row = bytearray([0])
        for i in range(size):
            acc = [0, 0, 0, 0]
            for sj in range(samples):
                for si in range(samples):
                    c = colour_at(i + (si + 0.5) / samples, j + (sj + 0.5) / samples)
                    for k in range(3):
                        acc[k] += c[k] * c[3]
                    acc[3] += c[3]
            alpha = acc[3] / (samples * samples)
            rgb = [round(acc[k] / acc[3]) if acc[3] else 0 for k in range(3)]
            row += bytes(rgb + [round(alpha)])
        rows.append(bytes(row))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


(HERE / f"{NAME}.svg").write_text(svg())
(HERE / f"{NAME}.png").write_bytes(png())
