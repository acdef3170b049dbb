"""Every failure text the program can show, in its tool tip, its connection
test's log or the message box beside them, is explained in the Japanese guide,
and the guide goes into code page 932 whole. The texts are taken from the
calls in the sources that make them, so a new one cannot be left out."""
import pathlib, re, sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
MAKES_FAILURE = re.compile(r"\b(?:fail|set_error_text|launch_failed|save_failed)\s*\(|"
                           r"\btext_copy\(session\.error_text|\b(?:missing|\w*failure\w*) = ")


def failure_texts():
    sources = [path.read_text(encoding="utf-8") for folder in ("core", "pop3", "settings", "tray", "ui")
               for path in (ROOT / folder).glob("*.cpp")]
    named = dict(re.findall(r'\b(\w+)\[\] = "([^"]*)"', "".join(sources)))
    texts = set()
    for code in sources:
        for found in MAKES_FAILURE.finditer(code):
            call = code[found.start():code.index(";", found.start())]
            texts |= set(re.findall(r'"([^"]+)"', call))
            texts |= {named[word] for word in re.findall(r"\b[A-Z_]+\b", call) if word in named}
    return texts


guide = (ROOT / "docs" / "README-ja.txt").read_text(encoding="utf-8")
guide.encode("cp932")  # raises at the first character Notepad would not show
texts = failure_texts()
missing = sorted(text for text in texts if text not in guide)
print(f"{len(texts)} failure texts, missing from the guide: {missing}")
sys.exit(1 if missing or len(texts) < 20 else 0)
