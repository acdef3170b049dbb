"""The harness side of trayprobe: one command line out, one JSON line back.

Every method is one cheap query or one action and returns at once; tests
wait for what follows with wait_for.
"""
import json
import os
import select
import subprocess

from .paths import windows_path

WM_LBUTTONUP = 0x0202
WM_LBUTTONDBLCLK = 0x0203
WM_RBUTTONUP = 0x0205

IDM_SETTINGS, IDM_CHECK, IDM_PAUSE, IDM_EXIT = 2000, 2001, 2002, 2003
POPUP_MAIL_BUTTON, POPUP_CLOSE_BUTTON = 1031, 1032
IDOK = 1

REPLY_SECONDS = 30  # a reply is due at once; this only bounds a hung probe


class ProbeError(RuntimeError):
    pass


class Probe:
    def __init__(self, process: subprocess.Popen, start_timeout):
        """Takes the started probe and waits for its ready line."""
        self._process = process
        self._pending = b""
        self.ready = self._read_line(start_timeout)
        if not self.ready.get("ready"):
            raise ProbeError(f"trayprobe did not start: {self.ready}")

    def _read_line(self, timeout):
        fd = self._process.stdout.fileno()
        while b"\n" not in self._pending:
            if not select.select([fd], [], [], timeout)[0]:
                raise ProbeError(f"trayprobe gave no answer within {timeout} s")
            chunk = os.read(fd, 1 << 16)
            if not chunk:
                raise ProbeError(f"trayprobe ended (exit code {self._process.poll()})")
            self._pending += chunk
        line, self._pending = self._pending.split(b"\n", 1)
        return json.loads(line.decode("utf-8"))

    def call(self, *words):
        """Sends one command; returns the reply, or raises ProbeError when it failed."""
        line = " ".join(str(w) for w in words) + "\n"
        self._process.stdin.write(line.encode("utf-8"))
        self._process.stdin.flush()
        reply = self._read_line(REPLY_SECONDS)
        if not reply.pop("ok"):
            raise ProbeError(f"{line.strip()}: {reply.get('error')}")
        return reply

    def quit(self):
        try:
            self._process.stdin.write(b"quit\n")
            self._process.stdin.close()
        except (BrokenPipeError, ValueError):
            pass

    # The tray.

    def state(self):
        """Every icon the shell was given: tip, icon name, balloons, counts."""
        return self.call("state")

    def icon(self):
        """The program's icon record (owner class corvinaClass), or None."""
        icons = [i for i in self.state()["icons"] if i["owner_class"] == "corvinaClass"]
        present = [i for i in icons if i["present"]]
        return (present or icons or [None])[-1]

    def events(self, since=0):
        """The Shell_NotifyIcon calls after sequence number `since`, in order."""
        return self.call("events", since)["events"]

    def load_exe(self, path):
        """Names the built-in state icons of a program file: "101", "105", ... "101@32"."""
        return self.call("load_exe", windows_path(path))

    def load_ico(self, name, path, size=16):
        """Names an icon file's image as the tray receives it at the given size."""
        return self.call("load_ico", name, size, windows_path(path))

    def refuse_adds(self, count):
        """The next `count` NIM_ADD calls fail, as with a shell that cannot take them."""
        return self.call("refuse_adds", count)

    def tray_notify(self, mouse_message):
        """Posts the icon's callback message, as the shell does for a mouse action."""
        return self.call("tray_notify", mouse_message)

    def click_icon(self):
        return self.tray_notify(WM_LBUTTONUP)

    def double_click_icon(self):
        return self.tray_notify(WM_LBUTTONDBLCLK)

    def right_click_icon(self):
        return self.tray_notify(WM_RBUTTONUP)

    def taskbar_created(self, forget=True):
        """Broadcasts "TaskbarCreated"; with forget, the tray first drops every icon."""
        return self.call("taskbar_created", "forget" if forget else "keep")

    # The program's windows.

    def process(self):
        """{"running", "windows", "hwnd", "pid"} of the corvinaClass window."""
        return self.call("process")

    def command(self, command_id):
        """Posts WM_COMMAND with the id to the program's main window."""
        return self.call("command", command_id)

    def popup(self):
        return self.call("popup")

    def popup_click(self, target, how="mouse"):
        """Clicks a popup button (1031, 1032) or "surface"; how: "mouse" or "post"."""
        return self.call("popup_click", target, how)

    def menu(self):
        return self.call("menu")

    def menu_choose(self, item_id):
        """Clicks the open menu's item with the mouse."""
        return self.call("menu_choose", item_id)

    def menu_close(self):
        return self.call("menu_close")

    def dialogs(self):
        """The program's dialogs and message boxes other than the popup."""
        return self.call("dialogs")["dialogs"]

    def message_boxes(self):
        """Visible message boxes as {"hwnd", "caption", "text", "buttons"}."""
        boxes = []
        for dialog in self.dialogs():
            controls = dialog["controls"]
            texts = [c["text"] for c in controls if c["class"] == "Static" and c["text"]]
            buttons = {c["id"]: c["text"] for c in controls if c["class"] == "Button"}
            if dialog["visible"] and texts and buttons:
                boxes.append({"hwnd": dialog["hwnd"], "caption": dialog["caption"],
                              "text": "\n".join(texts), "buttons": buttons,
                              "topmost": dialog["topmost"]})
        return boxes

    def press(self, dialog_hwnd, button_id=IDOK):
        return self.call("press", dialog_hwnd, button_id)

    def tabs(self, dialog_hwnd):
        """The dialog's tab strip: "current", "enabled", "items" ("text", "rect")."""
        return self.call("tabs", dialog_hwnd)

    def focus(self):
        """The program's "focus", "active" and the "foreground" window: "hwnd", "id", "class"."""
        return self.call("focus")

    def resources(self, pid=None):
        """{"handles", "gdi"} the program's process holds (or process `pid`)."""
        return self.call("resources", *([pid] if pid else []))

    def mouse_move(self, x, y):
        return self.call("mouse_move", x, y)
