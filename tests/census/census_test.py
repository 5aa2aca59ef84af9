#!/usr/bin/env python3
"""Census runs that a CMake script cannot drive: JSON checked with a real parser, and
standard error on a terminal.

    census_test.py CASE CENSUS EMULATOR WORKDIR

CASE is json, terminal, vanishing, huge or permissions; EMULATOR is a command joined with "|" (empty for
none); the program runs in this script's directory, WORKDIR takes made inputs.
"""
import json
import os
import pty
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def drain(master):
    """Reads a terminal's master side until the program closes the terminal, and closes it."""
    data = b""
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:  # EIO: the program has closed the terminal
            break
        if not chunk:
            break
        data += chunk
    os.close(master)
    return data


def run(cmd, stderr):
    """Runs cmd with stderr going to `stderr`: "pipe", "file" or "terminal". Returns the
    exit status, standard output and standard error as bytes."""
    if stderr == "terminal":
        master, slave = pty.openpty()
        proc = subprocess.Popen(cmd, cwd=HERE, stdout=subprocess.PIPE, stderr=slave)
        os.close(slave)
        err = drain(master)
        out = proc.stdout.read()
        return proc.wait(), out, err
    if stderr == "file":
        with open(os.path.join(WORKDIR, "stderr"), "w+b") as f:
            proc = subprocess.run(cmd, cwd=HERE, stdout=subprocess.PIPE, stderr=f)
            f.seek(0)
            return proc.returncode, proc.stdout, f.read()
    proc = subprocess.run(cmd, cwd=HERE, capture_output=True)
    return proc.returncode, proc.stdout, proc.stderr


def check(condition, what, *details):
    if not condition:
        sys.exit("FAILED: " + what + "".join("\n--- " + repr(d) for d in details))


# File names and what they become once written as JSON and parsed back: valid UTF-8
# stays, every other byte becomes the character of its value.
ODD_NAMES = [
    (b'missing "quoted" back\\slash\ttab\x01.txt', 'missing "quoted" back\\slash\ttab\x01.txt'),
    (b"missing caf\xc3\xa9.txt", "missing caf\u00e9.txt"),
    (b"missing \xff\xfe.txt", "missing \u00ff\u00fe.txt"),
    (b"missing \xed\xa0\x80.txt", "missing \u00ed\u00a0\u0080.txt"),  # an encoded surrogate
    (b"missing \xe2\x82.txt", "missing \u00e2\u0082.txt"),  # a sequence cut short
]


def case_json():
    # The JSON, parsed, must give back exactly the text output of the same census; the
    # errors are one JSON object per line, naming each file as it was given.
    files = ["data/alpha.txt", "data/beta.txt", "data/gamma.txt"]
    status, out, err = run(CENSUS + ["--format", "json", "--top", "5"] + files
                           + [name for name, _ in ODD_NAMES], "pipe")
    check(status == 1, "exit status 1", status, err)
    doc = json.loads(out)
    check(list(doc) == ["files", "identifiers", "distinct", "ranking"], "the object's keys", doc)
    text = f"census: {doc['files']} files, {doc['identifiers']} identifiers, {doc['distinct']} distinct\n"
    text += "rank  count  files  identifier\n"
    for rank, row in enumerate(doc["ranking"], 1):
        check(row["rank"] == rank, "ranks in order", row)
        text += f"{row['rank']:4d}{row['count']:7d}{row['files']:7d}  {row['identifier']}\n"
    with open(os.path.join(HERE, "expected_top5.txt")) as f:
        check(text == f.read(), "the JSON ranking is the text ranking", text)
    errors = [json.loads(line) for line in err.decode("utf-8").splitlines()]
    check(errors == [{"file": name, "error": "No such file or directory"} for _, name in ODD_NAMES],
          "one JSON error per missing file", errors)
    # An empty ranking is still one valid object.
    status, out, _ = run(CENSUS + ["--format=json", "--top", "0", "data"], "pipe")
    check(status == 0 and json.loads(out)["ranking"] == [], "an empty ranking", out)


