"""Tells real glyphs from missing-glyph boxes in a screenshot: boxes are all alike, real
characters are not. Reads pixels through ImageMagick's plain PGM output (no imaging library)."""

import subprocess


def _grey_pixels(png_path, rect):
    left, top, right, bottom = rect
    pgm = subprocess.run(
        ["/usr/bin/convert", png_path, "-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top),
         "+repage", "-colorspace", "gray", "-depth", "8", "-compress", "none", "pgm:-"],
        stdout=subprocess.PIPE, check=True, timeout=60,
    ).stdout.split()
    width, height, maxval = int(pgm[1]), int(pgm[2]), int(pgm[3])
    values = [int(v) * 255 // maxval for v in pgm[4:4 + width * height]]
    return [values[y * width:(y + 1) * width] for y in range(height)]


def _bands(flags):
    """(start, end) of each run of True."""
    bands, start = [], None
    for i, flag in enumerate(flags + [False]):
        if flag and start is None:
            start = i
        elif not flag and start is not None:
            bands.append((start, i))
            start = None
    return bands


def distinct_glyph_shapes(png_path, rect, ink_below=160):
    """Number of different ink shapes in the rect, cut into text lines, then into pieces
    separated by blank columns."""
    rows = _grey_pixels(png_path, rect)
    ink = [[value < ink_below for value in row] for row in rows]
    shapes = set()
    for top, bottom in _bands([any(row) for row in ink]):
        line = ink[top:bottom]
        for left, right in _bands([any(row[x] for row in line) for x in range(len(line[0]))]):
            shapes.add(tuple(tuple(row[left:right]) for row in line))
    return len(shapes)
