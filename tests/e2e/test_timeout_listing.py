"""A UIDL listing that never ends: the 30-second time-out ends the check,
and the seen ids stay as they were."""
from harness import Action, Behaviour
from steps import ERROR, scripted_settings, tray_shows


def test_a_listing_that_never_ends(desktop, pop3):
    pop3.play(Behaviour(messages=(10, 20),
                        faults={"UIDL": Action(data=b"+OK\r\n1 a\r\n", silent=True)}))
    app = desktop.corvina()
    app.uidl_file.write_bytes(b"seen\r\n")
    desktop.probe.load_exe(app.exe)
    app.start(app.write_ini(scripted_settings(pop3, USEUIDL=1)))
    tray_shows(desktop.probe, "タイムアウト発生", ERROR, timeout=45)
    desktop.probe.click_icon()
    tray_shows(desktop.probe, "corvina")
    assert app.uidl_file.read_bytes() == b"seen\r\n"
