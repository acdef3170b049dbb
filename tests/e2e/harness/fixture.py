"""CTest's fixture: python3 -m harness.fixture setup | teardown

The layer runs in a network namespace of its own, named after the build
folder (E2E_NETNS): its Dovecot, its scripted servers, Xvfb and every Wine
server of its prefixes listen there, so 127.0.0.1:110 is free whatever the
machine runs, and nothing outside is touched. Every test runs under
`ip netns exec`; Wine's sockets belong to the wineserver, which a test's
first Wine program starts inside the namespace.
"""
import os
import subprocess
import sys

from . import dovecot

NAMESPACE = os.environ["E2E_NETNS"]


def _ip(*args, check=True):
    return subprocess.run(["ip", *args], check=check, stderr=subprocess.DEVNULL)


def setup():
    teardown()  # ours, left by an aborted run
    _ip("netns", "add", NAMESPACE)
    _ip("-n", NAMESPACE, "link", "set", "lo", "up")
    sys.exit(subprocess.run(["ip", "netns", "exec", NAMESPACE, sys.executable, "-m",
                             "harness.fixture", "dovecot"]).returncode)


def teardown():
    dovecot.stop()
    _ip("netns", "delete", NAMESPACE, check=False)


{"setup": setup, "teardown": teardown, "dovecot": dovecot.start}[sys.argv[1]]()
