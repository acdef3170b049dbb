"""Many checks in a row against Dovecot, with mail arriving and leaving
between them and the user taking note now and then: every check ends with
the right tool tip, uidl.txt always holds the last listing the user took
note of, and the program's handles and GDI objects do not grow.

CORVINA_SOAK_CHECKS sets the number of checks (30 by default); the long
run is CORVINA_SOAK_CHECKS=1000.
"""
import os
import random

from harness import check_ends_with, dovecot_settings, outcome_text, start, tray_shows, wait_for


CHECKS = int(os.environ.get("CORVINA_SOAK_CHECKS", "30"))
WARM_UP = 10  # checks before the counts are taken as the baseline


def test_many_checks_in_a_row(desktop, mailbox):
    probe = desktop.probe
    rng = random.Random(20261206)
    keys = [mailbox.add_message(size=rng.randint(200, 5000)) for _ in range(3)]
    app = start(desktop, dovecot_settings(mailbox, USEUIDL=1, USEAPOP=1, STARTUP_WAIT=60))
    pid = probe.process()["pid"]
    seen = set()  # the ids of the listing the user last took note of
    acknowledged = None
    baseline = None
    for number in range(CHECKS):
        for _ in range(rng.choice((0, 0, 1, 2))):
            keys.append(mailbox.add_message(size=rng.randint(200, 3_000_000 if number % 50 == 7
                                                             else 5000)))
        if keys and rng.random() < 0.3:
            mailbox.delete_message(keys.pop(rng.randrange(len(keys))))
        current = mailbox.listing()
        unseen = [size for uid, size in current if uid not in seen]
        check_ends_with(probe, outcome_text(len(unseen), sum(unseen)), timeout=30)
        if rng.random() < 0.2:
            probe.click_icon()
            seen = {uid for uid, _ in current}
            acknowledged = [uid for uid, _ in current]
            # Taking note writes the listing of this check.
            wait_for(app.uidl_lines, lambda lines: lines == acknowledged,
                     what=f"uidl.txt after taking note at check {number}")
            tray_shows(probe, "corvina")
        assert app.uidl_lines() == acknowledged, number
        if number == WARM_UP:
            baseline = probe.resources(pid)
    final = probe.resources(pid)
    assert all(final[key] <= baseline[key] for key in ("handles", "gdi")), (baseline, final)
    wait_for(lambda: probe.process()["running"], what="the program still running")
