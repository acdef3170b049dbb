"""Icon files for the icon page: one solid colour, in both sizes the program loads.

Each file holds a 16 x 16 and a 32 x 32 image of 32 bits per pixel, fully
opaque, so a test can find an icon on the screen by its colour and count its
pixels to learn the size it was drawn at.
"""
import struct

SIZES = (16, 32)


def _image(size, rgb):
    red, green, blue = rgb
    colours = bytes((blue, green, red, 0xFF)) * (size * size)  # BGRA, rows bottom-up
    mask_row = (size + 31) // 32 * 4  # 1 bit per pixel, rows padded to 4 bytes
    mask = bytes(mask_row * size)  # all clear: every pixel opaque
    # The height counts the colour bitmap and the mask, as icons require.
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0,
                         len(colours) + len(mask), 0, 0, 0, 0)
    return header + colours + mask


def write_solid_icon(path, rgb):
    """Writes an .ico file of one colour (r, g, b) at 16 and 32 pixels; returns path."""
    images = [_image(size, rgb) for size in SIZES]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, image in zip(SIZES, images):
        # width, height, colours, reserved, planes, bits per pixel, length, offset
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(directory + entries + b"".join(images))
    return path
