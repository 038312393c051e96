#!/usr/bin/env python3
"""The Windows zip works where a user unpacks it, as its README says.

Unpacks the zip of scripts/package-windows into C:\Programme Qualität\quire
of a Wine prefix of its own (a path with a space and an accented letter), with
no display and no graphics driver chosen, and runs the examples of its
README-windows.txt there, so that the test fails when the README drifts from
what works: every indented block whose introducing line ends in "cmd:" runs
as a batch file in Wine's cmd, each line's exit status checked (one ending in
"FILE.cmd:" is written to FILE.cmd and run as it stands), every block whose
line ends in "shell:" runs in a shell on Linux in the unpacked folder; the
README's C:\quire is the unpacked folder. What they wrote is checked: the
tables equal one another and the nightly run logged its changes.

Then the packed quire.exe makes a CSV and a dBASE table with the store in the
accented folder, which must equal the Linux build's of the same area file
(apart from what same_bytes.py masks), and quire-host.exe runs hidden: a
whole run, runs cancelled by --cancel-after, and a run whose list file names
a missing marker, checked by exit status, listed lines and table.

usage: zip_test.py ZIP LINUX_QUIRE
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

PACKED = ["quire.exe", "quire.dll", "plotbase.dll", "quire_files.dll", "quireres-de.dll", "quire-host.exe",
          "examples/shop.json", "examples/host/quire_host.c", "include/quire/quire.h", "README-windows.txt"]
BINARIES = 6  # the first of PACKED, built
# Where the README's examples expect the unpacked folder, and where the test
# puts it: a path with a space and an accented letter.
README_FOLDER = "C:\\quire"
FOLDER = "C:\\Programme Qualit\u00e4t\\quire"
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


def read_if(path):
    """The file's bytes, or None when there is none."""
    return read(path) if os.path.exists(path) else None


def readme_blocks(text):
    """The README's example blocks: (kind, README line number, lines, target)
    for every block of lines indented by two spaces whose introducing line
    (the last one before the blank line above it) ends in "cmd:" (kind
    "cmd"; "batch" with target FILE when it ends in "FILE.cmd:") or in
    "shell:" (kind "shell")."""
    lines = text.split("\r\n")
    blocks = []
    i = 0
    while i < len(lines):
        if lines[i].startswith("  ") and i >= 2 and lines[i - 1] == "" and lines[i - 2] and \
                not lines[i - 2].startswith(" "):
            intro = lines[i - 2]
            start = i
            while i < len(lines) and lines[i].startswith("  "):
                i += 1
            body = [line[2:] for line in lines[start:i]]
            batch = re.search(r"(\S+\.cmd):$", intro)
            if batch:
                blocks.append(("batch", start + 1, body, batch.group(1)))
            elif intro.endswith("cmd:"):
                blocks.append(("cmd", start + 1, body, None))
            elif intro.endswith("shell:"):
                blocks.append(("shell", start + 1, body, None))
            continue
        i += 1
    return blocks


def drive_c_path(prefix, windows):
    """The Linux path of a path on drive C: of the prefix."""
    assert windows[:3].upper() == "C:\\", windows
    return os.path.join(prefix, "drive_c", *windows[3:].split("\\"))


