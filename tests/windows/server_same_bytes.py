#!/usr/bin/env python3
"""A server store written and read on Windows gives the Linux tables.

quire.exe (under Wine, whose ODBC driver manager hands the calls to the
machine's own) imports the example area into a database of its own on the
private server of scripts/pg-server; the Linux quire imports the same file
into a second database. Every kind, as CSV, detailed CSV and dBASE, is then
written three times: by quire.exe and by the Linux quire from the Windows
import, and by the Linux quire from its own import. All three must be the
same bytes apart from the preamble's area text (it names the database) and
the dBASE header's date of writing: the first pair checks what Windows reads
(texts beyond ASCII among them), the second what it wrote.

usage: server_same_bytes.py LINUX_QUIRE WINDOWS_QUIRE_EXE SOURCE_DIR
Exits 77 (skipped) when QUIRE_TEST_ODBC is not set or the Linux build is
absent; set but the server not answering is a failure.
"""
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

KINDS = ["mkhdr", "mkpc", "mkmod", "mkmc", "mkov", "mksplice", "model", "ordml"]
FORMS = [("csv", []), ("detailed.csv", ["--detailed"]), ("dbf", [])]


def windows_path(path):
    # Wine shows the Linux root as drive Z:.
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def fail(text):
    sys.exit("server_same_bytes: " + text)


def in_database(connection, database):
    if not re.search(r"(^|;)\s*Database\s*=", connection, re.I):
        fail("the connection string names no Database=")
    return re.sub(r"((?:^|;)\s*Database\s*=)[^;]*", lambda m: m.group(1) + database, connection, flags=re.I)


def comparable(name, data):
    """The bytes without what names the database or the day of writing."""
    if name.endswith(".dbf"):
        return data[:1] + data[4:]
    end = data.find(b"\n")
    end = len(data) if end < 0 else end
    # The preamble's fourth value onwards is the area text.
    first = re.sub(rb'^("[^"]*","[^"]*","[^"]*",).*$', rb"\1", data[:end])
    return first + data[end:]


class Side:
    def __init__(self, root, name, program, wine, store):
        self.out = os.path.join(root, name)
        os.makedirs(self.out)
        self.argv = ["wine", program] if wine else [program]
        self.env = dict(os.environ, TZ="UTC", QUIRE_STORE="odbc:" + store)
        self.name = name

    def quire(self, *args):
        r = subprocess.run(self.argv + list(args), cwd=self.out, env=self.env, capture_output=True)
        if r.returncode != 0:
            fail("%s: quire %s exited %d\n%s" % (self.name, " ".join(args), r.returncode,
                                                  r.stderr.decode("latin-1")[-2000:]))

    def table(self, name):
        with open(os.path.join(self.out, name), "rb") as f:
            return f.read()


def main():
    linux_quire, windows_quire, source_dir = (os.path.abspath(a) for a in sys.argv[1:4])
    given = os.environ.get("QUIRE_TEST_ODBC", "")
    if not given:
        print("skipped: QUIRE_TEST_ODBC is not set (scripts/pg-server start DIR writes it)")
        return 77
    if not os.access(linux_quire, os.X_OK):
        print("skipped: no Linux build at %s (scripts/test builds it first)" % linux_quire)
        return 77
    psql = shlex.split(os.environ.get("QUIRE_TEST_PSQL", ""))
    if not psql:
        fail("QUIRE_TEST_ODBC is set but QUIRE_TEST_PSQL is not (source the whole of scripts/pg-server's DIR/env)")
    owner = re.search(r"(?:^|;)\s*Username\s*=([^;]*)", given, re.I)
    password = re.search(r"(?:^|;)\s*Password\s*=([^;]*)", given, re.I)

    def sql(statement):
        r = subprocess.run(psql + ["-c", statement], capture_output=True)
        if r.returncode != 0:
            fail("%s: %s" % (statement, r.stderr.decode("latin-1").strip()))

    sql("SELECT 1")
    tag = "%d_%d" % (os.getpid(), int.from_bytes(os.urandom(2), "little"))
    databases = {"windows": "quire_win_" + tag, "linux": "quire_linux_" + tag}
    root = tempfile.mkdtemp(prefix="quire-server-same-bytes-")
    made = []
    try:
        for database in databases.values():
            sql("CREATE DATABASE %s%s" % (database, " OWNER " + owner.group(1) if owner else ""))
            made.append(database)
        win_store = in_database(given, databases["windows"])
        linux_store = in_database(given, databases["linux"])
        area_file = os.path.join(source_dir, "examples", "shop.json")
        Side(root, "windows-import", windows_quire, True, win_store).quire("area", "import", windows_path(area_file))
        Side(root, "linux-import", linux_quire, False, linux_store).quire("area", "import", area_file)

        windows = Side(root, "windows", windows_quire, True, win_store)
        linux = Side(root, "linux", linux_quire, False, win_store)
        reference = Side(root, "reference", linux_quire, False, linux_store)
        failures = []
        tables = 0
        for kind in KINDS:
            for form, options in FORMS:
                name = "%s.%s" % (kind, form)
                for side in (windows, linux, reference):
                    side.quire(kind, "--quiet", "--no-progress", *options, "SHOP", name)
                tables += 1
                want = comparable(name, reference.table(name))
                for side, what in ((windows, "read on Windows"), (linux, "written on Windows")):
                    got = comparable(name, side.table(name))
                    if got != want:
                        at = next((i for i in range(min(len(got), len(want))) if got[i] != want[i]),
                                  min(len(got), len(want)))
                        failures.append("%s %s: differs at byte %d: %r / Linux %r"
                                        % (name, what, at, got[at:at + 40], want[at:at + 40]))
                    if password and password.group(1).encode() in side.table(name):
                        failures.append("%s %s: carries the server's password" % (name, what))
        for f in failures:
            print("DIFFERENT " + f)
        print("%d kinds x %d forms on the server compared, %d different" % (len(KINDS), len(FORMS), len(failures)))
        return 1 if failures else 0
    finally:
        for database in made:
            subprocess.run(psql + ["-c", "DROP DATABASE IF EXISTS %s WITH (FORCE)" % database], capture_output=True)
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
