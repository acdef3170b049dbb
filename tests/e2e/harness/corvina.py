"""corvina.exe in a program folder of its own, with an INI file written by the test.

The program keeps its default corvina.ini and its uidl.txt beside the exe,
so every test gets a fresh folder with a fresh copy.
"""
import shutil

from .password import encode_password
from .paths import corvina_exe, windows_path

INI_KEYS = (
    "SERVER", "ACCOUNT", "PASSWORD", "USEAPOP", "USEUIDL", "INTERVAL", "STARTUP_WAIT",
    "RETRY_MAX", "RETRY_INTERVAL", "MAILER", "USE_SOUND", "SOUND_FILE", "BACK_COLOR",
    "STOP_IF_MSG", "USE_POPUPDLG", "POPUPDLG_TEXT_COLOR", "POPUPDLG_BACK_COLOR",
    "USE_SYSTEMCOLOR", "POPUPDLG_X", "POPUPDLG_Y", "USE_BALOON", "POPUP_ICON", "NORMAL_ICON",
    "CHECK_ICON", "ARRIVE_ICON", "ERROR_ICON", "WAIT_ICON", "AUTO_POPUP_CLOSE",
    "AUTO_POPUP_CLOSE_TIME")


def ini_bytes(settings):
    """The INI file's bytes: section CONFIG, code page 932, CR LF line ends.

    Values: True/False become 1/0, numbers their decimal text, and bytes are
    written unchanged (for values that are not valid text). A key the
    program does not know is refused, so a typo cannot pass unnoticed.
    """
    lines = [b"[CONFIG]"]
    for key, value in settings.items():
        if key not in INI_KEYS:
            raise KeyError(f"corvina has no setting {key}")
        if isinstance(value, bool):
            value = int(value)
        if not isinstance(value, bytes):
            value = str(value).encode("cp932")
        lines.append(key.encode("ascii") + b"=" + value)
    return b"\r\n".join(lines) + b"\r\n"


class Corvina:
    def __init__(self, desktop, folder):
        self.desktop = desktop
        self.folder = folder
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        self.exe = folder / "corvina.exe"
        shutil.copy2(corvina_exe(), self.exe)
        self.default_ini = folder / "corvina.ini"
        self.uidl_file = folder / "uidl.txt"
        self.process = None

    def write_ini(self, settings, path=None):
        """Writes the settings as an INI file (the default one beside the exe)."""
        path = path or self.default_ini
        path.write_bytes(ini_bytes(settings))
        return path

    @staticmethod
    def encode_password(plain):
        """The PASSWORD value for a plain password."""
        return encode_password(plain)

    def start(self, ini=None, args=()):
        """Starts the program: with /I<ini> when an INI path is given, then args.

        The path follows the option's letter at once: "/I path" would give
        the option an empty value, which changes nothing.
        """
        arguments = (["/I" + windows_path(ini)] if ini else []) + list(args)
        self.process = self.desktop.start(self.exe, *arguments, log="corvina")
        return self.process

    def ini_entries(self, path=None):
        """The (key, value) lines of the INI file's CONFIG section, in file
        order, values decoded from code page 932; None when there is no file."""
        path = path or self.default_ini
        if not path.exists():
            return None
        entries, section = [], None
        for line in path.read_bytes().decode("cp932").split("\r\n"):
            if line.startswith("[") and line.endswith("]"):
                section = line[1:-1]
            elif section == "CONFIG" and "=" in line:
                key, value = line.split("=", 1)
                entries.append((key, value))
        return entries

    def uidl_lines(self):
        """The lines of uidl.txt, or None when there is no such file."""
        if not self.uidl_file.exists():
            return None
        return self.uidl_file.read_bytes().decode("latin-1").splitlines()

    def wait_exit(self, timeout=10):
        """The exit code of the program, waiting at most timeout seconds."""
        return self.process.wait(timeout)
