"""A failing periodic series: one attempt and RETRY_MAX retries,
RETRY_INTERVAL seconds apart, then rest; a manual check is never retried."""
from harness import Behaviour, reply, wait_for
from steps import ERROR, check_ends_with, holds_for, scripted_settings, start, tray_shows

REFUSED = Behaviour(faults={"PASS": reply(b"-ERR [SYS/TEMP] try later")})


def test_a_failing_series_is_retried_retry_max_times(desktop, pop3):
    pop3.play(REFUSED)
    start(desktop, scripted_settings(pop3, RETRY_MAX=2, RETRY_INTERVAL=1))
    wait_for(lambda: len(pop3.connections), lambda n: n == 3, what="three attempts")
    tray_shows(desktop.probe, "-ERR [SYS/TEMP] try later", ERROR)
    starts = [c.accepted_at for c in pop3.connections]
    # Each retry comes a second (two 500 ms ticks) after the failure before it.
    assert all(later - earlier >= 0.9 for earlier, later in zip(starts, starts[1:])), starts
    holds_for(lambda: len(pop3.connections), lambda n: n == 3, seconds=4,
              what="no fourth attempt")


def test_a_manual_check_is_not_retried(desktop, pop3):
    pop3.play(Behaviour(), REFUSED)
    start(desktop, scripted_settings(pop3, RETRY_MAX=3, RETRY_INTERVAL=1))
    tray_shows(desktop.probe, "1 通のメール (1000 バイト)")
    check_ends_with(desktop.probe, "-ERR [SYS/TEMP] try later", ERROR)
    holds_for(lambda: len(pop3.connections), lambda n: n == 2, seconds=4,
              what="no retry of the manual check")
