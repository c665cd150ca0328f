#!/usr/bin/env python3
"""Makes the two spherical environment images of the reflection shading modes.

Each image is a sphere seen from the front, filling the 512x512 square: the texel at (u, v)
shows how a surface whose view-space normal is (2u - 1, 2v - 1, z) looks, so the shaders pick
the texel from the normal's x and y. Texels outside the disc repeat the rim, so that samples
taken right at a silhouette never fall on a background colour.

    reflection1.png  matte clay: soft key light from the upper left, a cool fill, darker rim
    reflection2.png  glossy: a sky and floor reflected in the surface, sharp highlights, Fresnel rim

Usage: python3 make_reflections.py [output folder]   (default: the folder of this script)
Needs only the standard library (PNG is written with zlib).
"""

import math
import os
import struct
import sys
import zlib

SIZE = 512


def normalize(v):
    length = math.sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2])
    return (v[0] / length, v[1] / length, v[2] / length)


def dot(a, b):
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]


def smoothstep(e0, e1, x):
    t = min(max((x - e0) / (e1 - e0), 0.0), 1.0)
    return t * t * (3.0 - 2.0 * t)


def to_byte(linear):
    """Linear intensity to an 8-bit sRGB-like value (gamma 2.2), clamped."""
    return int(round(255.0 * min(max(linear, 0.0), 1.0) ** (1.0 / 2.2)))


def sphere_normal(px, py):
    """Normal of the front hemisphere at pixel (px, py); image rows go from the top down."""
    x = (px + 0.5) / SIZE * 2.0 - 1.0
    y = 1.0 - (py + 0.5) / SIZE * 2.0
    r2 = x * x + y * y
    if r2 >= 1.0:
        r = math.sqrt(r2)
        return (x / r, y / r, 0.0)
    return (x, y, math.sqrt(1.0 - r2))


VIEW = (0.0, 0.0, 1.0)  # towards the viewer


def clay(n):
    albedo = (0.80, 0.77, 0.72)
    key = normalize((-0.55, 0.65, 0.55))
    fill = normalize((0.7, -0.3, 0.5))
    # Wrapped diffuse keeps the shadow side soft, as on a matte material.
    key_d = max((dot(n, key) + 0.15) / 1.15, 0.0) ** 1.3
    fill_d = max(dot(n, fill), 0.0)
    occlusion = 0.35 + 0.65 * math.sqrt(max(n[2], 0.0))
    half = normalize((key[0] + VIEW[0], key[1] + VIEW[1], key[2] + VIEW[2]))
    spec = 0.08 * max(dot(n, half), 0.0) ** 12
    rim = 0.10 * (1.0 - n[2]) ** 3
    key_colour = (1.0, 0.96, 0.9)
    fill_colour = (0.55, 0.62, 0.75)
    out = []
    for c in range(3):
        diffuse = albedo[c] * (0.9 * key_d * key_colour[c] + 0.3 * fill_d * fill_colour[c] + 0.04)
        out.append(diffuse * occlusion + spec + rim)
    return out


def environment(r):
    """A studio sky above a dim floor, seen in direction r."""
    up = r[1]
    sky = smoothstep(-0.05, 0.35, up)
    horizon = math.exp(-abs(up) * 7.0)
    base = [0.06 + (0.85 - 0.06) * sky + 0.25 * horizon for _ in range(3)]
    base[2] += 0.06 * sky  # a slightly cool sky
    # A soft-box light high on the left, seen as a bright patch in the reflection.
    box = normalize((-0.5, 0.75, 0.45))
    patch = max(dot(r, box), 0.0) ** 60
    return [b + 2.5 * patch for b in base]


def glossy(n):
    albedo = 0.30
    key = normalize((-0.5, 0.7, 0.5))
    second = normalize((0.75, 0.15, 0.65))
    d = max(dot(n, key), 0.0)
    nv = dot(n, VIEW)
    # Mirror direction of the view ray (from the eye, along -z) about n.
    r = (2.0 * nv * n[0], 2.0 * nv * n[1], 2.0 * nv * n[2] - 1.0)
    env = environment(r)
    fresnel = 0.06 + 0.94 * (1.0 - max(nv, 0.0)) ** 5
    h1 = normalize((key[0], key[1], key[2] + 1.0))
    h2 = normalize((second[0], second[1], second[2] + 1.0))
    spec = 1.6 * max(dot(n, h1), 0.0) ** 220 + 0.6 * max(dot(n, h2), 0.0) ** 120
    out = []
    for c in range(3):
        diffuse = albedo * (0.85 * d + 0.12)
        out.append(diffuse * (1.0 - fresnel) + env[c] * (0.18 + 0.82 * fresnel) + spec)
    return out


def render(shade):
    rows = bytearray()
    for py in range(SIZE):
        rows.append(0)  # PNG filter type: none
        for px in range(SIZE):
            colour = shade(sphere_normal(px, py))
            rows.extend(to_byte(c) for c in colour)
    return bytes(rows)


def write_png(path, raw):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 2, 0, 0, 0)  # 8-bit RGB
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", header))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, shade in (("reflection1.png", clay), ("reflection2.png", glossy)):
        path = os.path.join(folder, name)
        write_png(path, render(shade))
        print(path)


if __name__ == "__main__":
    main()
