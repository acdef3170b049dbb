"""Pixels of a screenshot: what a person sees inside a window's rectangle."""
import subprocess


def grab(desktop):
    """The screen now, for reading pixels while waiting: one file, overwritten
    each time (desktop.screenshot keeps numbered pictures for a person)."""
    path = desktop.artifacts / "grab.png"
    subprocess.run(["import", "-window", "root", "-display", desktop.display, str(path)],
                   check=True, stderr=subprocess.DEVNULL)
    return path


def region(png, rect):
    """The pixels of rect (left, top, right, bottom) as rows of (r, g, b)."""
    left, top, right, bottom = rect
    width, height = right - left, bottom - top
    data = subprocess.run(
        ["convert", str(png), "-crop", f"{width}x{height}+{left}+{top}", "+repage",
         "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout
    if len(data) != width * height * 3:
        raise ValueError(f"{png}: {rect} is not inside the picture")
    return [[tuple(data[(y * width + x) * 3:(y * width + x) * 3 + 3]) for x in range(width)]
            for y in range(height)]


def count(pixels, rgb):
    """How many pixels have exactly this colour."""
    return sum(row.count(rgb) for row in pixels)
