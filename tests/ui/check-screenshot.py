#!/usr/bin/env python3
"""Checks a screenshot of the window taken during a download on two simulated devices.

Usage: check-screenshot.py FILE.png

The window is 500x600 with transparent rounded corners, a blue title bar with its title in light
text, and one row per device whose progress bar is partly filled. A window that did not render
(no fonts, no skin, an empty image) or whose downloads had not started or had already ended fails.
"""
import struct
import sys
import zlib

WIDTH, HEIGHT = 500, 600
TITLE_BLUE = (0x2D, 0x6C, 0xDF)


def read_png(path):
    """Width, height and rows of RGBA tuples of an 8-bit RGB or RGBA PNG."""
    with open(path, 'rb') as f:
        data = f.read()
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        raise ValueError('not a PNG file')
    pos, idat, header = 8, b'', None
    while pos + 8 <= len(data):
        size, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + size]
        pos += 12 + size
        if kind == b'IHDR':
            header = struct.unpack('>IIBBBBB', body)
        elif kind == b'IDAT':
            idat += body
    if header is None:
        raise ValueError('no IHDR chunk')
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace != 0:
        raise ValueError(f'unexpected PNG format {header}')
    bpp = 4 if colour == 6 else 3
    raw = zlib.decompress(idat)
    stride = width * bpp
    rows, prev, i = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[i], bytearray(raw[i + 1:i + 1 + stride])
        i += 1 + stride
        for x in range(stride):
            a = line[x - bpp] if x >= bpp else 0
            b = prev[x]
            c = prev[x - bpp] if x >= bpp else 0
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x:x + bpp]) + ((255,) if bpp == 3 else ()) for x in range(0, stride, bpp)])
        prev = line
    return width, height, rows


def near(pixel, colour, tolerance=24):
    return all(abs(p - c) <= tolerance for p, c in zip(pixel, colour))


def progress_fill(pixel):
    r, g, b, a = pixel
    return a == 255 and b > 150 and b > r + 60


def problems(width, height, rows):
    if (width, height) != (WIDTH, HEIGHT):
        return [f'size {width}x{height}, not {WIDTH}x{HEIGHT}']
    found = []
    if rows[0][0][3] != 0 or rows[HEIGHT - 1][WIDTH - 1][3] != 0:
        found.append('the rounded corners are not transparent')
    if rows[HEIGHT // 2][WIDTH // 2][3] != 255:
        found.append('the middle of the window is not opaque')
    title_row = rows[15]
    if sum(near(p, TITLE_BLUE) for p in title_row) < WIDTH // 2:
        found.append('no blue title bar')
    # The title's text: light pixels on the blue bar, left of the close button.
    ink = sum(1 for y in range(5, 26) for p in rows[y][30:300] if min(p[:3]) > 200)
    if ink < 40:
        found.append(f'no title text in the title bar ({ink} light pixels)')

    # Progress bars: bands of rows whose blue fill starts at the same left edge. A bar mid-way
    # has its fill end before the track does (the track's own colour follows the fill).
    bars, current = [], None
    for y in range(40, HEIGHT - 40):
        row = rows[y]
        fill = [x for x in range(WIDTH) if progress_fill(row[x])]
        if len(fill) >= 4 and fill[-1] - fill[0] < WIDTH - 20:
            left, right = fill[0], fill[-1]
            if current and current['left'] == left and y == current['bottom'] + 1:
                current['bottom'] = y
                current['rights'].append(right)
                current['after'].append(row[min(right + 3, WIDTH - 1)])
            else:
                current = {'top': y, 'bottom': y, 'left': left, 'rights': [right],
                           'after': [row[min(right + 3, WIDTH - 1)]]}
                bars.append(current)
        else:
            current = None
    bars = [b for b in bars if b['bottom'] - b['top'] >= 8]
    midway = [b for b in bars
              if max(b['rights']) - b['left'] > 4
              and not progress_fill(b['after'][len(b['after']) // 2])
              and b['after'][len(b['after']) // 2][3] == 255]
    if len(midway) < 2:
        found.append(f'{len(midway)} progress bars part-way filled (of {len(bars)} bars), not 2')
    return found


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        width, height, rows = read_png(sys.argv[1])
    except (OSError, ValueError, zlib.error) as error:
        print(f'check-screenshot: {sys.argv[1]}: {error}', file=sys.stderr)
        return 1
    found = problems(width, height, rows)
    for problem in found:
        print(f'check-screenshot: {sys.argv[1]}: {problem}', file=sys.stderr)
    if not found:
        print(f'check-screenshot: {sys.argv[1]}: the window with two downloads under way')
    return 1 if found else 0


if __name__ == '__main__':
    sys.exit(main())
