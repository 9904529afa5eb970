#!/usr/bin/env python3
"""End-to-end test of patchbuilder.exe, driven as a user would drive it.

Clicks and keys go through xdotool into the X display; what X cannot tell
(message box texts, field texts, the progress bar) is read by the probe, a
small Windows program of this test. Every patch written is compared with
a model of the patch format written here from the format table. Every wait
is bounded. Usage: e2e_test.py TOOL PROBE WORK_FOLDER
"""

import hashlib
import os
import random
import shutil
import subprocess
import sys
import time

TOOL, PROBE, WORK = (os.path.abspath(a) for a in sys.argv[1:4])
SEED = int(os.environ.get("PB_E2E_SEED", "0")) or int(time.time())

STUB_SIZE = 25088
CLIENT_SIZE = (361, 577)
SAVE_TITLE = "Select patch executable file "
OLD_TITLE = "Choose old version executable file "
NEW_TITLE = "Choose new version executable file "

# Client-area rectangles (x, y, width, height) of the controls the test uses.
LAYOUT = {
    1: (10, 30, 340, 20), 3: (10, 80, 340, 20), 5: (10, 130, 340, 20),
    6: (10, 180, 340, 20), 9: (10, 230, 340, 20), 10: (10, 280, 340, 20),
    12: (10, 330, 70, 20), 14: (100, 330, 70, 20), 27: (190, 330, 70, 20),
    16: (10, 380, 280, 20), 18: (300, 380, 50, 20), 19: (10, 430, 280, 20),
    20: (300, 430, 50, 20), 21: (30, 470, 150, 30), 22: (10, 520, 330, 10),
    24: (190, 470, 150, 30),
}
OLD_FIELD, OPEN_OLD, NEW_FIELD, OPEN_NEW, GENERATE, EXIT = 16, 18, 19, 20, 21, 24

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
    21: "Generate patch", 22: "", 23: "Default install folder", 24: "Exit",
    26: "Open folder button", 27: "Open",
}

# The nine texts in payload order: field, message when empty.
TEXT_FIELDS = [
    (1, "Window title is empty"), (3, "Program title is empty"),
    (5, "Program description is empty"), (6, "System notice is empty"),
    (9, "FolderTip is empty"), (10, "Default folder is empty"),
    (27, "Button open is empty"), (12, "Button install is empty"),
    (14, "Button exit is empty"),
]


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
    return result.stdout.strip()


def probe(*args):
    result = run(["wine", PROBE, *args], timeout=60)
    check(result.returncode == 0, f"probe {' '.join(map(str, args))}: nothing found")
    return result.stdout.rstrip("\r\n")


def win_path(path):
    return "Z:" + path.replace("/", "\\")


# ---- the format model ----

def file_name_part(path):
    """After the last backslash (or less a leading quote), up to a quote."""
    if "\\" in path:
        name = path[path.rfind("\\") + 1:]
    else:
        name = path[1:] if path.startswith('"') else path
    return name.split('"', 1)[0]


def expected_patch(stub, texts, old_path, old, new):
    lines = list(texts) + [hashlib.md5(old).hexdigest(), hashlib.md5(new).hexdigest(),
                           str(len(old)), str(len(new)), file_name_part(old_path)]
    patch = bytearray(stub)
    for line in lines:
        patch += line.encode("latin-1") + b"\r\n"
    for i, byte in enumerate(new):
        if byte == (old[i] if i < len(old) else 0):
            patch.append(0)
        else:
            patch += bytes([1, byte])
    return bytes(patch)


def check_patch(path, expected):
    check(os.path.isfile(path), f"no patch written at {path}")
    with open(path, "rb") as f:
        written = f.read()
    if written != expected:
        at = next((i for i, (a, b) in enumerate(zip(written, expected)) if a != b),
                  min(len(written), len(expected)))
        raise Failure(f"{path}: {len(written)} bytes, expected {len(expected)}; "
                      f"first difference at offset {at}")


# ---- the tool as the user sees it ----

