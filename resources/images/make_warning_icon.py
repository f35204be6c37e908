#!/usr/bin/env python3
"""Draws the warning sign (Warning.png): a yellow triangle with a black border, a soft
grey outer edge and a black exclamation mark, 56 x 55 RGBA on a transparent background.

Standard library only: the shapes are signed distance fields sampled 8 x 8 times per
pixel, and the PNG is written with zlib and struct.

    python3 make_warning_icon.py [output.png]
"""
import math
import os
import struct
import sys
import zlib

WIDTH, HEIGHT = 56, 55
SAMPLES = 8

YELLOW = (225, 208, 64)   # 0xFFE1D040
BLACK = (0, 0, 0)
EDGE_GREY = (128, 128, 128)

CORNER_RADIUS = 1.5       # rounds the triangle's three corners
EDGE_WIDTH = 1.0          # soft grey rim outside the border
BORDER_WIDTH = 3.0        # black border inside the rim

# The triangle fills the picture: apex at the top centre, base along the bottom rows.
APEX = (WIDTH / 2.0, -1.6)  # the rounded tip then starts in the first row
BASE_LEFT = (0.25, HEIGHT - 0.25)
BASE_RIGHT = (WIDTH - 0.25, HEIGHT - 0.25)

# Exclamation mark: a bar narrowing from 6 to 2 pixels, then a round dot.
BAR_TOP, BAR_BOTTOM = 19.5, 38.5
BAR_TOP_WIDTH, BAR_BOTTOM_WIDTH = 6.0, 2.0
DOT_CENTRE_Y, DOT_RADIUS = 45.0, 3.0


def inset_triangle(points, amount):
    """The triangle whose edges lie `amount` inside those of `points` (clockwise on screen)."""
    lines = []
    n = len(points)
    for i in range(n):
        (x0, y0), (x1, y1) = points[i], points[(i + 1) % n]
        dx, dy = x1 - x0, y1 - y0
        length = math.hypot(dx, dy)
        # Inward normal of a clockwise (in y-down coordinates) polygon.
        nx, ny = -dy / length, dx / length
        lines.append(((x0 + nx * amount, y0 + ny * amount), (dx, dy)))
    result = []
    for i in range(n):
        (px, py), (dx, dy) = lines[i - 1]
        (qx, qy), (ex, ey) = lines[i]
        det = dx * ey - dy * ex
        t = ((qx - px) * ey - (qy - py) * ex) / det
        result.append((px + t * dx, py + t * dy))
    return result


def segment_distance(px, py, a, b):
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def inside_convex(px, py, points):
    n = len(points)
    for i in range(n):
        (x0, y0), (x1, y1) = points[i], points[(i + 1) % n]
        if (x1 - x0) * (py - y0) - (y1 - y0) * (px - x0) < 0:
            return False
    return True


def signed_distance(px, py, points):
    """Distance to the polygon's outline, positive inside."""
    d = min(segment_distance(px, py, points[i], points[(i + 1) % len(points)])
            for i in range(len(points)))
    return d if inside_convex(px, py, points) else -d


# Clockwise on screen (y grows downwards): apex, bottom right, bottom left.
OUTLINE = [APEX, BASE_RIGHT, BASE_LEFT]
CORE = inset_triangle(OUTLINE, CORNER_RADIUS)


def triangle_depth(px, py):
    """How far a point lies inside the rounded triangle (negative outside)."""
    return signed_distance(px, py, CORE) + CORNER_RADIUS


def in_exclamation_mark(px, py):
    cx = WIDTH / 2.0
    if BAR_TOP <= py <= BAR_BOTTOM:
        t = (py - BAR_TOP) / (BAR_BOTTOM - BAR_TOP)
        half = (BAR_TOP_WIDTH + (BAR_BOTTOM_WIDTH - BAR_TOP_WIDTH) * t) / 2.0
        if abs(px - cx) <= half:
            return True
    # Round off the bar's top corners a little.
    if BAR_TOP - 1.0 <= py < BAR_TOP:
        if math.hypot(max(abs(px - cx) - (BAR_TOP_WIDTH / 2.0 - 1.0), 0.0), BAR_TOP - py) <= 1.0:
            return True
    return math.hypot(px - cx, py - DOT_CENTRE_Y) <= DOT_RADIUS


def sample(px, py):
    """Colour and alpha of one sub-pixel sample."""
    depth = triangle_depth(px, py)
    if depth < 0.0:
        return None
    if depth < EDGE_WIDTH:
        return EDGE_GREY
    if depth < EDGE_WIDTH + BORDER_WIDTH:
        return BLACK
    if in_exclamation_mark(px, py):
        return BLACK
    return YELLOW


def render():
    rows = []
    step = 1.0 / SAMPLES
    for y in range(HEIGHT):
        row = bytearray()
        for x in range(WIDTH):
            covered = 0
            r = g = b = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    colour = sample(x + (sx + 0.5) * step, y + (sy + 0.5) * step)
                    if colour is not None:
                        covered += 1
                        r += colour[0]
                        g += colour[1]
                        b += colour[2]
            if covered == 0:
                row += bytes(4)
            else:
                # Colours are averaged over the covered samples only (straight alpha).
                row += bytes((round(r / covered), round(g / covered), round(b / covered),
                              round(255 * covered / (SAMPLES * SAMPLES))))
        rows.append(bytes(row))
    return rows


def png_chunk(kind, payload):
    body = kind + payload
    return struct.pack(">I", len(payload)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def encode_png(rows):
    # 8 bits per channel, colour type 6 (RGBA), deflate, no row filter, not interlaced.
    header = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 6, 0, 0, 0)
    raw = b"".join(b"\x00" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n"
            + png_chunk(b"IHDR", header)
            + png_chunk(b"IDAT", zlib.compress(raw, 9))
            + png_chunk(b"IEND", b""))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "Warning.png")
    with open(out, "wb") as f:
        f.write(encode_png(render()))
    print(out)


if __name__ == "__main__":
    main()
