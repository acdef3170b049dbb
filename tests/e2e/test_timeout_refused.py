"""A refused connection: completion of the connect is not asked for, so it
ends through the 30-second time-out, not with a connection error."""
import time

from harness import encode_password, wait_for
from steps import CHECK, ERROR, start, tray_shows


def test_a_refused_connection_times_out(desktop, slot):
    # Nothing listens on the slot's address.
    start(desktop, {"SERVER": slot.address, "ACCOUNT": "alice",
                    "PASSWORD": encode_password("secret"), "STARTUP_WAIT": 0, "RETRY_MAX": 0})
    tray_shows(desktop.probe, "サーバーとの通信中...", CHECK)
    started = time.monotonic()
    tray_shows(desktop.probe, "タイムアウト発生", ERROR, timeout=40)
    assert 28 <= time.monotonic() - started <= 35
