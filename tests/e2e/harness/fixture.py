"""CTest's fixtures: python3 -m harness.fixture dovecot-start | dovecot-stop"""
import sys

from . import dovecot

{"dovecot-start": dovecot.start, "dovecot-stop": dovecot.stop}[sys.argv[1]]()
