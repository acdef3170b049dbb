"""Real input on a desktop's X display, as a person's mouse and keyboard make it.

xdotool sends the events through the X server (XTEST), so Wine receives them
exactly as it receives a person's: it routes a click to the window under the
pointer and keys to the window with the focus. The Wine virtual desktop
covers the screen from its origin, so the window rectangles the probe
reports are X coordinates.
"""
import os
import subprocess
import time

XDOTOOL_SECONDS = 15  # each call returns at once; this only bounds a hung X server
KEY_DELAY_MS = 20  # between keys: Wine reads the X queue as a person types
# Two clicks within the double-click time (500 ms by default) and a few
# pixels make a double click, which an edit control takes as selecting a word
# without taking the focus. A second click there waits out that time: input
# paced as a person's, not a wait for the program.
DOUBLE_CLICK_SECONDS = 0.6
DOUBLE_CLICK_PIXELS = 4


class XInput:
    def __init__(self, display):
        self._env = dict(os.environ, DISPLAY=display)
        self._last_click = (float("-inf"), 0, 0)

    def _xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self._env, check=True,
                       timeout=XDOTOOL_SECONDS, stdout=subprocess.DEVNULL)

    def click(self, x, y):
        """Moves the pointer to (x, y) and clicks the left button there: a single click."""
        at, last_x, last_y = self._last_click
        if abs(x - last_x) <= DOUBLE_CLICK_PIXELS and abs(y - last_y) <= DOUBLE_CLICK_PIXELS:
            time.sleep(max(0.0, at + DOUBLE_CLICK_SECONDS - time.monotonic()))
        self._xdotool("mousemove", x, y, "click", 1)
        self._last_click = (time.monotonic(), x, y)

    def click_centre(self, rect):
        left, top, right, bottom = rect
        self.click((left + right) // 2, (top + bottom) // 2)

    def type(self, text):
        """Types ASCII text key by key."""
        if not text.isascii():
            raise ValueError("xdotool types ASCII only here: the X keymap is a US one")
        self._xdotool("type", "--delay", KEY_DELAY_MS, "--", text)

    def key(self, *names):
        """Presses keys by their X names, one after another: "Tab", "shift+End"."""
        self._xdotool("key", "--delay", KEY_DELAY_MS, *names)
