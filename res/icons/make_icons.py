#!/usr/bin/env python3
"""Draws corvina's built-in icons and writes them as .ico files next to this script.

Each image below is pixel art: one character per pixel, coloured through LEGEND.
Each icon also holds the sizes a display above 100% scale asks for (SIZES): the
picture drawn for the size, or else the largest one below it, enlarged by
repeating pixels, so that the 16-pixel images stay exactly as drawn.
Edit the pictures and run `python3 make_icons.py`; add `--preview DIR` to also get
each image enlarged 8x as PNG, once on a light and once on a dark background, the
two kinds of task bar the notification area sits on.
"""
import argparse
import pathlib
import struct
import zlib

# The standard Windows 16-colour (VGA) palette, in index order.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

# Character -> palette index; '.' is transparent.
LEGEND = {
    'K': 0,   # black
    'r': 1,   # maroon
    'g': 2,   # green
    'o': 3,   # olive
    'n': 4,   # navy
    'p': 5,   # purple
    't': 6,   # teal
    's': 7,   # silver
    'd': 8,   # grey
    'R': 9,   # red
    'G': 10,  # lime
    'Y': 11,  # yellow
    'B': 12,  # blue
    'M': 13,  # magenta
    'C': 14,  # cyan
    'W': 15,  # white
}
TRANSPARENT = '.'

# The program's own icon: a crow perched on a letter. Grey edges on the black bird
# keep its outline visible on a dark task bar.
CORVINA_32 = """
................................
................................
..........ddddd.................
........ddKKKKKdd...............
......ssKKKKKKKKKd..............
....ssddKWKKKKKKKK..............
..ssddddKKKKKKKKKKd.............
ssddddddKKKKKKKKKKK.............
..dddddKKKKKKKKKKKKd............
.....KKKKKKKKKKKKKKKd...........
.....KKKKKKKKKKKKKKKKdd.........
....KKKKKKKKKKKnnnKKKKKdd.......
....KKKKKKKKKnnnnnnnnKKKKdd.....
....KKKKKKKKnnnnnnnnnnnnKKKdd...
.....KKKKKKKKnnnnnnnnnnnnnKKKdd.
......KKKKKKKKKnnnnnnnnnnnnKKKKK
.......KKKKKKKKKKKKKKKKKKKKK.KKK
.........KKKKKKKKKKKKK..........
...........dd..dd...............
..KKKKKKKKKKKKKKKKKKKKKKKKKKKK..
..KddWWWWWWWWWWWWWWWWWWWWWWddK..
..KWWddWWWWWWWWWWWWWWWWWWddWWK..
..KWWWWddWWWWWWWWWWWWWWddWWWWK..
..KWWWWWWddWWWWWWWWWWddWWWWWWK..
..KWWWWWWWWddWWWWWWddWWWWWWWWK..
..KWWWWWWWWWWddWWddWWWWWWWWWWK..
..KWWWWWWWWWWWWddWWWWWWWWWWWWK..
..KWWWWWWWWWWWWWWWWWWWWWWWWWWK..
..KWWWWWWWWWWWWWWWWWWWWWWWWWWK..
..KWWWWWWWWWWWWWWWWWWWWWWWWWWK..
..KKKKKKKKKKKKKKKKKKKKKKKKKKKK..
................................
"""

CORVINA_16 = """
......ddd.......
....ddKKKd......
..ssdKWKKKd.....
ssddKKKKKKK.....
..ddKKKKKKKd....
....KKKKKKKKdd..
....KKKKnnnKKKd.
....KKKKKnnnnKKd
.....KKKKKKKKKKK
KKKKKKdKKdKKKKKK
KddWWWWWWWWWWddK
KWWddWWWWWWddWWK
KWWWWddWWddWWWWK
KWWWWWWddWWWWWWK
KWWWWWWWWWWWWWWK
KKKKKKKKKKKKKKKK
"""

# At rest: a plain white letter.
NORMAL = """
................
................
KKKKKKKKKKKKKKKK
KdWWWWWWWWWWWWdK
KWdWWWWWWWWWWdWK
KWWdWWWWWWWWdWWK
KWWWdWWWWWWdWWWK
KWWWWdWWWWdWWWWK
KWWWWWdWWdWWWWWK
KWWWWWWddWWWWWWK
KWWWWWWWWWWWWWWK
KWWWWWWWWWWWWWWK
KWWWWWWWWWWWWWWK
KKKKKKKKKKKKKKKK
................
................
"""

# Checking: the letter with a blue arrow coming down into it. The cyan fill stays
# visible on a dark task bar, where the navy outline does not.
CHECK = """
................
................
KKKKKKKKKKKKKKKK
KdWWWWWWWWWWWWdK
KWdWWWWWWWWWWdWK
KWWdWWWWWWWWdWWK
KWWWdWWWWnnnnnWK
KWWWWdWWWnCCBnWK
KWWWWWdWWnCCBnWK
KWWWWWWddnCCBnWK
KWWWWWWWWnCCBnWK
KWWWWWWnnnCCBnnn
KWWWWWWWnCCCCBn.
KKKKKKKKKnCCBnKK
..........nBn...
...........n....
"""

# New mail: a yellow letter with a red badge; it blinks against NORMAL, so the
# colours of both the letter and the badge differ from it.
ARRIVE = """
..........rrrrr.
.........rRRWRRr
KKKKKKKKKrRRWRRr
KoYYYYYYYrRRWRRr
KYoYYYYYYrRRRRRr
KYYoYYYYYrRRWRRr
KYYYoYYYYYrrrrrK
KYYYYoYYYYoYYYYK
KYYYYYoYYoYYYYYK
KYYYYYYooYYYYYYK
KYYYYYYYYYYYYYYK
KYYYYYYYYYYYYYYK
KYYYYYYYYYYYYYYK
KKKKKKKKKKKKKKKK
................
................
"""

