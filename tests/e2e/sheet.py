"""The settings sheet as a person uses it: opened from the tray menu (or at
first start), tabs and controls clicked with the mouse, text typed on the
keyboard, read back through the probe.

Each page numbers its controls on its own, so a control is named by its tab
and its id; the sheet's own buttons (OK, Cancel) by their id alone.
"""
import re

from harness import IDM_SETTINGS, wait_for

CAPTION = "corvina のプロパティ"
TABS = ["動作設定", "アカウント設定", "通信設定", "アイコン設定", "About"]
NOTIFY, ACCOUNT, TIMING, ICONS, ABOUT = range(len(TABS))
OK, CANCEL = 1, 2
PAGE_CLASS = "#32770"

# Account page.
TEST_BUTTON, SERVER, USER, PASSWORD, USEAPOP, USEUIDL, LOG = (
    1000, 1004, 1021, 1022, 1023, 1007, 1027)
ACCOUNT_INPUTS = (SERVER, USER, PASSWORD, USEAPOP, USEUIDL)
# Notification page.
USE_POPUP, POSITION, SAMPLE, USE_BALLOON, AUTO_CLOSE, AUTO_CLOSE_TIME, MAILER, STARTUP = (
    1007, 1039, 1029, 1030, 1040, 1041, 1005, 1020)
SOUND_TEST = 1017
# Timing page.
INTERVAL, STARTUP_WAIT, RETRY_MAX, RETRY_INTERVAL, DEFAULTS, STOP_IF_MSG = (
    1008, 1024, 1025, 1006, 1000, 1026)

NIF_TIP = 0x04  # a tray event that set the tool tip
SHEET_SECONDS = 20  # the first start and the menu open it within a few seconds


def find_sheet(probe):
    """The settings sheet's dialog record, or None while it is not shown."""
    sheets = [d for d in probe.dialogs() if d["caption"] == CAPTION and d["visible"]]
    return sheets[0] if sheets else None


def open_from_menu(desktop):
    """Right-click on the tray icon, "設定" in its menu: the sheet."""
    probe = desktop.probe
    probe.right_click_icon()
    wait_for(probe.menu, lambda menu: menu["open"], what="the tray menu")
    probe.menu_choose(IDM_SETTINGS)
    return Sheet(desktop)


class Sheet:
    """The open sheet; waits for it to be shown."""

    def __init__(self, desktop):
        self.desktop = desktop
        self.probe = desktop.probe
        self.input = desktop.input
        self.hwnd = wait_for(lambda: find_sheet(self.probe), timeout=SHEET_SECONDS,
                             what="the settings sheet")["hwnd"]
        self.pages = {}  # tab index -> the page's window, once it has been shown
        page = wait_for(self._visible_page, what="the sheet's first page")
        self.pages[self.tabs()["current"]] = page["hwnd"]

    def record(self):
        """The sheet as the probe reads it now: rect, client, controls."""
        return next(d for d in self.probe.dialogs() if d["hwnd"] == self.hwnd)

    def tabs(self):
        return self.probe.tabs(self.hwnd)

    def _visible_page(self):
        pages = [c for c in self.record()["controls"]
                 if c["class"] == PAGE_CLASS and c["parent"] == self.hwnd and c["visible"]]
        return pages[0] if len(pages) == 1 else None

    def show(self, tab):
        """Clicks the tab and waits for its page; returns the page's window."""
        self.input.click_centre(self.tabs()["items"][tab]["rect"])
        wait_for(lambda: self.tabs()["current"], lambda current: current == tab,
                 what=f"tab {TABS[tab]}")
        page = wait_for(self._visible_page, what=f"the page of {TABS[tab]}")
        self.pages[tab] = page["hwnd"]
        return page["hwnd"]

    def controls(self, tab=None):
        """The controls of a page (tab), or the sheet's own ones (None)."""
        parent = self.hwnd if tab is None else self.pages[tab]
        return [c for c in self.record()["controls"] if c["parent"] == parent]

    def control(self, id, tab=None):
        found = [c for c in self.controls(tab) if c["id"] == id]
        if len(found) != 1:
            where = "the sheet" if tab is None else TABS[tab]
            raise LookupError(f"{len(found)} controls {id} on {where}")
        return found[0]

    def text(self, id, tab=None):
        return self.control(id, tab)["text"]

    def click(self, id, tab=None):
        self.input.click_centre(self.control(id, tab)["rect"])

    def focus_on(self, id, tab):
        """Clicks into the control and waits until it has the keyboard focus."""
        target = self.control(id, tab)["hwnd"]
        self.input.click_centre(self.control(id, tab)["rect"])
        wait_for(self.probe.focus, lambda f: f["focus"]["hwnd"] == target,
                 what=f"the focus in control {id}")

    def type_into(self, id, tab, text):
        """Replaces the edit's text with text as typed; the focus stays in it."""
        self.focus_on(id, tab)
        self.input.key("End", "shift+Home", "BackSpace")
        if text:
            self.input.type(text)

    def enter(self, id, tab, text):
        """Types text into the edit and leaves it with Tab, as a person fills a form."""
        self.type_into(id, tab, text)
        self.input.key("Tab")
        edit = self.control(id, tab)["hwnd"]
        wait_for(self.probe.focus, lambda f: f["focus"]["hwnd"] != edit,
                 what=f"the focus to leave control {id}")

    def wait_text(self, id, tab, condition, what, timeout=10):
        return wait_for(lambda: self.text(id, tab), condition, timeout=timeout, what=what)

    def close(self, button, key=None):
        """Clicks OK or Cancel (or presses the key instead); waits until the
        sheet has gone and the program is done with it.

        The INI file is written after the sheet's window has gone; the
        program then sets the tool tip "corvina", so that tip, set after
        the click, says the file is complete.
        """
        since = self.probe.state()["seq"]
        if key:
            self.input.key(key)
        else:
            self.click(button)
        wait_for(lambda: find_sheet(self.probe) is None, timeout=SHEET_SECONDS,
                 what="the settings sheet to close")
        wait_for(lambda: self.probe.events(since),
                 lambda events: any(e["flags"] & NIF_TIP and e["tip"] == "corvina"
                                    for e in events),
                 what="the tool tip after the settings")


def log_entries(sheet):
    """The connection test's log, split at its line ends (a last "" after a final one)."""
    return sheet.text(LOG, ACCOUNT).split("\r\n")


def log_matches(entries, patterns):
    """Whether each entry matches its regular expression, and nothing is left over."""
    return len(entries) == len(patterns) and all(
        re.fullmatch(pattern, entry) for pattern, entry in zip(patterns, entries))


def run_connection_test(sheet, patterns, timeout=20):
    """Clicks the test button and waits until the test has ended with this log.

    The button reads "テスト" after every test, so the end is known by the
    log: the test clears it first, and each caller expects a log that
    differs from the one before.
    """
    sheet.click(TEST_BUTTON, ACCOUNT)

    def state():
        return sheet.text(TEST_BUTTON, ACCOUNT), log_entries(sheet)
    return wait_for(state, lambda s: s[0] == "テスト" and log_matches(s[1], patterns),
                    timeout=timeout, what=f"a test whose log reads {patterns}")[1]
