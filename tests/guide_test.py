"""Every failure text the program can show, in its tool tip, its connection
test's log or the message box beside them, is explained in the Japanese guide,
and the guide goes into code page 932 whole. The texts are taken from the
calls in the sources that make them, so a new one cannot be left out. Every
failure of a check has a line of advice for the log, and every such line
stands in the guide word for word."""
import pathlib, re, sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
MAKES_FAILURE = re.compile(r"\b(?:fail|set_error_text|launch_failed|save_failed|pop_certificate_refused)\s*\(|"
                           r"\btext_copy\(session\.error_text|\b(?:missing|\w*failure\w*) =\s")


def failure_texts(skip=()):
    sources = [path.read_text(encoding="utf-8") for folder in ("core", "pop3", "settings", "tray", "ui")
               for path in (ROOT / folder).glob("*.cpp") if path.name not in skip]
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

# The advice table: {failure, advice} rows, a name standing for either text.
hint_source = (ROOT / "pop3" / "failure_hint.cpp").read_text(encoding="utf-8")
named = dict(re.findall(r'\b(\w+)\[\] =\s*"([^"]*)"', hint_source))
rows = [[named.get(word, word.strip('"')) for word in row]
        for row in re.findall(r'\{("[^"]*"|\w+), ("[^"]*"|\w+)\}', hint_source)]
advice = {row[1] for row in rows} | {named["SERVER_REPLY_ADVICE"]}
advice_missing = sorted(line for line in advice if line not in guide.splitlines() and
                        "      " + line not in guide.splitlines())
# A mail program that does not start, a save that fails (its message box
# says what to do) and a check the user stopped end no check with a failure:
# nothing to advise in the log.
check_failures = failure_texts(skip=("mail_program.cpp", "settings.cpp", "sheet_win32.cpp",
                                     "notify_page_win32.cpp")) - {"処理を中止しました"}
unadvised = sorted(check_failures - {row[0] for row in rows})
print(f"{len(advice)} lines of advice, missing from the guide: {advice_missing}; "
      f"failures without advice: {unadvised}")
sys.exit(1 if missing or advice_missing or unadvised or len(texts) < 20 or len(advice) < 15
         else 0)
