"""Runs of a Windows program under Wine, with Wine's one failure of its own told apart.

About one Wine start in 6 000 here (7 in 45 000 measured) dies before the program is loaded:
status 1, nothing printed. Debian's wine64 is a non-PIE binary started without Wine's preloader,
so the kernel puts the process heap (brk) at a random place above it; when the heap has grown
over the fixed address of the shared user data page (0x7ffe0000), Wine cannot map that page
(c0000018, conflicting addresses) and exits. With the channel
err:virtual on, that run's standard error holds SIGNATURE, and no run of the program itself ever
prints it. Such a run, and only such a run, is run once more: the program never ran, so nothing
was read or written. Each rerun is counted and printed; a second failure in a row is a failure.

    /usr/bin/python3 tests/wine_runs.py WINE PROGRAM.exe [ARGS...]   (a command line, as CTest's
    emulator: the same rule, standard output and error passed on)"""
import os
import subprocess
import sys

SIGNATURE = b"err:virtual:virtual_alloc_first_teb wine: failed to map the shared user data"
# Wine quiet, but for the channel that names its own failure to start
WINEDEBUG = "-all,err+virtual"

reruns = []  # (command, standard error of the failed start), one per rerun


class WineFailedTwice(AssertionError):
    pass


def wine_failed(stderr):
    """True when Wine died before the program was loaded (stderr as bytes or text)."""
    return SIGNATURE in (stderr if isinstance(stderr, bytes) else (stderr or "").encode())


def note(command, stderr):
    reruns.append((list(map(str, command)), stderr))
    print(f"wine: failed to start (shared user data), run once more ({len(reruns)} so far): "
          f"{' '.join(map(str, command))}", flush=True)


def run(command, **kw):
    """subprocess.run with standard error captured, once more when Wine failed to start."""
    if "stderr" not in kw and not kw.get("capture_output"):
        kw["stderr"] = subprocess.PIPE
    r = subprocess.run(command, **kw)
    if not wine_failed(r.stderr):
        return r
    note(command, r.stderr)
    again = subprocess.run(command, **kw)
    if wine_failed(again.stderr):
        raise WineFailedTwice(f"Wine failed to start twice in a row: {' '.join(map(str, command))}")
    return again


class Process:
    """A started program (subprocess.Popen with output pipes) whose end is waited for with
    wait() or communicate(): started once more when Wine failed to start."""

    def __init__(self, command, **kw):
        self.command, self.kw = command, kw
        self.popen = subprocess.Popen(command, **kw)
        self.result = None

    def communicate(self):
        if self.result is None:
            out, err = self.popen.communicate()
            if wine_failed(err):
                note(self.command, err)
                again = subprocess.Popen(self.command, **self.kw)
                out, err = again.communicate()
                if wine_failed(err):
                    raise WineFailedTwice(f"Wine failed to start twice in a row: {self.command}")
                self.popen = again
            self.result = out, err
        return self.result

    def wait(self):
        self.communicate()
        return self.popen.returncode

    @property
    def returncode(self):
        return self.popen.returncode


def summary(terminalreporter):
    """The reruns of a test session, for its summary (pytest_terminal_summary)."""
    terminalreporter.write_line(f"wine: {len(reruns)} run(s) started once more after Wine failed to "
                                f"start ({SIGNATURE.decode()})")
    for command, _ in reruns:
        terminalreporter.write_line(f"  {' '.join(command)}")


if __name__ == "__main__":
    os.environ["WINEDEBUG"] = WINEDEBUG
    try:
        r = run(sys.argv[1:], stdout=None, stderr=subprocess.PIPE)
    except WineFailedTwice as e:
        print(e, file=sys.stderr)
        sys.exit(1)
    sys.stderr.buffer.write(r.stderr)
    sys.exit(r.returncode)