def case_terminal():
    # Progress only on a terminal: redrawn in place, ended by a newline; none into a
    # file. Standard output is the same either way.
    args = CENSUS + ["--top", "1"] + ["data/alpha.txt"] * 9
    status, out, err = run(args, "terminal")
    check(status == 0, "exit status 0", status, err)
    check(err.startswith(b"\rcensus: counting 1/9 files\rcensus: counting 2/9 files")
          and err.endswith(b"\rcensus: counting 9/9 files\r\n"), "progress on a terminal", err)
    status, plain, err = run(args, "file")
    check(status == 0 and err == b"" and plain == out, "no progress into a file", err, plain, out)


def case_vanishing():
    # A file that disappears after census has listed it and before it reads it: census
    # names it on standard error, exits with status 1 and prints the census of the
    # files it could read. The first progress on the terminal comes once the walk has
    # listed every file and a.txt is counted; the z*.txt files are deleted then, while
    # census reads the large b*.txt files. That races census, so a run where it read
    # every file first is repeated; every run must account for each listed file.
    tree = os.path.join(WORKDIR, "vanishing")
    shutil.rmtree(tree, ignore_errors=True)
    os.makedirs(tree)
    with open(os.path.join(tree, "a.txt"), "w") as f:
        f.write("kiwi\n")
    for i in range(1, 5):
        with open(os.path.join(tree, f"b{i}.txt"), "w") as f:
            f.write("kiwi apple " * 200000 + "\n")
    listed = 55
    expected = b"rank  count  files  identifier\n   1 800001      5  kiwi\n   2 800000      4  apple\n"
    for attempt in range(1, 21):
        for i in range(10, 60):
            with open(os.path.join(tree, f"z{i}.txt"), "w") as f:
                f.write("pear\n")
        master, slave = pty.openpty()
        proc = subprocess.Popen(CENSUS + ["--top", "2", tree], cwd=HERE, stdout=subprocess.PIPE,
                                stderr=slave)
        os.close(slave)
        err = os.read(master, 4096)
        for i in range(10, 60):
            os.remove(os.path.join(tree, f"z{i}.txt"))
        err += drain(master)
        out = proc.stdout.read()
        status = proc.wait()
        head, _, rest = out.partition(b"\n")
        check(rest == expected and head.startswith(b"census: "), "the census of the files read", out, err)
        read = int(head.split()[1])
        missing = err.count(b".txt: No such file or directory")
        check(read + missing == listed, f"{read} read and {missing} missing of {listed} listed", err)
        if missing:
            check(status == 1, f"status 1 with {missing} files missing", status)
            print(f"attempt {attempt}: {missing} of {listed} files vanished before census read them")
            return
        check(status == 0, "status 0 when every file was read", status, err)
    sys.exit(f"FAILED: in 20 runs census read every file before the deletion")


def measured(args):
    """Runs census on `args`: its exit status, output, errors and peak RSS in KiB."""
    with open(os.path.join(WORKDIR, "stderr"), "w+b") as f:
        proc = subprocess.Popen(CENSUS + args, cwd=HERE, stdout=subprocess.PIPE, stderr=f)
        out = proc.stdout.read()
        status, usage = os.wait4(proc.pid, 0)[1:]
        f.seek(0)
        return os.waitstatus_to_exitcode(status), out, f.read(), usage.ru_maxrss


