"""The end-to-end harness: corvina.exe under Wine, in Xvfb, with real servers.

A test module is a file of test_* functions run by `python3 -m harness`;
see runner.py for the fixtures a test can ask for.
"""
from .corvina import INI_KEYS, ini_bytes
from .dovecot import Mailbox, message_bytes
from .password import decode_password, encode_password
from .paths import windows_path
from .pop3_script import (CLOSE, RESET, SILENT, TIME_STAMP, Action, Behaviour, ScriptedPop3,
                          long_line, raw, reply)
from .probe import (IDM_CHECK, IDM_EXIT, IDM_PAUSE, IDM_SETTINGS, IDOK, POPUP_CLOSE_BUTTON,
                    POPUP_MAIL_BUTTON, WM_LBUTTONDBLCLK, WM_LBUTTONUP, WM_RBUTTONUP, ProbeError)
from .waiting import WaitTimeout, wait_for
