#!/usr/bin/env python3
"""The Windows zip works where a user unpacks it, and so does the example host.

Unpacks the zip of scripts/package-windows into a folder whose path has a
space and an accented letter (in the Windows ANSI code page), keeps the store
in it, and runs the packed quire.exe under Wine in a prefix of its own: the
version, an area import, a CSV and a dBASE report, whose tables must equal
the Linux build's of the same area file (apart from what same_bytes.py
masks). Then quire-host.exe, copied beside the packed DLLs, runs hidden: a
whole run, runs cancelled by --cancel-after, and a run whose list file names
a missing marker, checked by exit status, listed lines and table.

usage: zip_test.py ZIP LINUX_QUIRE QUIRE_HOST_EXE
Exits 77 (skipped) when the Linux build is absent.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from same_bytes import normalised, windows_path  # noqa: E402

PACKED = ["quire.exe", "quire.dll", "plotbase.dll", "quire_files.dll", "quireres-de.dll",
          "examples/shop.json", "README-windows.txt"]
HOST_MARKERS = 20
CANCEL_AFTER = 5

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def run(argv, cwd, env, expect=0):
    """Runs argv; returns (exit status, standard output lines)."""
    r = subprocess.run(argv, cwd=cwd, env=env, capture_output=True)
    out = r.stdout.decode("latin-1")
    if expect is not None and r.returncode != expect:
        sys.exit("%s exited %d, not %d\n%s%s" % (" ".join(argv), r.returncode, expect, out,
                                                  r.stderr.decode("latin-1")))
    return r.returncode, out.splitlines()


def read(path):
    with open(path, "rb") as f:
        return f.read()


def rows_of_first_markers(table, count):
    """The preamble, the column names and the rows of the table's first
    count markers (a marker's rows begin with its name)."""
    lines = table.split(b"\r\n")
    kept, markers = lines[:2], []
    for line in lines[2:]:
        marker = line.split(b",", 1)[0]
        if not markers or markers[-1] != marker:
            markers.append(marker)
        if len(markers) > count:
            break
        kept.append(line)
    return b"\r\n".join(kept) + b"\r\n"


def main():
    zip_path, linux_quire, host_exe = (os.path.abspath(a) for a in sys.argv[1:4])
    if not os.access(linux_quire, os.X_OK):
        print("skipped: no Linux build at %s (scripts/test builds it first)" % linux_quire)
        return 77
    bin_dir = os.path.join(os.path.dirname(zip_path), "bin")
    if not os.path.exists(zip_path) or any(
            os.path.getmtime(os.path.join(bin_dir, b)) > os.path.getmtime(zip_path) for b in PACKED[:5]):
        sys.exit("%s is missing or older than the build: run scripts/package-windows" % zip_path)

    root = tempfile.mkdtemp(prefix="quire-zip-test-")
    wine_env = dict(os.environ, TZ="UTC", WINEPREFIX=os.path.join(root, "wineprefix"), WINEDEBUG="-all",
                    WINEDLLOVERRIDES="mscoree,mshtml=")
    try:
        # A prefix of its own whose display driver is Wine's null driver: the
        # host's window needs one and there may be no X display. The driver
        # is chosen when the prefix's desktop starts, hence the restart.
        run(["wineboot", "-i"], root, wine_env, expect=None)
        run(["wine", "reg", "add", r"HKCU\Software\Wine\Drivers", "/v", "Graphics", "/d", "null", "/f"],
            root, wine_env)
        run(["wineserver", "-k"], root, wine_env, expect=None)
        run(["wineserver", "-w"], root, wine_env, expect=None)

        # The zip: one top folder holding what a user needs.
        top = os.path.basename(zip_path)[:-len(".zip")]
        unpacked = os.path.join(root, "zip test", "\u00dcnpacked")
        with zipfile.ZipFile(zip_path) as z:
            names = z.namelist()
            check(all(n.startswith(top + "/") for n in names), "not all under %s/: %s" % (top, names))
            check(all(top + "/" + p in names for p in PACKED), "missing from the zip: %s" % names)
            z.extractall(unpacked)
        folder = os.path.join(unpacked, top)
        check(re.search(rb"(?<!\r)\n", read(os.path.join(folder, "README-windows.txt"))) is None,
              "README-windows.txt has a line end without CR")

        store = os.path.join(folder, "store")
        os.makedirs(os.path.join(folder, "tables"))
        env = dict(wine_env, QUIRE_STORE=windows_path(store))
        quire = ["wine", "quire.exe"]
        _, out = run(quire + ["--version"], folder, env)
        check(top.split("-")[1] in " ".join(out), "--version says %s" % out)
        run(quire + ["area", "import", r"examples\shop.json"], folder, env)

        linux_dir = os.path.join(root, "linux")
        os.makedirs(os.path.join(linux_dir, "store"))
        linux_env = dict(os.environ, TZ="UTC", QUIRE_STORE=os.path.join(linux_dir, "store"))
        run([linux_quire, "area", "import", os.path.join(folder, "examples", "shop.json")], linux_dir, linux_env)

        # A relative output and an absolute one in the accented folder.
        reports = [("mkpc.csv", ["mkpc"], "mkpc.csv"),
                   ("mkhdr-d.dbf", ["mkhdr", "--detailed"], windows_path(os.path.join(folder, "tables", "mkhdr-d.dbf")))]
        for name, command, windows_output in reports:
            run(quire + command + ["--no-progress", "--quiet", "SHOP", windows_output], folder, env)
            run([linux_quire] + command + ["--no-progress", "--quiet", "SHOP", name], linux_dir, linux_env)
            written = read(os.path.join(folder, name if name.endswith(".csv") else "tables/" + name))
            check(normalised(name, written) == normalised(name, read(os.path.join(linux_dir, name))),
                  "%s differs from the Linux table" % name)
        preamble = read(os.path.join(folder, "mkpc.csv")).split(b"\r\n", 1)[0]
        check(windows_path(os.path.join(store, "shop.sqlite")).encode("cp1252") in preamble,
              "the preamble does not hold the store path in cp1252: %r" % preamble)

        # The example host, beside the packed DLLs.
        shutil.copy(host_exe, os.path.join(folder, "quire-host.exe"))
        host = ["wine", "quire-host.exe", "--hidden"]
        run(quire + ["area", "generate", "HOSTAREA", "--seed", "1", "--markers", str(HOST_MARKERS)], folder, env)
        run(quire + ["mkpc", "--no-progress", "--quiet", "HOSTAREA", "cli.csv"], folder, env)
        _, out = run(host + ["mkpc", "HOSTAREA", "host.csv"], folder, env)
        full = read(os.path.join(folder, "host.csv"))
        check(full == read(os.path.join(folder, "cli.csv")), "the host's table differs from quire.exe's")
        check(out[:1] == ["quire mkpc HOSTAREA -> host.csv"] and
              out[-1].startswith("mkpc: %d of %d items" % (HOST_MARKERS, HOST_MARKERS)), "whole run lists %s" % out)

        # Cancelled on the previous table: the reached items, then the rest
        # of the previous table, so the table is whole again.
        cancel = ["--cancel-after", str(CANCEL_AFTER)]
        _, out = run(host + cancel + ["mkpc", "HOSTAREA", "host.csv"], folder, env, expect=3)
        check(read(os.path.join(folder, "host.csv")) == full, "a cancelled rerun changed the table")
        check(out[-1].startswith("mkpc: %d of %d items" % (CANCEL_AFTER, HOST_MARKERS)) and
              out[-1].endswith("(incomplete: cancelled)"), "cancelled run lists %s" % out)
        # Cancelled without a previous table: the reached items only.
        run(host + cancel + ["mkpc", "HOSTAREA", "fresh.csv"], folder, env, expect=3)
        check(read(os.path.join(folder, "fresh.csv")) == rows_of_first_markers(full, CANCEL_AFTER),
              "a cancelled fresh run does not hold the first %d markers" % CANCEL_AFTER)

        # A line the library prints reaches the list (and standard output).
        with open(os.path.join(folder, "names.txt"), "wb") as f:
            f.write(full.split(b"\r\n")[2].split(b",", 1)[0].strip(b'"') + b"\r\nNOPE\r\n")
        _, out = run(host + ["-Lnames.txt", "mkpc", "HOSTAREA", "listed.csv"], folder, env, expect=3)
        check(any("NOPE is not in storage area HOSTAREA" in line for line in out), "listed lines: %s" % out)

        for f in failures:
            print("FAILED " + f)
        print("zip and host checked, %d failures" % len(failures))
        return 1 if failures else 0
    finally:
        subprocess.run(["wineserver", "-k"], env=wine_env, capture_output=True)
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