# A check failed: the letter with a red cross.
ERROR = """
................
................
KKKKKKKKKKKKKKKK
KdWWWWWWWWWWWWdK
KWdWWWWWWWWWWdWK
KWWdWWWWWWWWdWWK
KWWWdWWWWWWdWWWK
KWWWWdWWWrrrrrWK
KWWWWWdWrRRRRRrK
KWWWWWWrRWRRRWRr
KWWWWWWrRRWRWRRr
KWWWWWWrRRRWRRRr
KWWWWWWrRRWRWRRr
KKKKKKKrRWRRRWRr
........rRRRRRr.
.........rrrrr..
"""

# Waiting: a grey letter with an hourglass.
WAIT = """
................
................
KKKKKKKKKKKKKKKK
KdsssssssssssssK
KsdsssssssssssdK
KssdsssssssssdsK
KsssdssKKKKKKKKK
KssssdsKdddddddK
KsssssdsKYYYYYKK
KssssssddKYYYKsK
KssssssssdKYKssK
KsssssssssKWKssK
KssssssssKWYWKsK
KKKKKKKKKYYYYYKK
.......KdddddddK
.......KKKKKKKKK
"""

# The sizes of every icon: 16 and 32 are 100% scale's small and large icon, the
# others the small icon at 125%, 150%, 250% and 300% and the large one at 125%
# and 150% (24 and 32 serve both).
SIZES = [16, 20, 24, 32, 40, 48]

# File -> its pictures; the comment is the resource id the program loads it by.
ICONS = {
    'corvina.ico': [CORVINA_32, CORVINA_16],  # 101
    'normal.ico': [NORMAL],                   # 109
    'check.ico': [CHECK],                     # 106
    'arrive.ico': [ARRIVE],                   # 105
    'error.ico': [ERROR],                     # 108
    'wait.ico': [WAIT],                       # 118
}


def parse(art):
    rows = art.strip('\n').split('\n')
    size = len(rows)
    for row in rows:
        if len(row) != size:
            raise ValueError(f'every row must be {size} pixels: {row!r}')
        if any(c not in LEGEND and c != TRANSPARENT for c in row):
            raise ValueError(f'unknown colour in {row!r}')
    return rows


def enlarge(rows, size):
    """The picture at size pixels, each pixel repeated as often as it falls."""
    drawn = len(rows)
    return [''.join(rows[y * drawn // size][x * drawn // size] for x in range(size))
            for y in range(size)]


def all_sizes(pictures):
    by_size = {len(rows): rows for rows in pictures}
    return [by_size.get(size) or enlarge(by_size[max(s for s in by_size if s < size)], size)
            for size in SIZES]


def pack_rows(rows, bits, pixel):
    """Packs rows bottom-up, as a DIB stores them, each padded to 4 bytes."""
    data = b''
    for row in reversed(rows):
        value = 0
        for c in row:
            value = value << bits | pixel(c)
        row_bits = len(row) * bits
        padded = (row_bits + 31) // 32 * 32
        data += (value << (padded - row_bits)).to_bytes(padded // 8, 'big')
    return data


def dib(rows):
    """The icon image: header, palette, 4-bpp colour bitmap, then the 1-bpp AND mask."""
    size = len(rows)
    # Transparent pixels are black in the colour bitmap and set in the mask: the
    # screen is ANDed with the mask, then XORed with the colours, so they leave it as it is.
    colours = pack_rows(rows, 4, lambda c: LEGEND.get(c, 0))
    mask = pack_rows(rows, 1, lambda c: c == TRANSPARENT)
    # The height counts both bitmaps, as icons require.
    header = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, 4, 0,
                         len(colours) + len(mask), 0, 0, 0, 0)
    palette = b''.join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    return header + palette + colours + mask


def ico(images):
    directory = struct.pack('<HHH', 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries, bodies = b'', b''
    for rows in images:
        body = dib(rows)
        size = len(rows)
        # width, height, colours, reserved, planes, bits per pixel, length, offset
        entries += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(body), offset)
        bodies += body
        offset += len(body)
    return directory + entries + bodies


def png(rows, scale=8):
    """The image enlarged, on a light and on a dark task bar colour side by side."""
    backgrounds = [(0xEE, 0xEE, 0xEE), (0x20, 0x20, 0x20)]
    size = len(rows) * scale
    raw = b''
    for y in range(size):
        line = b''
        for background in backgrounds:
            for x in range(size):
                c = rows[y // scale][x // scale]
                line += bytes(background if c == TRANSPARENT else PALETTE[LEGEND[c]])
        raw += b'\0' + line  # filter type 0 for each scanline

    def chunk(kind, data):
        return (struct.pack('>I', len(data)) + kind + data
                + struct.pack('>I', zlib.crc32(kind + data)))

    header = struct.pack('>IIBBBBB', size * len(backgrounds), size, 8, 2, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header)
            + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--preview', metavar='DIR', type=pathlib.Path,
                        help='also write enlarged PNG previews into DIR')
    args = parser.parse_args()
    here = pathlib.Path(__file__).resolve().parent
    for name, arts in ICONS.items():
        images = all_sizes([parse(art) for art in arts])
        (here / name).write_bytes(ico(images))
        if args.preview:
            args.preview.mkdir(parents=True, exist_ok=True)
            stem = pathlib.Path(name).stem
            for rows in images:
                (args.preview / f'{stem}-{len(rows)}.png').write_bytes(png(rows))


if __name__ == '__main__':
    main()
