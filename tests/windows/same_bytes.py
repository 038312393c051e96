#!/usr/bin/env python3
"""Tables written on Windows equal the Linux tables of the same area file.

Runs the Linux quire and quire.exe (under Wine) on one generated area file and
compares every kind's table byte for byte: plain and detailed, CSV and dBASE,
metric and imperial. Only two things may differ: the area path in the CSV
preamble (and in delta.lst's preamble), which is each platform's own path,
and the date of the last update in the dBASE header. Then delta.lst after a
changed rerun, and an area generated on Windows read by Linux.

usage: same_bytes.py LINUX_QUIRE WINDOWS_QUIRE_EXE
Exits 77 (skipped) when the Linux build is absent.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

KINDS = ["mkhdr", "mkpc", "mkov", "mksplice", "mkmc", "mkmod", "model", "ordml"]


def windows_path(path):
    # Wine shows the Linux root as drive Z:.
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(argv, cwd, env, what):
    r = subprocess.run(argv, cwd=cwd, env=env, capture_output=True)
    if r.returncode != 0:
        sys.exit("%s: %s exited %d\n%s" % (what, " ".join(argv), r.returncode, r.stderr.decode("latin-1")))
    return r


def normalised(name, data):
    """The bytes with what may differ between the platforms blanked."""
    if name.lower().endswith(".dbf"):
        return data[:1] + b"\0\0\0" + data[4:] if len(data) >= 4 else data
    # First line: the preamble, whose last value is the area file's path.
    end = data.find(b"\n")
    first = data[:end] if end >= 0 else data
    first = re.sub(rb',("?)[^,"]*(sqlite)\1(\r?)$', rb',\1AREA\1\3', first)
    return first + (data[end:] if end >= 0 else b"")


class Side:
    def __init__(self, root, name, program, wine):
        self.store = os.path.join(root, name, "store")
        self.out = os.path.join(root, name, "out")
        os.makedirs(self.store)
        os.makedirs(self.out)
        self.program = program
        self.wine = wine
        self.env = dict(os.environ, TZ="UTC")
        self.env["QUIRE_STORE"] = windows_path(self.store) if wine else self.store

    def quire(self, *args):
        argv = (["wine", self.program] if self.wine else [self.program]) + list(args)
        return run(argv, self.out, self.env, "windows" if self.wine else "linux")

    def table(self, name):
        with open(os.path.join(self.out, name), "rb") as f:
            return f.read()


def compare(linux, windows, name, failures):
    a = normalised(name, linux.table(name))
    b = normalised(name, windows.table(name))
    if a != b:
        at = next((i for i in range(min(len(a), len(b))) if a[i] != b[i]), min(len(a), len(b)))
        failures.append("%s: differs at byte %d (linux %d bytes, windows %d bytes): %r / %r"
                        % (name, at, len(a), len(b), a[at:at + 40], b[at:at + 40]))


def main():
    linux_quire, windows_quire = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    if not os.access(linux_quire, os.X_OK):
        print("skipped: no Linux build at %s (scripts/test builds it first)" % linux_quire)
        return 77
    root = tempfile.mkdtemp(prefix="quire-same-bytes-")
    try:
        linux = Side(root, "linux", linux_quire, False)
        windows = Side(root, "windows", windows_quire, True)
        failures = []

        # One area file, written on Linux, read by both.
        linux.quire("area", "generate", "SAME", "--seed", "7", "--markers", "30")
        shutil.copy(os.path.join(linux.store, "same.sqlite"), windows.store)
        tables = 0
        for kind in KINDS:
            for detailed in ([], ["--detailed"]):
                for notation in ("-N0", "-N1"):
                    for ext in ("csv", "dbf"):
                        name = "%s%s%s.%s" % (kind, "-d" if detailed else "", notation, ext)
                        for side in (linux, windows):
                            side.quire(kind, "--no-progress", "--quiet", *detailed, notation, "SAME", name)
                        compare(linux, windows, name, failures)
                        tables += 1

        # A changed rerun: the same change log on both.
        linux.quire("area", "generate", "SAME", "--seed", "8", "--markers", "33")
        shutil.copy(os.path.join(linux.store, "same.sqlite"), windows.store)
        for side in (linux, windows):
            open(os.path.join(side.out, "delta.lst"), "wb").close()
            side.quire("mkpc", "--no-progress", "--quiet", "SAME", "mkpc-N0.csv")
        compare(linux, windows, "mkpc-N0.csv", failures)
        compare(linux, windows, "delta.lst", failures)

        # An area file written on Windows, read by Linux.
        windows.quire("area", "generate", "WINAREA", "--seed", "9", "--markers", "20")
        shutil.copy(os.path.join(windows.store, "winarea.sqlite"), linux.store)
        for side in (linux, windows):
            side.quire("mkhdr", "--no-progress", "--quiet", "--detailed", "WINAREA", "winarea.dbf")
        compare(linux, windows, "winarea.dbf", failures)

        for f in failures:
            print("DIFFERENT " + f)
        print("%d tables compared, %d different" % (tables + 3, len(failures)))
        return 1 if failures else 0
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
