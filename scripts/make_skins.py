#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Draws the shipped skins' pictures and writes their region files.

Run from the repository: python3 scripts/make_skins.py
The pictures are plain 24-bit BMPs drawn here, so the skins need no image
tools and can be drawn again after a change of colours.
"""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'resources', 'skins')


def write_bmp(path, pixels):
    """pixels: rows top to bottom of (r, g, b)."""
    height, width = len(pixels), len(pixels[0])
    stride = (width * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b'\0' * (stride - len(line))
        data += line
    header = struct.pack('<2sIHHI', b'BM', 54 + len(data), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + data)


def mix(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def gradient(width, height, stops):
    """A vertical gradient through `stops` (colours at equal distances)."""
    rows = []
    for y in range(height):
        t = y / max(1, height - 1) * (len(stops) - 1)
        i = min(int(t), len(stops) - 2)
        rows.append([mix(stops[i], stops[i + 1], t - i)] * width)
    return rows


def solid(width, height, colour):
    return [[colour] * width for _ in range(height)]


def button(face, mark, glyph):
    """A 21 x 21 rounded button with a white close cross or minimise bar."""
    size = 21
    rows = gradient(size, size, [mix(face, (255, 255, 255), 0.35), face, mix(face, (0, 0, 0), 0.2)])
    edge = mix(face, (255, 255, 255), 0.7)
    for y in range(size):
        for x in range(size):
            corner = min(x, size - 1 - x) + min(y, size - 1 - y)
            if corner < 2:
                rows[y][x] = mark['outside']
            elif x in (0, size - 1) or y in (0, size - 1):
                rows[y][x] = edge
    if glyph == 'x':
        for i in range(6, 15):
            for d in (0, 1):
                rows[i][min(20, i + d)] = (255, 255, 255)
                rows[i][max(0, 20 - i - d)] = (255, 255, 255)
    else:
        for y in (13, 14):
            for x in range(6, 12):
                rows[y][x] = (255, 255, 255)
    return rows


def grip(background, dots):
    rows = solid(12, 12, background)
    for y in range(12):
        for x in range(12):
            if (x + y) >= 12 and (x + y) % 4 == 0 and x % 4 != 3 and y % 4 != 3:
                rows[y][x] = dots
    return rows


SKINS = {
    'Windows XP blue': {
        'title': [(0, 97, 255), (0, 84, 227), (0, 70, 213), (2, 88, 238)],
        'border': (0, 84, 227),
        'close': (224, 67, 22),
        'minimize': (35, 110, 245),
        'outside': (0, 84, 227),
        'grip': ((236, 233, 216), (150, 150, 140)),
    },
    'Graphite': {
        'title': [(78, 78, 84), (58, 58, 63), (44, 44, 48), (52, 52, 57)],
        'border': (28, 28, 30),
        'close': (168, 52, 48),
        'minimize': (86, 88, 100),
        'outside': (28, 28, 30),
        'grip': ((45, 45, 48), (120, 120, 128)),
    },
}

MAIN_REGION = 'U0,0,W+1,H+1,16,16\r\nO\r\nR0,10,W,H\r\n'
DIALOG_REGION = 'U0,0,W+1,H+1,12,12\r\n'


def draw(name, s):
    folder = os.path.join(ROOT, name)
    os.makedirs(folder, exist_ok=True)
    title = 30
    pieces = {
        'top_left': gradient(8, title, s['title']),
        'top': gradient(8, title, s['title']),
        'top_right': gradient(8, title, s['title']),
        'left': solid(4, 8, s['border']),
        'right': solid(4, 8, s['border']),
        'bottom_left': solid(8, 4, s['border']),
        'bottom': solid(8, 4, s['border']),
        'bottom_right': solid(8, 4, s['border']),
    }
    for prefix in ('', 'rename_'):
        for piece, rows in pieces.items():
            write_bmp(os.path.join(folder, prefix + piece + '.bmp'), rows)
    mark = {'outside': s['outside']}
    for state, shade in (('', 0.0), ('Over', 0.25), ('Down', -0.25)):
        for kind, glyph in (('Close', 'x'), ('Min', '_')):
            face = s['close' if kind == 'Close' else 'minimize']
            face = mix(face, (255, 255, 255), shade) if shade > 0 else mix(face, (0, 0, 0), -shade)
            write_bmp(os.path.join(folder, 'btn%s%s.bmp' % (kind, state)), button(face, mark, glyph))
    write_bmp(os.path.join(folder, 'angle.bmp'), grip(*s['grip']))
    for region, text in (('main_form.rgn', MAIN_REGION), ('rename_form.rgn', MAIN_REGION),
                         ('about_form.rgn', DIALOG_REGION), ('options_form.rgn', DIALOG_REGION)):
        with open(os.path.join(folder, region), 'w', newline='') as f:
            f.write(text)


if __name__ == '__main__':
    for skin_name, settings in SKINS.items():
        draw(skin_name, settings)
