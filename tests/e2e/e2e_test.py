#!/usr/bin/env python3
"""End-to-end test of patchbuilder.exe, driven through X as a user would.

xdotool clicks and types; the probe reads what X cannot tell. Patches are
compared with a model of the format. Usage: e2e_test.py TOOL PROBE WORK
"""

import hashlib
import os
import random
import shutil
import subprocess
import sys
import time
from pathlib import Path

TOOL, PROBE, WORK = (os.path.abspath(a) for a in sys.argv[1:4])
SEED = int(os.environ.get("PB_E2E_SEED", "0")) or int(time.time())
INPUTS, OUT, RUN = (os.path.join(WORK, name) for name in ("in", "out", "run"))
STARTED = []  # processes to end after each case

STUB_SIZE = int(os.environ["PB_STUB_SIZE"])  # passed on from the build
REAL_STUB = os.environ["PB_STUB"]  # the build's patch.dat, which applies compact patches
CLIENT_SIZE = (361, 577)

# Client-area rectangles (x, y, width, height) of the controls the test uses.
LAYOUT = {1: (10, 30, 340, 20), 3: (10, 80, 340, 20), 5: (10, 130, 340, 20),
          6: (10, 180, 340, 20), 9: (10, 230, 340, 20), 10: (10, 280, 340, 20),
          12: (10, 330, 70, 20), 14: (100, 330, 70, 20), 27: (190, 330, 70, 20),
          16: (10, 380, 280, 20), 18: (300, 380, 50, 20), 19: (10, 430, 280, 20),
          20: (300, 430, 50, 20), 21: (30, 470, 150, 30), 24: (190, 470, 150, 30)}
OLD_FIELD, OPEN_OLD, NEW_FIELD, OPEN_NEW, GENERATE, PROGRESS, EXIT = 16, 18, 19, 20, 21, 22, 24

INITIAL_TEXTS = {
    0: "Program title (e.g. 'Welcome to Dune rally update from 1.0 up to 1.1')",
    1: "", 2: "Program description (e.g 'This program will update Dune rally ...')",
    3: "", 4: "System notice", 5: "",
    6: "It is recomended that you close all other applications before continuing",
    7: "Select folder tip", 8: "Old version file",
    9: "Select the folder where you would like update to be installed, then click Install",
    10: "", 11: "Install button", 12: "Install",
    13: "Window title (e.g 'Dune rally update')", 14: "Exit", 15: "Exit button",
    16: "", 17: "New version file", 18: "Open", 19: "", 20: "Open",
    21: "Generate patch", 22: "0", 23: "Default install folder", 24: "Exit",
    26: "Open folder button", 27: "Open",
}

# The nine texts' fields in payload order; the messages for those that start
# empty (the console program's test covers the shared table of all nine).
TEXT_FIELDS = [1, 3, 5, 6, 9, 10, 27, 12, 14]
EMPTY_MESSAGES = {1: "Window title is empty", 3: "Program title is empty",
                  5: "Program description is empty", 10: "Default folder is empty"}
STUB_REFUSED = ("'patch.dat' can't apply compact patches: use the one that came with this "
                "tool, or make a plain patch")
SETTINGS_KEY = r"HKCU\Software\patchbuilder"


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def run(args, timeout=30, encoding="latin-1"):
    try:
        return subprocess.run([str(a) for a in args], capture_output=True, timeout=timeout,
                              encoding=encoding)
    except subprocess.TimeoutExpired:
        raise Failure(f"{args[0]} {args[1]} took over {timeout} s")


def xdo(*args):
    result = run(["xdotool", *args], timeout=20)
    check(result.returncode == 0, f"xdotool {args}: {result.stderr.strip()}")


def probe(*args, found=True):
    result = run(["wine", PROBE, *args], timeout=60)
    check((result.returncode == 0) == found, f"probe {' '.join(map(str, args))}: "
          + ("nothing found" if found else f"unexpected {result.stdout.strip()!r}"))
    return result.stdout.rstrip("\r\n")


def win_path(folder, name):
    return "Z:" + f"{folder}/{name}".replace("/", "\\")


def expected_patch(stub, texts, old_path, old, new):
    lines = list(texts) + [hashlib.md5(old).hexdigest(), hashlib.md5(new).hexdigest(),
                           str(len(old)), str(len(new)), old_path[old_path.rfind("\\") + 1:]]
    patch = bytearray(stub + "".join(line + "\r\n" for line in lines).encode("latin-1"))
    for i, byte in enumerate(new):  # 0: as the old byte (0 past its end); 1, byte: changed
        patch += b"\0" if byte == (old[i] if i < len(old) else 0) else bytes([1, byte])
    return bytes(patch)


