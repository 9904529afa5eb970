#!/usr/bin/env python3
"""Signed patches, as a release pipeline makes them: the console program
writes a plain and a compact patch, osslsigncode signs them with a throwaway
certificate (once, and nested), the real patch applies each unattended, and
--verify reads them. Tables a signing tool would not make, and bytes behind
the table, make the patch refuse itself with nothing changed.

Usage: signing_test.py CLI WORK (run in the build folder, where patch.dat is)
"""

import os
import random
import shutil
import struct
import subprocess
import sys
from pathlib import Path

CLI, WORK = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
STUB_SIZE = int(os.environ["PB_STUB_SIZE"])
SECURITY_ENTRY = 4
DAMAGED, UPDATED_NOT, UNREADABLE = 16, 17, 18  # --verify's exit codes
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


def run(*args, timeout=120):
    return subprocess.run([str(a) for a in args], capture_output=True, timeout=timeout,
                          encoding="latin-1")


def win(path):
    return "Z:" + str(path).replace("/", "\\")


def security_entry_at(patch):
    pe = struct.unpack_from("<I", patch, 0x3C)[0]
    assert patch[pe:pe + 4] == b"PE\0\0" and struct.unpack_from("<H", patch, pe + 24)[0] == 0x10B
    return pe + 24 + 96 + 8 * SECURITY_ENTRY


def with_entry(patch, offset, size):
    patch = bytearray(patch)
    struct.pack_into("<II", patch, security_entry_at(patch), offset, size)
    return bytes(patch)


def table_of(patch):
    return struct.unpack_from("<II", patch, security_entry_at(patch))


def stream_start(patch):
    at = STUB_SIZE
    for _ in range(14):
        at = patch.index(b"\r\n", at) + 2
    return at


def make_patch(name, old, new, *options):
    out = WORK / name
    result = run("wine", CLI, "--old", win(old), "--new", win(new), "--out", win(out),
                 "--window-title", "Signed", "--program-title", "T",
                 "--program-description", "D", "--default-folder", "C:\\x", *options)
    check(result.returncode == 0, f"{name}: patchbuilder-cli exit {result.returncode}: "
          f"{result.stderr.strip()}")
    return out


def sign(unsigned, signed, *nest):
    result = run("osslsigncode", "sign", *nest, "-certs", WORK / "cert.pem",
                 "-key", WORK / "key.pem", "-n", "Update", "-h", "sha256",
                 "-in", unsigned, "-out", signed)
    check(result.returncode == 0, f"signing {signed.name}: {result.stdout}{result.stderr}")
    verified = run("osslsigncode", "verify", "-CAfile", WORK / "cert.pem", "-in", signed)
    check(verified.returncode == 0, f"osslsigncode verify {signed.name}: {verified.stdout}")
    return signed


def apply(patch, old, new=None):
    """Runs the patch unattended over a fresh copy of the old file; checks
    that the new file came out, or with new None, that nothing changed."""
    site = WORK / "site"
    shutil.rmtree(site, ignore_errors=True)
    site.mkdir()
    (site / "game.exe").write_bytes(old)
    code = run("wine", patch, "/S", f"/D={win(site)}").returncode
    names = sorted(p.name for p in site.iterdir())
    if new is None:
        check(code == 2 and (site / "game.exe").read_bytes() == old and names == ["game.exe"],
              f"{patch.name}: exit {code}, files {names}: not refused untouched")
    else:
        check(code == 0 and (site / "game.exe").read_bytes() == new
              and names == ["game.exe", "game.exe.bak"], f"{patch.name}: exit {code}")


def verify(patch, *old):
    result = run("wine", CLI, "--verify", win(patch), *(["--old", win(old[0])] if old else []))
    return result.returncode, result.stdout, result.stderr.strip()


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    WORK.mkdir(parents=True)
    rng = random.Random(20)
    old = bytes(rng.getrandbits(8) for _ in range(120000))
    new = bytearray(old[:50000] + b"new code" * 300 + old[50000:])
    for i in range(0, len(new), 4001):
        new[i] ^= 0x55
    new = bytes(new)
    (WORK / "game.exe").write_bytes(old)
    (WORK / "new.exe").write_bytes(new)
    made = run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
               "-keyout", WORK / "key.pem", "-out", WORK / "cert.pem", "-days", "2",
               "-subj", "/CN=Test")
    check(made.returncode == 0, f"openssl: {made.stderr}")

    plain = make_patch("plain.exe", WORK / "game.exe", WORK / "new.exe")
    compact = make_patch("compact.exe", WORK / "game.exe", WORK / "new.exe", "--compact")
    signed = [sign(plain, WORK / "plain-signed.exe"),
              sign(compact, WORK / "compact-signed.exe")]
    signed.append(sign(signed[0], WORK / "plain-nested.exe", "-nest"))
    for patch in signed:
        apply(patch, old, new)
        code, facts, verdict = verify(patch, WORK / "game.exe")
        check(code == 0 and verdict == "Patch is sound", f"--verify {patch.name}: {code} {verdict}")
        table = table_of(patch.read_bytes())
        check(f"Certificate table: {table[1]} bytes at offset {table[0]}" in facts,
              f"--verify {patch.name} facts:\n{facts}")
    code, facts, _ = verify(compact)
    check(code == 0 and "Stream: compact" in facts and "Certificate table: none" in facts,
          f"--verify compact.exe: {code}\n{facts}")
    check(verify(signed[0], WORK / "new.exe")[0] == UPDATED_NOT, "--verify, wrong old file")
    check(verify(signed[0], WORK / "none.exe")[0] == UNREADABLE, "--verify, no old file")
    check(verify(WORK / "none.exe")[0] == UNREADABLE, "--verify, no patch")

    # Tables a signing tool would not make, and a byte behind a real one.
    good = signed[0].read_bytes()
    at, size = table_of(good)
    start = (stream_start(good) + 15) // 8 * 8
    padded = bytearray(good)
    padded[at - 1] = 1
    check(good[at - 1] == 0, "the unsigned patch's length left no padding to spoil")
    cases = {
        "behind.exe": good + b"x",
        "in-lines.exe": with_entry(good, STUB_SIZE + 8, len(good) - STUB_SIZE - 8),
        "in-stream.exe": with_entry(good, start, len(good) - start),
        "past-end.exe": with_entry(good, at, size + 8),
        "misaligned.exe": with_entry(good, at - 1, size + 1),
        "bad-padding.exe": bytes(padded),
    }
    for name, patch in cases.items():
        (WORK / name).write_bytes(patch)
        apply(WORK / name, old)
    code, _, verdict = verify(WORK / "behind.exe", WORK / "game.exe")
    check(code == DAMAGED, f"--verify of a damaged patch: {code} {verdict}")

    print(f"{len(failures)} failures" if failures else "all signing checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
