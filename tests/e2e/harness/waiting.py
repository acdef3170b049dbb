"""Waiting for a condition, never for a fixed time.

Every wait polls a cheap query until the condition holds or the time-out
passes, and then fails with the last thing it saw, so a failure says what
the program was doing instead of only that it was late.
"""
import time

POLL_SECONDS = 0.05


class WaitTimeout(AssertionError):
    pass


def wait_for(observe, condition=bool, timeout=10.0, what="the condition"):
    """Polls observe() until condition(value) holds; returns that value.

    observe is the query (a probe call, a file read); condition judges its
    value. On time-out, raises WaitTimeout naming what was awaited and the
    last value observed.
    """
    deadline = time.monotonic() + timeout
    while True:
        value = observe()
        if condition(value):
            return value
        if time.monotonic() >= deadline:
            raise WaitTimeout(f"waited {timeout:g} s for {what}; last seen: {value!r}")
        time.sleep(POLL_SECONDS)
