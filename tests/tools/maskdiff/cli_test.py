#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Command-line tests of maskdiff: operands, files, standard input, messages
and exit statuses, all checked byte for byte.

Usage: cli_test.py [--run EMULATOR] [--windows] PATH_TO_MASKDIFF "TOOLBOX VERSION"

--run runs the program under an emulator (a command, split at blanks, such as
"wine" or "qemu-aarch64-static -L /usr/aarch64-linux-gnu"); --windows says
that the program is a Windows one, where the cases marked POSIX cannot exist.
"""
import os
import signal
import subprocess
import sys
import tempfile

USAGE = b"Usage: maskdiff file1 file2\n"


class StartsWith(bytes):
    """An expected output that the actual one must begin with."""

    def __eq__(self, other):
        return other.startswith(bytes(self))

    __hash__ = bytes.__hash__


def diff(line, a, b):
    return b"----Difference on line %d:\n" % line + a + b


# Files written into a scratch folder; operands name them (or "-", or a
# missing path, or the folder "dir").
FILES = {
    "a": b"first\ncpu time = 0.12 seconds\nlast\n",
    "a_slow": b"first\ncpu time = 9.5 seconds\nlast\n",
    "b": b"first\nsecond\nlast\n",
    "short": b"first\n",
    "empty": b"",
    "nul1": b"x\0y\n",
    "nul2": b"x\0z\n",
    "six1": b"".join(b"%d\n" % i for i in range(6)) + b"tail\n",
    "six2": b"".join(b"-%d\n" % i for i in range(6)),
    "long1": b"a" * 99999 + b"\nend1\n",
    "long2": b"a" * 99999 + b"\nend2\n",
    "counts1": b"canupdates=3; cpu time = 0.5 seconds\n",
    "counts2": b"canupdates=4; cpu time = 0.9 seconds\n",
    "counts3": b"canupdates= 3; cpu time = 12 seconds\n",
    "dup": b"same\nsame\n",
    # Bytes that a text-mode stream would change: line ends of CR LF read as
    # LF, and Ctrl-Z read as the end of the file.
    "crlf": b"a\r\nb\r\n",
    "lf": b"a\nb\n",
    "ctrlz1": b"x\x1ay\n",
    "ctrlz2": b"x\x1az\n",
}

SIX_REPORT = (b"".join(diff(i + 1, b"%d\n" % i, b"-%d\n" % i) for i in range(5)) +
              b"----And more differences not reported.\n")

def cant(verb, n):
    return b">E maskdiff can't %s file %d\n" % (verb.encode(), n)


# A case is (name, operands, standard input, expected stdout, expected
# stderr, status); most are of three kinds: the files agree ("OK", status 0),
# a report of how they differ (status 1), or a refusal on standard error
# (status 1).
def agree(name, operands, stdin=b""):
    return (name, operands, stdin, b"OK\n", b"", 0)


def differ(name, operands, report, stdin=b""):
    return (name, operands, stdin, report, b"", 1)


def refused(name, operands, message, stdin=b""):
    return (name, operands, stdin, b"", message, 1)


CASES = [
    refused("no operands", [], USAGE),
    refused("one operand", ["a"], USAGE),
    refused("three operands", ["a", "a", "a"], USAGE),
    # A lone --help or --version is an option; anything else is an operand.
    ("lone --help", ["--help"], b"", StartsWith(USAGE), b"", 0),
    ("lone --version", ["--version"], b"", None, b"", 0),
    refused("-h is an operand", ["-h"], USAGE),
    refused("--help with an operand", ["--help", "a"], cant("open", 1)),
    refused("--help --version are files", ["--help", "--version"], cant("open", 1)),
    agree("identical", ["a", "a"]),
    agree("both empty", ["empty", "empty"]),
    agree("time tolerated", ["a", "a_slow"]),
    differ("difference", ["a", "b"], diff(2, b"cpu time = 0.12 seconds\n", b"second\n")),
    differ("count differs", ["counts1", "counts2"], diff(1, FILES["counts1"], FILES["counts2"])),
    agree("count with blanks", ["counts1", "counts3"]),
    differ("file 1 longer", ["a", "short"], b"File 1 is longer\n"),
    differ("file 2 longer", ["empty", "a"], b"File 2 is longer\n"),
    differ("more than five", ["six1", "six2"], SIX_REPORT),
    differ("NUL bytes", ["nul1", "nul2"], diff(1, b"x\0y\n", b"x\0z\n")),
    differ("long line in pieces", ["long1", "long2"], diff(3, b"end1\n", b"end2\n")),
    refused("file 1 missing", ["missing", "a"], cant("open", 1)),
    refused("file 2 missing", ["a", "missing"], cant("open", 2)),
    refused("both missing", ["missing", "missing"], cant("open", 1)),
    refused("dash-x is a name", ["-x", "a"], cant("open", 1), b"a\n"),
    refused("file 1 unreadable", ["dir", "a"], cant("read", 1)),
    refused("file 2 unreadable", ["a", "dir"], cant("read", 2)),
    agree("stdin as file 1", ["-", "a"], FILES["a_slow"]),
    differ("stdin as file 2", ["b", "-"], diff(2, b"second\n", b"cpu time = 0.12 seconds\n"),
           FILES["a"]),
    agree("stdin twice, pairs agree", ["-", "-"],
          b"x\nx\ncpu time = 1 seconds\ncpu time = 2 seconds\n"),
    differ("stdin twice, odd count", ["-", "-"], b"File 1 is longer\n", b"x\nx\ny\n"),
    differ("stdin twice, a difference", ["-", "-"], diff(2, b"p\n", b"q\n"), b"x\nx\np\nq\n"),
    differ("CR LF against LF", ["crlf", "lf"],
           diff(1, b"a\r\n", b"a\n") + diff(2, b"b\r\n", b"b\n")),
    differ("CR LF on stdin", ["lf", "-"],
           diff(1, b"a\n", b"a\r\n") + diff(2, b"b\n", b"b\r\n"), FILES["crlf"]),
    agree("CR LF both", ["crlf", "-"], FILES["crlf"]),
    differ("Ctrl-Z", ["ctrlz1", "ctrlz2"], diff(1, FILES["ctrlz1"], FILES["ctrlz2"])),
    differ("Ctrl-Z on stdin", ["-", "ctrlz2"], diff(1, FILES["ctrlz1"], FILES["ctrlz2"]),
           FILES["ctrlz1"]),
]

CANT_WRITE = b">E maskdiff can't write output\n"


def run_devfull(program, operands, cwd):
    with open("/dev/full", "wb") as full:
        return subprocess.run(program + operands, stdout=full, stderr=subprocess.PIPE,
                              stdin=subprocess.DEVNULL, cwd=cwd)


def run_closed(program, operands, cwd):
    return subprocess.run(["sh", "-c", 'exec "$@" >&-', "sh"] + program + operands,
                          stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, cwd=cwd)


def run_stdin_closed(program, operands, cwd):
    return subprocess.run(["sh", "-c", 'exec "$@" <&-', "sh"] + program + operands,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, cwd=cwd)


def run_broken_pipe(program, operands, cwd, ignore_sigpipe=False):
    read_end, write_end = os.pipe()
    os.close(read_end)
    preexec = (lambda: signal.signal(signal.SIGPIPE, signal.SIG_IGN)) if ignore_sigpipe else None
    try:
        return subprocess.run(program + operands, stdout=write_end, stderr=subprocess.PIPE,
                              stdin=subprocess.DEVNULL, cwd=cwd, preexec_fn=preexec)
    finally:
        os.close(write_end)


# Standard output that cannot be written: a full device and a closed
# descriptor fail with the message and status 1, whatever the report says. A
# reader that has gone away ends the program by SIGPIPE, or, where SIGPIPE is
# ignored, fails like the other two.
# (name, run, operands, expected stderr, expected status)
OUTPUT_CASES = [
    ("full device, OK", run_devfull, ["a", "a_slow"], CANT_WRITE, 1),
    ("full device, difference", run_devfull, ["a", "b"], CANT_WRITE, 1),
    ("full device, longer", run_devfull, ["a", "short"], CANT_WRITE, 1),
    ("full device, more than five", run_devfull, ["six1", "six2"], CANT_WRITE, 1),
    ("closed, OK", run_closed, ["a", "a"], CANT_WRITE, 1),
    ("closed, difference", run_closed, ["a", "b"], CANT_WRITE, 1),
    ("closed, long lines", run_closed, ["long1", "long2"], CANT_WRITE, 1),
    ("no reader, OK", run_broken_pipe, ["a", "a"], b"", -signal.SIGPIPE),
    ("no reader, difference", run_broken_pipe, ["a", "b"], b"", -signal.SIGPIPE),
    ("no reader, SIGPIPE ignored",
     lambda p, o, cwd: run_broken_pipe(p, o, cwd, ignore_sigpipe=True), ["a", "b"], CANT_WRITE, 1),
    # A closed standard input cannot be read as "-", and a named file opened
    # in its place is still that file, never "-" too.
    ("stdin closed, file 2 is -", run_stdin_closed, ["dup", "-"], cant("read", 2), 1),
    ("stdin closed, file 1 is -", run_stdin_closed, ["-", "dup"], cant("read", 1), 1),
    ("stdin closed, both -", run_stdin_closed, ["-", "-"], cant("read", 1), 1),
    ("stdin closed, two files", run_stdin_closed, ["a", "b"], b"", 1),
    # Nothing is written to standard output here: the usual message and status.
    ("full device, usage", run_devfull, ["a"], USAGE, 1),
    ("full device, --help", run_devfull, ["--help"], CANT_WRITE, 1),
    ("full device, --version", run_devfull, ["--version"], CANT_WRITE, 1),
    ("full device, missing file", run_devfull, ["missing", "a"], cant("open", 1), 1),
]


# Cases that cannot exist on Windows, where the --windows run leaves them out.
POSIX_ONLY = {
    "file 1 unreadable": "a folder does not open as a file",
    "file 2 unreadable": "a folder does not open as a file",
    "no reader, OK": "no SIGPIPE: a write to a pipe without reader fails",
    "no reader, difference": "no SIGPIPE: a write to a pipe without reader fails",
}


def main():
    args = sys.argv[1:]
    prefix = []
    windows = False
    while args and args[0].startswith("--"):
        if args[0] == "--run":
            prefix = args[1].split()
            args = args[2:]
        elif args[0] == "--windows":
            windows = True
            args = args[1:]
        else:
            sys.exit("cli_test.py: unknown option " + args[0])
    program = prefix + [os.path.abspath(args[0])]
    skipped = POSIX_ONLY if windows else {}
    toolbox, version = args[1].encode().split(b" ")
    version_line = b"maskdiff (%s) %s\n" % (toolbox, version)
    failed = 0
    with tempfile.TemporaryDirectory() as scratch:
        for name, text in FILES.items():
            with open(os.path.join(scratch, name), "wb") as f:
                f.write(text)
        os.mkdir(os.path.join(scratch, "dir"))
        for name, operands, stdin, out, err, status in CASES:
            if name in skipped:
                continue
            out = version_line if out is None else out
            run = subprocess.run(program + operands, input=stdin, capture_output=True,
                                 cwd=scratch)
            got = (run.stdout, run.stderr, run.returncode)
            if got != (out, err, status):
                failed += 1
                print("FAIL %s:\n  expected %r\n  got      %r" % (name, (out, err, status), got))
        for name, run_with, operands, err, status in OUTPUT_CASES:
            if name in skipped:
                continue
            run = run_with(program, operands, scratch)
            got = (run.stderr, run.returncode)
            if got != (err, status):
                failed += 1
                print("FAIL %s:\n  expected %r\n  got      %r" % (name, (err, status), got))
    total = len(CASES) + len(OUTPUT_CASES) - len(skipped)
    print("%d passed, %d failed" % (total - failed, failed))
    for name in sorted(skipped):
        print("left out on Windows: %s (%s)" % (name, skipped[name]))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