class Tool:
    def __init__(self, cwd, desktop=None):
        args = ["wine", TOOL]
        if desktop is not None:
            args = ["wine", "explorer", f"/desktop={desktop}", TOOL]
        self.process = subprocess.Popen(args, cwd=cwd, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        self.last_box = "0"
        if desktop is None:
            x, y, width, height = map(int, probe("origin").split())
            check((width, height) == CLIENT_SIZE, f"client area {width}x{height}")
            self.origin = (x, y)

    def click_at(self, x, y):
        xdo("mousemove", self.origin[0] + x, self.origin[1] + y, "click", "1")

    def click(self, control):
        x, y, width, height = LAYOUT[control]
        self.click_at(x + width // 2, y + height // 2)

    def set_field(self, control, text):
        self.click(control)
        self.replace_text(text)

    def replace_text(self, text):
        xdo("key", "End", "shift+Home", "BackSpace")
        if text:
            xdo("type", "--delay", "4", text)

    def box(self):
        handle, caption, text = probe("box", self.last_box).split("\t", 2)
        self.last_box = handle
        return caption, text

    def expect_box(self, caption, text, key="Return"):
        seen = self.box()
        check(seen == (caption, text), f"expected box {caption!r} {text!r}, saw {seen}")
        if key:
            self.press(key)

    def press(self, key):
        """A key for the dialog last seen, which then must close."""
        xdo("key", key)
        probe("gone", self.last_box)

    def expect_quiet(self):
        result = run(["wine", PROBE, "box", self.last_box, "1500"], timeout=60)
        check(result.returncode != 0, f"unexpected box: {result.stdout.strip()}")

    def choose_file(self, button, title, path):
        self.click(button)
        self.expect_box(title, "", key=None)
        self.replace_text(path)
        self.press("Return" if path else "Escape")
        self.expect_quiet()

    def generate(self, save_as):
        """Presses "Generate patch" and answers the save dialog (None: Cancel)."""
        self.click(GENERATE)
        self.answer_save(save_as)

    def answer_save(self, save_as):
        self.expect_box(SAVE_TITLE, "", key=None)
        if save_as is not None:
            self.replace_text(save_as)
        self.press("Escape" if save_as is None else "Return")

    def texts(self):
        lines = probe("texts").splitlines()
        return {int(n): t for n, t in (line.split("\t", 1) for line in lines)}

    def progress(self):
        return int(probe("progress"))

    def close_box(self):
        window = xdo("search", "--onlyvisible", "--name", "^Velloran patch creation tool$")
        geometry = xdo("getwindowgeometry", "--shell", window.split()[0])
        outer = dict(line.split("=") for line in geometry.splitlines())
        x, y, width = int(outer["X"]), int(outer["Y"]), int(outer["WIDTH"])
        frame = self.origin[0] - x
        caption = self.origin[1] - y - frame
        xdo("mousemove", x + width - frame - caption // 2, y + frame + caption // 2, "click", "1")

    def exit_code(self, timeout=20):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the tool did not end within {timeout} s")

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(10)


# ---- cases ----

def make_inputs(folder, rng):
    old = bytes(rng.randrange(256) for _ in range(60000))
    new = bytearray(old)
    for i in rng.sample(range(len(new)), 600):
        new[i] = rng.randrange(256)
    new += bytes(rng.choice([0, rng.randrange(256)]) for _ in range(10000))
    files = {"old.exe": old, "new.exe": bytes(new), "empty.exe": b""}
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    os.mkdir(os.path.join(folder, "folder.exe"))
    return old, bytes(new)


def write_stub(folder, size, rng):
    stub = bytes(rng.randrange(256) for _ in range(size))
    with open(os.path.join(folder, "patch.dat"), "wb") as f:
        f.write(stub)
    return stub


def main_run(cwd, inputs, out, stub, old, new):
    """Validation, the file dialogs, patches and the "Exit" button."""
    tool = Tool(cwd)
    try:
        texts = tool.texts()
        for number, text in INITIAL_TEXTS.items():
            check(texts[number] == text, f"field {number} starts as {texts[number]!r}")
        check("Velloran" in texts[25], f"credit line {texts[25]!r}")
        check(tool.progress() == 0, "progress bar does not start at 0")

        # All nine texts empty: one box each in payload order, then the question.
        for field, _ in TEXT_FIELDS:
            tool.set_field(field, "")
        tool.click(GENERATE)
        for _, message in TEXT_FIELDS:
            tool.expect_box("Error!", message)
        tool.expect_box("Error!", "Found error. Continue anyway?", key="n")
        tool.expect_quiet()
        check(os.listdir(out) == [], "answering No wrote a file")

        typed = ["Dune rally update", "Welcome to Dune rally update from 1.0 up to 1.1",
                 "This program will update Dune rally ...", "Close all other programs first",
                 "Select the folder, then click Install", "   ", "Browse", "Install", "Quit"]
        for (field, _), text in zip(TEXT_FIELDS, typed):
            tool.set_field(field, text)

        # Unusable inputs: only the first problem is told.
        old_path, new_path = win_path(f"{inputs}/old.exe"), win_path(f"{inputs}/new.exe")
        for old_field, new_field, message in [
                ("", "", "Old version file not found"),
                (win_path(f"{inputs}/folder.exe"), new_path, "Old version file not found"),
                (win_path(f"{inputs}/empty.exe"), new_path, "Old version file not found"),
                (win_path(f"{inputs}/missing.exe"), new_path, "Old version file not found"),
                (old_path, win_path(f"{inputs}/folder.exe"), "New version file not found"),
                (old_path, win_path(f"{inputs}/empty.exe"), "New version file not found")]:
            tool.set_field(OLD_FIELD, old_field)
            tool.set_field(NEW_FIELD, new_field)
            tool.click(GENERATE)
            tool.expect_box("Fatal error!", message)
            tool.expect_quiet()

        # The old file typed, the new one through "Open"; a cancelled "Open"
        # leaves its field alone.
        tool.set_field(OLD_FIELD, old_path)
        tool.choose_file(OPEN_NEW, NEW_TITLE, new_path)
        tool.choose_file(OPEN_OLD, OLD_TITLE, "")
        texts = tool.texts()
        check(texts[OLD_FIELD] == old_path, f"old file field {texts[OLD_FIELD]!r}")
        check(texts[NEW_FIELD] == new_path, f"new file field {texts[NEW_FIELD]!r}")

        expected = expected_patch(stub, typed, old_path, old, new)
        before = set(os.listdir(out))
        for answer, written in [("out1", "out1.exe"), ("Out2.EXE", "Out2.EXE"),
                                ("out3.ex", "out3.ex.exe")]:
            tool.generate(win_path(f"{out}/{answer}"))
            tool.expect_box("Done!", "Process done")
            check_patch(f"{out}/{written}", expected)
        check(tool.progress() == 100, "progress bar not at 100 after a patch")
        check(set(os.listdir(out)) - before == {"out1.exe", "Out2.EXE", "out3.ex.exe"},
              f"files written: {sorted(set(os.listdir(out)) - before)}")

        tool.generate(None)
        tool.expect_quiet()
        check(len(os.listdir(out)) == 3, "a cancelled save wrote a file")

        tool.generate(old_path)
        tool.expect_box("Fatal error!", "Patch file can't replace the old or new version file")
        with open(f"{inputs}/old.exe", "rb") as f:
            check(f.read() == old, "the old file was changed")

        texts = tool.texts()
        for (field, _), text in zip(TEXT_FIELDS, typed):
            check(texts[field] == text, f"field {field} changed to {texts[field]!r}")
        tool.click(EXIT)
        check(tool.exit_code() == 0, "Exit: exit code not 0")
    finally:
        tool.kill()


def stub_run(cwd, inputs, out, rng, old, new):
    """A wrong-sized stub, empty texts accepted, and the close box."""
    write_stub(cwd, STUB_SIZE - 1, rng)
    tool = Tool(cwd)
    try:
        old_path, new_path = win_path(f"{inputs}/old.exe"), win_path(f"{inputs}/new.exe")
        tool.set_field(OLD_FIELD, old_path)
        tool.set_field(NEW_FIELD, new_path)
        initial = [INITIAL_TEXTS[field] for field, _ in TEXT_FIELDS]

        def generate_with_empty_texts(save_as):
            tool.click(GENERATE)
            for (field, message), text in zip(TEXT_FIELDS, initial):
                if not text:
                    tool.expect_box("Error!", message)
            tool.expect_box("Error!", "Found error. Continue anyway?", key="y")
            tool.answer_save(win_path(f"{out}/{save_as}"))

        generate_with_empty_texts("badstub")
        tool.expect_box("Fatal error!", "'patch.dat' corrupted, can't continue.")
        check(not os.path.exists(f"{out}/badstub.exe"), "a patch was left with a bad stub")

        stub = write_stub(cwd, STUB_SIZE, rng)
        generate_with_empty_texts("empties")
        tool.expect_box("Done!", "Process done")
        check_patch(f"{out}/empties.exe", expected_patch(stub, initial, old_path, old, new))

        tool.close_box()
        check(tool.exit_code() == 0, "close box: exit code not 0")
    finally:
        tool.kill()


def read_screen(path):
    """The root window as (width, height, pixel function)."""
    run(["import", "-window", "root", path], timeout=30)
    data = run(["convert", path, "ppm:-"], timeout=30, encoding=None).stdout
    _, size, _, pixels = data.split(b"\n", 3)
    width, height = map(int, size.split())
    return width, height, lambda x, y: pixels[(y * width + x) * 3:(y * width + x) * 3 + 3]


def window_box(pixel, width, height):
    """Bounding box of whatever differs from the desktop's own colour."""
    background = pixel(1, 1)
    xs, ys = [], []
    for y in range(0, height):
        for x in range(0, width):
            if pixel(x, y) != background:
                xs.append(x)
                ys.append(y)
    return (min(xs), min(ys), max(xs) + 1, max(ys) + 1) if xs else None


def screenshot_run(cwd, shot):
    """The form with its frame in a virtual desktop: centred, sized and painted."""
    desk_width, desk_height = 800, 700
    tool = Tool(cwd, desktop=f"pbe2e,{desk_width}x{desk_height}")
    try:
        deadline = time.time() + 30
        while True:
            time.sleep(1)
            width, height, pixel = read_screen(shot)
            box = window_box(pixel, min(width, desk_width), min(height, desk_height))
            if box and box[2] - box[0] > CLIENT_SIZE[0] and box[3] - box[1] > CLIENT_SIZE[1]:
                break
            check(time.time() < deadline, "the form did not appear in the virtual desktop")
        time.sleep(1)
        width, height, pixel = read_screen(shot)
        left, top, right, bottom = window_box(pixel, desk_width, desk_height)
        check(abs(left - (desk_width - right)) <= 1 and abs(top - (desk_height - bottom)) <= 1,
              f"window at {left},{top}-{right},{bottom} is not centred")
        frame = (right - left - CLIENT_SIZE[0]) // 2
        caption = bottom - top - CLIENT_SIZE[1] - 2 * frame
        check(0 < frame < 10 and 10 < caption < 40, f"outer size {right - left}x{bottom - top}")
        client_x, client_y = left + frame, top + frame + caption

        def at(x, y):
            return pixel(client_x + x, client_y + y)

        face, white = at(5, 5), at(300, 40)
        check(face != white, "the form is not painted: field 1 looks like the background")
        for field in (1, 3, 5, 10, 16, 19):
            x, y, w, h = LAYOUT[field]
            check(at(x + w - 10, y + h // 2) == white, f"field {field} is not where it belongs")
            check(at(5, y + h // 2) == face, f"something covers the margin beside field {field}")
        colours = {at(x, y) for x in range(0, CLIENT_SIZE[0], 3)
                   for y in range(0, CLIENT_SIZE[1], 3)}
        check(len(colours) >= 4, "the client area is nearly uniform")

        xdo("mousemove", right - frame - caption // 2, top + frame + caption // 2, "click", "1")
        try:
            tool.process.wait(20)
        except subprocess.TimeoutExpired:
            raise Failure("the close box in the virtual desktop did not end the tool")
    finally:
        tool.kill()


def main():
    print(f"seed {SEED} (PB_E2E_SEED repeats it)", flush=True)
    rng = random.Random(SEED)
    shutil.rmtree(WORK, ignore_errors=True)
    folders = {name: os.path.join(WORK, name) for name in ("in", "out", "run", "stub")}
    for folder in folders.values():
        os.makedirs(folder)
    old, new = make_inputs(folders["in"], rng)
    stub = write_stub(folders["run"], STUB_SIZE, rng)

    inputs, out = folders["in"], folders["out"]
    cases = [("main", lambda: main_run(folders["run"], inputs, out, stub, old, new)),
             ("stub", lambda: stub_run(folders["stub"], inputs, out, rng, old, new)),
             ("screenshot", lambda: screenshot_run(folders["run"], os.path.join(WORK, "form.png")))]
    # There is no window manager: let Wine handle the tool's windows itself,
    # which spares a wait of seconds for every window that closes. Only for
    # this test: a user's window manager should manage them.
    app_key = r"HKCU\Software\Wine\AppDefaults\patchbuilder.exe"
    run(["wine", "reg", "add", app_key + r"\X11 Driver", "/v", "Managed", "/d", "N", "/f"],
        timeout=120)
    failed = 0
    try:
        for name, case in cases:
            started = time.time()
            try:
                case()
                print(f"{name}: ok ({time.time() - started:.1f} s)", flush=True)
            except Failure as failure:
                failed += 1
                print(f"{name}: FAILED: {failure} (seed {SEED})", flush=True)
    finally:
        run(["wine", "reg", "delete", app_key, "/f"], timeout=120)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
