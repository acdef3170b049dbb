#!/usr/bin/env python3
"""Renders corvina's icons from the drawings in src/ and writes the .ico files beside this script.

Each src/<name>.svg holds one drawing per size (16, 20, 24, 32, 40, 48 pixels,
and 256 for the program's own icon), each a nested <svg id="s<size>"> on its
own pixel grid, so no size is an enlargement of another. librsvg renders
them (librsvg2-2 and libcairo2, through ctypes: no Python binding needed);
every frame is a 32-bit image with alpha, stored PNG-compressed, as Windows
reads icons since Vista.

The state icons come twice: as drawn (light task bar) and, as <name>-dark.ico,
with the drawing's class "dark" (dark task bar). The program's own icon is
one drawing for both.

The output depends only on the drawings and on zlib: run it twice, get the
same bytes. `--preview FILE` also writes a sheet of every icon at every size
on a light and on a dark task bar colour.
"""
import argparse
import ctypes
import pathlib
import struct
import zlib

HERE = pathlib.Path(__file__).resolve().parent
TRAY_SIZES = [16, 20, 24, 32, 40, 48]
# name -> (sizes, has a dark variant)
ICONS = {
    'corvina': (TRAY_SIZES + [256], False),
    'normal': (TRAY_SIZES, True),
    'check': (TRAY_SIZES, True),
    'arrive': (TRAY_SIZES, True),
    'error': (TRAY_SIZES, True),
    'wait': (TRAY_SIZES, True),
}
LIGHT_BAR, DARK_BAR = (0xF3, 0xF3, 0xF3), (0x20, 0x20, 0x20)


class RsvgRectangle(ctypes.Structure):
    _fields_ = [('x', ctypes.c_double), ('y', ctypes.c_double),
                ('width', ctypes.c_double), ('height', ctypes.c_double)]


rsvg = ctypes.CDLL('librsvg-2.so.2')
cairo = ctypes.CDLL('libcairo.so.2')
rsvg.rsvg_handle_new_from_data.restype = ctypes.c_void_p
rsvg.rsvg_handle_new_from_data.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_void_p]
rsvg.rsvg_handle_render_document.argtypes = [ctypes.c_void_p, ctypes.c_void_p,
                                             ctypes.POINTER(RsvgRectangle), ctypes.c_void_p]
rsvg.g_object_unref.argtypes = [ctypes.c_void_p]
cairo.cairo_image_surface_create.restype = ctypes.c_void_p
cairo.cairo_create.restype = ctypes.c_void_p
cairo.cairo_create.argtypes = [ctypes.c_void_p]
cairo.cairo_translate.argtypes = [ctypes.c_void_p, ctypes.c_double, ctypes.c_double]
cairo.cairo_destroy.argtypes = [ctypes.c_void_p]
cairo.cairo_surface_flush.argtypes = [ctypes.c_void_p]
cairo.cairo_surface_destroy.argtypes = [ctypes.c_void_p]
cairo.cairo_image_surface_get_data.restype = ctypes.POINTER(ctypes.c_ubyte)
cairo.cairo_image_surface_get_data.argtypes = [ctypes.c_void_p]
cairo.cairo_image_surface_get_stride.argtypes = [ctypes.c_void_p]


def frame_offsets(svg, sizes):
    """Where each size's drawing stands in the document: x of <svg id="s<size>">."""
    offsets = {}
    for size in sizes:
        at = svg.index(f'<svg id="s{size}" x="')
        offsets[size] = int(svg[at:].split('x="', 1)[1].split('"', 1)[0])
    return offsets