def case_huge():
    # One line of 100 MB in a C file: a comment of 1.2 MB, an identifier of exactly 1 MiB
    # (counted), one of 64 MiB (named, not counted), then words up to 100 MB, some glued
    # to bytes that are not UTF-8. Read in pieces, census counts it exactly, in a
    # memory that the file's size does not set: against a run on a small file, the
    # peak resident set grows by less than 16 MiB (the run on the emulator excepted).
    path = os.path.join(WORKDIR, "huge.c")
    mib = 1 << 20
    words = 3_000_000
    with open(path, "wb") as f:
        f.write(b"kiwi /* " + b"apple " * 200_000 + b"*/ kiwi " + b"x" * mib + b" ")
        block = b"y" * mib
        for _ in range(64):
            f.write(block)
        f.write(b" \xff\xfeapple\x80 kiwi" * 5)
        block = b" kiwi apple" * 100_000  # a block at a time: the peak RSS of this script,
        for _ in range(words // 100_000 - 1):  # where census's starts, stays small
            f.write(block)
        f.write(b" kiwi apple" * (100_000 - 5) + b"\n")
    check(os.path.getsize(path) > 100_000_000, "a line of 100 MB")
    status, out, err, rss = measured(["--top", "3", path])
    check(status == 1 and err == f"census: {path}: 1 identifier longer than 1048576 bytes not counted\n".encode(),
          "the identifier of 64 MiB named", status, err)
    expected = (f"census: 1 files, {2 * words + 3} identifiers, 3 distinct\n"
                f"rank  count  files  identifier\n{1:4d}{words + 2:7d}{1:7d}  kiwi\n"
                f"{2:4d}{words:7d}{1:7d}  apple\n{3:4d}{1:7d}{1:7d}  {'x' * mib}\n").encode()
    check(out == expected, "the census of the huge line", out[:300])
    small = measured(["--top", "3", "data/alpha.txt"])[3]
    print(f"peak RSS {rss} KiB on the huge line, {small} KiB on a small file")
    check(CENSUS[0] != PROGRAM or rss - small < 16 * 1024, f"peak RSS {rss} KiB, {small} KiB on a small file")
    os.remove(path)


def case_permissions():
    # A file and a directory the user may not read: each named on standard error with the
    # system's reason, status 1, and the files that could be read counted. Permission bits
    # do not bind root, so as root census runs as the unprivileged user 65534; where that
    # user cannot reach the program (a build tree it may not enter), the case is skipped.
    import tempfile
    tree = tempfile.mkdtemp(prefix="census-permissions-")
    profile = tempfile.mkdtemp(prefix="census-profile-")
    try:
        os.chmod(tree, 0o755)
        os.mkdir(os.path.join(tree, "sub"))
        for name, text in (("a.txt", "kiwi apple kiwi\n"), ("b.txt", "pear\n"), ("sub/c.txt", "plum\n")):
            with open(os.path.join(tree, name), "w") as f:
                f.write(text)
        os.chmod(os.path.join(tree, "b.txt"), 0)
        os.chmod(os.path.join(tree, "sub"), 0)
        user = []
        if os.geteuid() == 0:
            # A coverage build writes its counts on exit: the other user writes them here.
            os.chmod(profile, 0o777)
            user = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "env", f"GCOV_PREFIX={profile}"]
            if shutil.which("setpriv") is None or run(user + CENSUS + ["--help"], "pipe")[0] != 0:
                print("skipped: the unprivileged user cannot run the program here")
                sys.exit(77)
        status, out, err = run(user + CENSUS + ["--top", "3", tree], "pipe")
        check(status == 1 and err == (f"census: {tree}/sub: Permission denied\n"
                                      f"census: {tree}/b.txt: Permission denied\n").encode(),
              "the unreadable directory and file named", status, err)
        check(out == b"census: 1 files, 3 identifiers, 2 distinct\nrank  count  files  identifier\n"
                     b"   1      2      1  kiwi\n   2      1      1  apple\n", "the census of what was read", out)
    finally:
        os.chmod(os.path.join(tree, "sub"), 0o755)
        shutil.rmtree(tree)
        shutil.rmtree(profile)


if __name__ == "__main__":
    case, program, emulator, WORKDIR = sys.argv[1:5]
    CENSUS = [part for part in emulator.split("|") if part] + [program]
    PROGRAM = program
    os.makedirs(WORKDIR, exist_ok=True)
    {"json": case_json, "terminal": case_terminal, "vanishing": case_vanishing, "huge": case_huge,
     "permissions": case_permissions}[case]()
