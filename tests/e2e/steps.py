"""Steps the program's end-to-end tests share: start corvina against a
server, and wait for what the tray shows."""
import time

from harness import encode_password, wait_for

NORMAL, CHECK, ARRIVE, ERROR, WAIT = "109", "106", "105", "108", "118"

# Settings that make a test quick: the first check right away, no retries.
QUICK = {"STARTUP_WAIT": 0, "RETRY_MAX": 0, "USEAPOP": 0}


def outcome_text(count, size):
    """What the tool tip reads after a check that found count messages of size bytes."""
    if count == 0:
        return "新着メールはありません"
    if size < 2048:
        suffix = f" ({size} バイト)"
    elif size < 2 * 1024 * 1024:
        suffix = f" ({-(-size // 1024)}Kバイト)"
    else:
        suffix = f" ({-(-size // (1024 * 1024))}Mバイト)"
    return f"{count} 通のメール{suffix}"


def dovecot_settings(mailbox, **extra):
    settings = dict(QUICK, SERVER="127.0.0.1", ACCOUNT=mailbox.name,
                    PASSWORD=encode_password(mailbox.password))
    settings.update(extra)
    return settings


def scripted_settings(pop3, **extra):
    """For the scripted server, whose user is alice with the password secret."""
    settings = dict(QUICK, SERVER=pop3.address[0], ACCOUNT="alice",
                    PASSWORD=encode_password("secret"))
    settings.update(extra)
    return settings


def start(desktop, settings, args=()):
    """A fresh copy of corvina with these settings, its icon in the tray."""
    app = desktop.corvina()
    desktop.probe.load_exe(app.exe)
    app.start(app.write_ini(settings), args)
    wait_for(desktop.probe.icon, lambda icon: icon and icon["present"], timeout=20,
             what="corvina's tray icon")
    return app


def tray_shows(probe, tip, icon=None, timeout=20):
    """Waits until the tool tip (and the icon, when given) read as expected."""
    def matches(record):
        return record and record["tip"] == tip and (icon is None or record["icon"] == icon)
    return wait_for(probe.icon, matches, timeout=timeout, what=f"tip {tip!r}, icon {icon}")


def check_ends_with(probe, tip, icon=None, timeout=20):
    """Asks for a check from the menu command and waits for its outcome."""
    since = probe.state()["seq"]
    probe.command(2001)
    wait_for(lambda: probe.events(since),
             lambda events: any(e["tip"] == "サーバーとの通信中..." for e in events),
             timeout=timeout, what="the check to start")
    return tray_shows(probe, tip, icon, timeout)


def holds_for(observe, condition, seconds, what):
    """Asserts that condition(observe()) holds throughout the next `seconds`:
    for what must not happen, such as a retry beyond the last one."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = observe()
        assert condition(value), f"{what} did not hold: {value!r}"
        time.sleep(0.1)


def popup_on_screen(popup):
    """The popup is shown: visible, not minimised, inside the work area (it
    waits off the screen, at (-300, 10000), between announcements)."""
    if not popup.get("visible") or popup["iconic"]:
        return False
    left, top, right, bottom = popup["rect"]
    area_left, area_top, area_right, area_bottom = popup["work_area"]
    return area_left <= left and area_top <= top and right <= area_right and bottom <= area_bottom


def popup_put_away(popup):
    return not popup.get("visible") or popup["iconic"]