def render(svg, x, size):
    """One drawing as rows of straight (not premultiplied) RGBA pixels."""
    data = svg.encode()
    handle = rsvg.rsvg_handle_new_from_data(data, len(data), None)
    if not handle:
        raise SystemExit('librsvg could not read a drawing')
    width = float(svg.split('width="', 1)[1].split('"', 1)[0])
    height = float(svg.split('height="', 1)[1].split('"', 1)[0])
    surface = cairo.cairo_image_surface_create(0, size, size)  # ARGB32, premultiplied
    context = cairo.cairo_create(surface)
    cairo.cairo_translate(context, -x, 0)
    if not rsvg.rsvg_handle_render_document(handle, context,
                                            ctypes.byref(RsvgRectangle(0, 0, width, height)), None):
        raise SystemExit('librsvg could not render a drawing')
    cairo.cairo_surface_flush(surface)
    stride = cairo.cairo_image_surface_get_stride(surface)
    pixels = ctypes.string_at(cairo.cairo_image_surface_get_data(surface), stride * size)
    rows = []
    for y in range(size):
        row = []
        for px in range(size):
            b, g, r, a = pixels[y * stride + 4 * px:y * stride + 4 * px + 4]
            if a:
                r, g, b = (min(255, (c * 255 + a // 2) // a) for c in (r, g, b))
            row.append((r, g, b, a))
        rows.append(row)
    cairo.cairo_destroy(context)
    cairo.cairo_surface_destroy(surface)
    rsvg.g_object_unref(handle)
    return rows


def png(rows, colour_type=6):
    """Rows of RGBA (type 6) or RGB (type 2) tuples as a PNG file, deterministically."""
    raw = b''.join(b'\0' + b''.join(bytes(pixel) for pixel in row) for row in rows)

    def chunk(kind, data):
        return (struct.pack('>I', len(data)) + kind + data
                + struct.pack('>I', zlib.crc32(kind + data)))

    header = struct.pack('>IIBBBBB', len(rows[0]), len(rows), 8, colour_type, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header)
            + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def ico(frames):
    """An icon file of PNG frames; 256 is written as 0 in the directory, as the format says."""
    directory = struct.pack('<HHH', 0, 1, len(frames))
    offset = len(directory) + 16 * len(frames)
    entries, bodies = b'', b''
    for size, data in frames:
        # width, height, colours, reserved, planes, bits per pixel, length, offset
        entries += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        bodies += data
        offset += len(data)
    return directory + entries + bodies


def over(rows, background):
    """The image as the task bar shows it: blended onto its colour."""
    return [[tuple((c * p[3] + b * (255 - p[3]) + 127) // 255 for c, b in zip(p[:3], background))
             for p in row] for row in rows]


def preview(images, target):
    """Every icon at every size below 256, once on a light and once on a dark task bar."""
    gap, scale = 8, 2
    names = [name for name in images if not name.endswith('-dark')]
    cell = 48 + gap
    width = gap + len(TRAY_SIZES) * cell
    height = gap + len(names) * cell
    sheet = []
    for background in (LIGHT_BAR, DARK_BAR):
        canvas = [[background] * width for _ in range(height)]
        for line, name in enumerate(names):
            variant = 'dark' if background == DARK_BAR and name + '-dark' in images else 'light'
            frames = images[name + '-dark' if variant == 'dark' else name]
            for column, size in enumerate(TRAY_SIZES):
                top, left = gap + line * cell + 48 - size, gap + column * cell
                for y, row in enumerate(over(frames[size], background)):
                    canvas[top + y][left:left + size] = row
        sheet += canvas
    enlarged = [[p for p in row for _ in range(scale)] for row in sheet for _ in range(scale)]
    target.write_bytes(png(enlarged, colour_type=2))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--preview', metavar='FILE', type=pathlib.Path,
                        help='also write a preview sheet (PNG) of every icon')
    args = parser.parse_args()
    images = {}
    for name, (sizes, has_dark) in ICONS.items():
        svg = (HERE / 'src' / f'{name}.svg').read_text()
        offsets = frame_offsets(svg, sizes)
        variants = [(name, svg)]
        if has_dark:
            variants.append((name + '-dark', svg.replace('class="light"', 'class="dark"', 1)))
        for target, drawing in variants:
            images[target] = {size: render(drawing, offsets[size], size) for size in sizes}
            frames = [(size, png(images[target][size])) for size in sizes]
            (HERE / f'{target}.ico').write_bytes(ico(frames))
    if args.preview:
        preview(images, args.preview)


if __name__ == '__main__':
    main()