def run_readme(readme, prefix, folder, env):
    """Runs the README's example blocks in their order; returns how many."""
    blocks = readme_blocks(readme)
    for number, (kind, line, body, target) in enumerate(blocks):
        what = "README-windows.txt line %d (%s block)" % (line, kind)
        if kind == "shell":
            # Each line's exit status (its last command's) checked, as a
            # user sees it.
            script = "\n".join("%s || { echo \"zip_test: README line %d failed\"; exit 1; }" % (b, line + k)
                               for k, b in enumerate(body))
            r = subprocess.run(["bash", "-uc", script], cwd=folder, env=env, capture_output=True)
        else:
            body = [re.sub(r"C:\\quire(?=[\\\"])", lambda m: FOLDER, b) for b in body]
            if kind == "batch":
                path, script = target, body
            else:
                # Each line's exit status checked, naming the line.
                path = "C:\\zip-test-block-%d.cmd" % number
                script = []
                for k, b in enumerate(body):
                    script += [b, "@if errorlevel 1 (echo zip_test: README line %d failed & exit /b 1)" % (line + k)]
            # cmd reads a batch file in the OEM code page (437 in this prefix).
            with open(drive_c_path(prefix, path), "wb") as f:
                f.write(("\r\n".join(script) + "\r\n").encode("cp437"))
            r = subprocess.run(["wine", "cmd", "/c", path], cwd=folder, env=env, capture_output=True)
        check(r.returncode == 0, "%s exited %d:\n%s\n%s%s" % (what, r.returncode, "\n".join(body),
                                                             r.stdout.decode("latin-1"), r.stderr.decode("latin-1")))
    return len(blocks)


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
    zip_path, linux_quire = (os.path.abspath(a) for a in sys.argv[1:3])
    if not os.access(linux_quire, os.X_OK):
        print("skipped: no Linux build at %s (scripts/test builds it first)" % linux_quire)
        return 77
    bin_dir = os.path.join(os.path.dirname(zip_path), "bin")
    if not os.path.exists(zip_path) or any(
            os.path.getmtime(os.path.join(bin_dir, b)) > os.path.getmtime(zip_path) for b in PACKED[:BINARIES]):
        sys.exit("%s is missing or older than the build: run scripts/package-windows" % zip_path)

    root = tempfile.mkdtemp(prefix="quire-zip-test-")
    prefix = os.path.join(root, "wineprefix")
    # No display: the README must say what the host needs without one.
    wine_env = dict((k, v) for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY"))
    wine_env.update(TZ="UTC", WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    try:
        run(["wineboot", "-i"], root, wine_env, expect=None)

        # The zip: one top folder holding what a user needs, moved to where
        # the README's examples expect it.
        top = os.path.basename(zip_path)[:-len(".zip")]
        unpacked = os.path.join(root, "unpacked")
        with zipfile.ZipFile(zip_path) as z:
            names = z.namelist()
            check(all(n.startswith(top + "/") for n in names), "not all under %s/: %s" % (top, names))
            check(all(top + "/" + p in names for p in PACKED), "missing from the zip: %s" % names)
            z.extractall(unpacked)
        folder = drive_c_path(prefix, FOLDER)
        os.makedirs(os.path.dirname(folder))
        shutil.move(os.path.join(unpacked, top), folder)
        readme = read(os.path.join(folder, "README-windows.txt"))
        check(re.search(rb"(?<!\r)\n", readme) is None, "README-windows.txt has a line end without CR")

        # The README's examples, and what they wrote.
        blocks = run_readme(readme.decode("cp1252"), prefix, folder, wine_env)
        check(blocks >= 5, "only %d example blocks found in README-windows.txt" % blocks)
        tables = drive_c_path(prefix, "C:\\tables")
        mkpc = read_if(os.path.join(tables, "mkpc.csv")) or b""
        check(mkpc.count(b"\r\n") > 2, "the README's mkpc run wrote no rows")
        for made_by_host in (os.path.join(tables, "host.csv"), os.path.join(folder, "host.csv")):
            check(read_if(made_by_host) == mkpc, "%s is not the table quire.exe wrote" % made_by_host)
        check(read_if(os.path.join(tables, "nightly.log")) is not None, "the nightly batch file wrote no log")
        # The nightly quire all wrote every kind's table into the folder and
        # logged each kind's run (its preamble line) in the folder's delta.lst.
        delta = read_if(os.path.join(tables, "delta.lst")) or b""
        for kind in (b"MKHDR", b"MKPC", b"MKOV", b"MKSPLICE", b"MKMC", b"MKMOD", b"MODEL", b"ORDML"):
            check(b"DB_VERSION_3,METRIC," + kind + b"," in delta, "the nightly run logged no %s run in delta.lst" % kind)
            check(read_if(os.path.join(tables, kind.decode().lower() + ".csv")) is not None,
                  "the nightly run wrote no %s table" % kind)
        if failures:  # the rest builds on the README's examples
            for f in failures:
                print("FAILED " + f)
            return 1

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

        # The example host, as the README's build line made it beside the
        # packed DLLs.
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
