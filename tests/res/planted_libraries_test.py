#!/usr/bin/env python3
"""Libraries planted beside the programs are never loaded: a stand-in that
leaves a marker is copied, under the name of every system library these
programs load, into the folder each program runs from (which is also its
current folder), and Wine is told to prefer such a library to its own, as
Windows' search order would. Each program still does its job: the console
program writes its patch, the patch installs unattended and opens its
window, the tool opens its form. Wine's load trace of each run shows every
library the program's process loaded and from where.

Usage: planted_libraries_test.py BUILD PLANTED_DLL WORK
"""

import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

BUILD, PLANTED, WORK = (Path(a).resolve() for a in sys.argv[1:4])

# The names planted: every library these programs' processes load under
# Wine, and the ones that dialogs and the shell load on Windows.
PLANTED_NAMES = {f"{name}.dll" for name in (
    "actxprxy", "advapi32", "bcrypt", "combase", "comctl32", "comdlg32", "compstui",
    "cryptbase", "dwmapi", "gdi32", "imm32", "msimg32", "msvcrt", "ole32", "oleaut32",
    "profapi", "propsys", "rpcrt4", "sechost", "setupapi", "shcore", "shell32", "shlwapi",
    "ucrtbase", "user32", "userenv", "uxtheme", "version", "win32u", "winmm", "ws2_32",
    "zlib1")} | {"winspool.drv"}
# What the loader resolves before a program's first instruction: its own
# libraries, and for the tool and the console program the C runtime (a known
# DLL on Windows, which Wine's msvcrt loads ucrtbase with). Wine's display
# driver has no counterpart on Windows.
LOADER = {"ntdll.dll", "kernel32.dll", "kernelbase.dll", "winex11.drv"}
C_RUNTIME = {"msvcrt.dll", "ucrtbase.dll"}
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


def win(path):
    return "Z:" + str(path).replace("/", "\\")


def prepare(name, files, runtime_planted):
    """A folder with the programs' files and the stand-ins."""
    folder = WORK / name
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for f in files:
        shutil.copy(f, folder)
    names = PLANTED_NAMES - (set() if runtime_planted else C_RUNTIME)
    for n in names:
        shutil.copy(PLANTED, folder / n)
    overridden = sorted(n.rsplit(".", 1)[0] if n.endswith(".dll") else n for n in names)
    env = dict(os.environ, WINEDEBUG="+loaddll",
               WINEDLLOVERRIDES="mscoree,mshtml=;" + ",".join(overridden) + "=n,b")
    return folder, env, names


def judge(name, folder, trace, names):
    markers = sorted(p.name for p in folder.glob("*.loaded"))
    check(not markers, f"{name}: planted libraries were loaded: {markers}")
    for line in trace.read_text(errors="replace").splitlines():
        if "Loaded L\"" not in line:
            continue
        path = line.split('L"', 1)[1].split('"', 1)[0].replace("\\\\", "\\")
        base = path.rsplit("\\", 1)[-1].lower()
        if base.endswith(".exe") or base in LOADER:
            continue
        check(base in names or base in C_RUNTIME,
              f"{name}: loads {base}, for which no stand-in was planted")
        check(path.lower().startswith("c:\\windows\\"), f"{name}: loaded {path}")


def await_window(title, timeout=120):
    end = time.time() + timeout
    while time.time() < end:
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"],
                               capture_output=True, text=True)
        if found.returncode == 0 and found.stdout.strip():
            return True
        time.sleep(0.5)
    return False


def run(name, command, folder, env, timeout=300):
    trace = folder / "trace.txt"
    with open(trace, "w") as out:
        return subprocess.run(command, cwd=folder, env=env, stdout=out, stderr=out,
                              timeout=timeout).returncode, trace


def run_windowed(name, command, folder, env, title):
    trace = folder / "trace.txt"
    with open(trace, "w") as out:
        process = subprocess.Popen(command, cwd=folder, env=env, stdout=out, stderr=out)
        shown = await_window(title)
        process.kill()
        process.wait()
    check(shown, f"{name}: no window titled {title!r}")
    return trace


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    WORK.mkdir(parents=True)
    old, new = b"old version " * 5000, b"new version " * 5000 + b"!"

    folder, env, names = prepare("console", [BUILD / "patchbuilder-cli.exe",
                                             BUILD / "patch.dat"], False)
    (folder / "game.exe").write_bytes(old)
    (folder / "new.exe").write_bytes(new)
    code, trace = run("console", ["wine", "patchbuilder-cli.exe", "--old", "game.exe",
                                  "--new", "new.exe", "--out", "patch.exe",
                                  "--window-title", "Planted", "--program-title", "P",
                                  "--program-description", "D", "--default-folder",
                                  "C:\\x", "--compact"], folder, env)
    check(code == 0, f"console program: exit code {code}")
    judge("console program", folder, trace, names)
    patch = folder / "patch.exe"

    folder, env, names = prepare("unattended", [patch], True)
    site = folder / "site"
    site.mkdir()
    (site / "game.exe").write_bytes(old)
    code, trace = run("unattended", ["wine", "patch.exe", "/S", f"/D={win(site)}"],
                      folder, env)
    check(code == 0 and (site / "game.exe").read_bytes() == new,
          f"patch /S: exit code {code}")
    judge("patch /S", folder, trace, names)

    folder, env, names = prepare("window", [patch], True)
    judge("patch window", folder,
          run_windowed("window", ["wine", "patch.exe"], folder, env, "Planted"), names)

    folder, env, names = prepare("tool", [BUILD / "patchbuilder.exe",
                                          BUILD / "patch.dat"], False)
    judge("tool", folder, run_windowed("tool", ["wine", "patchbuilder.exe"], folder, env,
                                       "Velloran patch creation tool"), names)

    print(f"{len(failures)} failures" if failures else "no planted library was loaded")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
