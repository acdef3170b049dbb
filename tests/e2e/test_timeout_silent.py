"""A server that accepts the connection and then says nothing: the session
ends after 30 seconds."""
import time

from harness import ERROR, SILENT, Behaviour, scripted_settings, start, tray_shows



def test_a_silent_server_times_out_after_30_seconds(desktop, pop3):
    pop3.play(Behaviour(greeting=SILENT))
    start(desktop, scripted_settings(pop3))
    connected = pop3.connection(0).accepted_at
    tray_shows(desktop.probe, "タイムアウト発生", ERROR, timeout=40)
    waited = time.monotonic() - connected
    assert 29 <= waited <= 35, waited
    assert pop3.connection(0).lines == []
