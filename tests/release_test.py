"""What Windows shows about corvina.exe, read from the exe itself: its size,
the version resource's fields, the manifest, every resource's language and
the icons' frames.    python3 release_test.py <corvina.exe>"""
import re
import struct
import subprocess
import sys

exe = sys.argv[1]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def resource(kind, name=None):
    args = ["wrestool", "-x", "--raw", f"--type={kind}"] + ([f"--name={name}"] if name else [])
    return subprocess.run(args + [exe], check=True, capture_output=True).stdout


with open(exe, "rb") as program:
    size = len(program.read())
check(size <= 300 * 1024, f"the exe is {size} bytes, more than 300 KB")

listing = subprocess.run(["wrestool", "-l", exe], check=True, capture_output=True,
                         text=True).stdout.splitlines()
check(listing and all("--language=1041 " in line for line in listing),
      "resources not tagged Japanese: " + "; ".join(l for l in listing if "=1041 " not in l))

# The string table Explorer shows: key, then value, in UTF-16 after its header.
info = resource(16).decode("utf-16-le", "replace")
fields = dict(re.findall(r"([A-Za-z]+)\x00+([^\x00]+)\x00", info.split("041103a4", 1)[-1]))
for key, expected in (("CompanyName", "corvina project"), ("ProductName", "corvina"),
                      ("LegalCopyright", "Copyright (C) corvina project. フリーソフトウェア（転載・再配布自由）"),
                      ("OriginalFilename", "corvina.exe")):
    check(fields.get(key) == expected, f"{key} is {fields.get(key)!r}, not {expected!r}")

manifest = resource(24).decode()
check(re.findall(r'requestedExecutionLevel level="(\w+)"', manifest) == ["asInvoker"],
      "the manifest does not ask for the user's own rights (asInvoker) once")
check(re.findall(r'supportedOS Id="([^"]+)"', manifest) ==
      ["{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"], "supportedOS is not Windows 10 and 11 only")

# Each icon: 32-bit frames of each size, the light and the dark drawing of each state.
TRAY = [16, 20, 24, 32, 40, 48]
for name, sizes in [(101, TRAY + [256])] + [(id + dark, TRAY) for id in (105, 106, 108, 109, 118)
                                            for dark in (0, 100)]:
    group = resource(14, name)
    count = struct.unpack_from("<H", group, 4)[0]
    frames = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(count)]
    held = [(width or 256, bits) for width, _, _, _, _, bits, _, _ in frames]
    check(held == [(s, 32) for s in sizes], f"icon {name} holds {held} (size, bits)")

print("\n".join(failures) or f"corvina.exe: {size} bytes, resources as Windows should show them")
sys.exit(1 if failures else 0)