def check_patch(path, expected):
    check(os.path.isfile(path), f"no patch written at {path}")
    written = Path(path).read_bytes()
    at = next((i for i, (a, b) in enumerate(zip(written, expected)) if a != b),
              min(len(written), len(expected)))
    check(written == expected, f"{path}: {len(written)} bytes, expected {len(expected)}; "
          f"first difference at offset {at}")


def expect_exit(process, what):
    try:
        code = process.wait(20)
    except subprocess.TimeoutExpired:
        raise Failure(f"{what} did not end the tool within 20 s")
    check(code == 0, f"{what}: exit code {code}")


class Tool:
    def __init__(self):
        self.process = subprocess.Popen(["wine", TOOL], cwd=RUN, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        STARTED.append(self.process)
        self.last_box = "0"
        x, y, width, height, *self.frame = map(int, probe("origin").split())
        check((width, height) == CLIENT_SIZE, f"client area {width}x{height}")
        self.origin = (x, y)

    def check_placed_and_painted(self):
        """Centred on the screen with a frame, and painted: fields where they belong."""
        left, top, right, bottom, screen_width, screen_height = self.frame
        check(abs(left - (screen_width - right)) <= 1
              and abs(top - (screen_height - bottom)) <= 1,
              f"window at {left},{top}-{right},{bottom} is not centred")
        frame = self.origin[0] - left
        caption = self.origin[1] - top - frame
        check(0 < frame < 10 and 10 < caption < 40, f"frame {frame}, caption {caption}")
        width, height = CLIENT_SIZE
        shot = run(["import", "-window", "root", "-crop",
                    f"{width}x{height}+{self.origin[0]}+{self.origin[1]}", "-depth", "8",
                    "ppm:-"], encoding=None).stdout
        pixels = shot.split(b"\n", 3)[3]

        def at(x, y):
            return pixels[(y * width + x) * 3:(y * width + x) * 3 + 3]

        face, white = at(5, 5), at(300, 40)
        check(face != white, "the form is not painted: field 1 looks like the background")
        for field in (1, 3, 5, 10, 16, 19):
            x, y, w, h = LAYOUT[field]
            check(at(x + w - 10, y + h // 2) == white, f"field {field} is not where it belongs")
            check(at(5, y + h // 2) == face, f"something covers the margin beside field {field}")

    def click(self, control):
        x, y, width, height = LAYOUT[control]
        xdo("mousemove", self.origin[0] + x + width // 2, self.origin[1] + y + height // 2,
            "click", "1")

    def set_field(self, control, text):
        """On a busy or emulated machine a typed key can go missing: read the
        field back and type again."""
        for _ in range(3):
            self.click(control)
            self.replace_text(text)
            if self.texts()[control] == text:
                return
        check(False, f"field {control} did not take {text!r}")

    def replace_text(self, text):
        xdo("key", "End", "shift+Home", "BackSpace")
        if text:
            xdo("type", "--delay", "4", text)

    def expect_box(self, caption, text, key="Return"):
        self.last_box, *seen = probe("box", self.last_box).split("\t", 2)
        check(seen == [caption, text], f"expected box {caption!r} {text!r}, saw {seen}")
        if key:
            self.press(key)

    def press(self, key):
        """A key for the dialog last seen, which then must close."""
        xdo("key", key)
        probe("gone", self.last_box)

    def expect_quiet(self):
        probe("box", self.last_box, "1500", found=False)

    def answer_file(self, title, path, watch=False):
        self.expect_box(title, "", key=None)
        if path is not None:
            self.replace_text(path)
        if watch:  # started now, it is there before the work begins
            self.watcher = subprocess.Popen(["wine", PROBE, "busy"], stdin=subprocess.PIPE,
                                            stdout=subprocess.PIPE, encoding="latin-1")
            STARTED.append(self.watcher)
        self.press("Escape" if path is None else "Return")

    def generate(self, save_as, texts=(), answer="y"):
        """Presses "Generate patch", expects an "Error!" box per empty text in table order,
        then the question; on Yes answers the save dialog (save_as None: Cancel)."""
        self.click(GENERATE)
        for field, text in zip(TEXT_FIELDS, texts):
            if not text:
                self.expect_box("Error!", EMPTY_MESSAGES[field])
        if "" in texts:
            self.expect_box("Error!", "Found error. Continue anyway?", key=answer)
        if answer == "y":
            self.answer_file("Select patch executable file ", save_as)

    def texts(self):
        return [line.split("\t", 1)[1] for line in probe("texts").splitlines()]

    def toggle_compact(self):
        """Alt+Space opens the window menu, P chooses "Compact patches". A click on
        the form's margin gives it the keyboard with no field focused."""
        xdo("mousemove", self.origin[0] + 4, self.origin[1] + 4, "click", "1")
        xdo("key", "alt+space")
        time.sleep(0.5)
        xdo("key", "p")

    def generate_watched(self, save_as):
        """Generates while a probe watches the form at work: it asks the form for an
        answer and closes it, then this clicks "Generate patch" again. Returns the
        answer and whether the form was still busy after the click."""
        self.click(GENERATE)
        self.answer_file("Select patch executable file ", save_as, watch=True)
        answer = self.watcher.stdout.readline().strip()
        self.click(GENERATE)
        self.watcher.stdin.write("\n")
        self.watcher.stdin.flush()
        busy = self.watcher.stdout.readline().strip()
        self.watcher.stdin.close()
        self.watcher.wait(20)
        return answer, busy


def stream_of(patch):
    """What follows the stub and the fourteen lines."""
    at = STUB_SIZE
    for _ in range(14):
        at = patch.index(b"\r\n", at) + 2
    return patch[at:]


def apply_patch(patch, folder):
    result = run(["wine", patch, "/S", "/D=" + win_path(folder, "")[:-1]], timeout=120)
    check(result.returncode == 0, f"{patch} /S: exit code {result.returncode}")


def make_inputs(rng):
    old = rng.randbytes(60000)
    new = bytearray(old)
    for i in rng.sample(range(len(new)), 600):
        new[i] = rng.randrange(256)
    # Zeros past the old file's end are coded like unchanged bytes.
    new += bytes(rng.choice([0, rng.randrange(256)]) for _ in range(10000))
    for name, data in {"old.exe": old, "new.exe": new}.items():
        Path(INPUTS, name).write_bytes(data)
    return old, bytes(new)


def main_run(stub, old, new):
    """Validation, both ways of naming files, patches and the "Exit" button."""
    tool = Tool()
    texts = tool.texts()
    for number, text in INITIAL_TEXTS.items():
        check(texts[number] == text, f"field {number} starts as {texts[number]!r}")
    check("Velloran" in texts[25], f"credit line {texts[25]!r}")
    tool.check_placed_and_painted()

    # The old file typed, the new one through "Open"; a cancelled "Open"
    # must leave its field alone, or the patches below would not be made.
    old_path = win_path(INPUTS, "old.exe")
    tool.set_field(OLD_FIELD, old_path)
    tool.click(OPEN_NEW)
    tool.answer_file("Choose new version executable file ", win_path(INPUTS, "new.exe"))
    tool.click(OPEN_OLD)
    tool.answer_file("Choose old version executable file ", None)

    # The form's own texts, some empty: refused on No; on Yes empty payload lines.
    initial = [INITIAL_TEXTS[field] for field in TEXT_FIELDS]
    tool.generate(None, initial, answer="n")
    tool.expect_quiet()
    tool.generate(win_path(OUT, "empties"), initial)
    tool.expect_box("Done!", "Process done")
    check_patch(f"{OUT}/empties.exe", expected_patch(stub, initial, old_path, old, new))

    typed = ["Dune rally update", "Welcome to Dune rally update from 1.0 up to 1.1",
             "This program will update Dune rally ...", "Close all other programs first",
             "Select the folder, then click Install", "   ", "Browse", "Install", "Quit"]
    for field, text in zip(TEXT_FIELDS, typed):
        tool.set_field(field, text)
    expected = expected_patch(stub, typed, old_path, old, new)
    for answer, written in [("out1", "out1.exe"), ("Out2.EXE", "Out2.EXE"),
                            ("out3.ex", "out3.ex.exe")]:
        tool.generate(win_path(OUT, answer))
        tool.expect_box("Done!", "Process done")
        check_patch(f"{OUT}/{written}", expected)
    check(tool.texts()[PROGRESS] == "100", "progress bar not at 100 after a patch")

    tool.generate(None)
    tool.expect_quiet()
    written = sorted(os.listdir(OUT))
    check(written == ["Out2.EXE", "empties.exe", "out1.exe", "out3.ex.exe"],
          f"files written: {written}")

    tool.click(EXIT)
    expect_exit(tool.process, "Exit")


def compact_run(stub, old, new, rng):
    """The window menu's "Compact patches": refused with a stand-in stub; made with
    the build's beside a form that keeps answering and stays open; applied by the
    stub; kept for the next start, where turning it off gives the plain patch."""
    # Large enough that the work outlasts the probe's questions and a click.
    big_old = rng.randbytes(12 << 20)
    big_new = bytearray(big_old)
    for i in rng.sample(range(len(big_new)), 2000):
        big_new[i] = rng.randrange(256)
    big_new[5000:5000] = rng.randbytes(3000)
    Path(INPUTS, "big.exe").write_bytes(big_old)
    Path(INPUTS, "big_new.exe").write_bytes(big_new)
    texts = ["Dune rally update", "Welcome", "Updates Dune rally", INITIAL_TEXTS[6],
             INITIAL_TEXTS[9], "C:\\Games", "Open", "Install", "Exit"]
    old_path = win_path(INPUTS, "big.exe")

    tool = Tool()
    for field, text in [(1, texts[0]), (3, texts[1]), (5, texts[2]), (10, texts[5]),
                        (OLD_FIELD, old_path), (NEW_FIELD, win_path(INPUTS, "big_new.exe"))]:
        tool.set_field(field, text)
    tool.toggle_compact()
    tool.generate(win_path(OUT, "refused"))
    tool.expect_box("Fatal error!", STUB_REFUSED)
    check(not os.path.exists(f"{OUT}/refused.exe"), "a refused patch was written")

    shutil.copy(REAL_STUB, Path(RUN, "patch.dat"))
    answer, busy = tool.generate_watched(win_path(OUT, "compact"))
    check(answer == "answered", f"the form at work: {answer or 'not seen busy'}")
    check(busy == "busy", "the work ended before the test could click; make the pair larger")
    tool.expect_box("Done!", "Process done")
    tool.expect_quiet()  # the click on the greyed button started nothing
    check(tool.process.poll() is None, "closed while the patch was made")
    patch = Path(OUT, "compact.exe").read_bytes()
    check(stream_of(patch)[:1] == b"\xfe" and len(patch) < STUB_SIZE + 100000,
          f"not a compact patch: {len(patch)} bytes")
    site = os.path.join(WORK, "site")
    os.makedirs(site)
    Path(site, "big.exe").write_bytes(big_old)
    apply_patch(f"{OUT}/compact.exe", site)
    check(Path(site, "big.exe").read_bytes() == big_new, "the compact patch gave another file")
    tool.click(EXIT)
    expect_exit(tool.process, "Exit")

    # Kept: turning it off now gives the plain patch, byte for byte.
    tool = Tool()
    old_path = win_path(INPUTS, "old.exe")
    for field, text in [(1, texts[0]), (3, texts[1]), (5, texts[2]), (10, texts[5]),
                        (OLD_FIELD, old_path), (NEW_FIELD, win_path(INPUTS, "new.exe"))]:
        tool.set_field(field, text)
    tool.toggle_compact()
    tool.generate(win_path(OUT, "plain"))
    tool.expect_box("Done!", "Process done")
    check_patch(f"{OUT}/plain.exe", expected_patch(Path(REAL_STUB).read_bytes(), texts,
                                                   old_path, old, new))
    tool.click(EXIT)
    expect_exit(tool.process, "Exit")
    Path(RUN, "patch.dat").write_bytes(stub)


def close_run():
    tool = Tool()
    probe("close")
    expect_exit(tool.process, "Closing the window")


def main():
    print(f"seed {SEED} (PB_E2E_SEED repeats it)", flush=True)
    rng = random.Random(SEED)
    shutil.rmtree(WORK, ignore_errors=True)
    for folder in (INPUTS, OUT, RUN):
        os.makedirs(folder)
    old, new = make_inputs(rng)
    stub = rng.randbytes(STUB_SIZE)
    Path(RUN, "patch.dat").write_bytes(stub)
    run(["wine", "reg", "delete", SETTINGS_KEY, "/f"])  # the first start's choice
    cases = {"main": lambda: main_run(stub, old, new), "close": close_run,
             "compact": lambda: compact_run(stub, old, new, rng)}
    failed = 0
    for name, case in cases.items():
        started = time.time()
        try:
            case()
            print(f"{name}: ok ({time.time() - started:.1f} s)", flush=True)
        except Failure as failure:
            failed += 1
            print(f"{name}: FAILED: {failure} (seed {SEED})", flush=True)
        finally:
            for process in STARTED:
                if process.poll() is None:
                    process.kill()
                    process.wait(10)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
