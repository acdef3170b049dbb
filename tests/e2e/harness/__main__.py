"""python3 -m harness <test module> [test names...]"""
import sys

from .runner import main

sys.exit(main(sys.argv))
