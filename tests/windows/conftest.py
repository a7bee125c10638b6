"""The Windows programs (VEXDRAM_DIST_WIN, default dist-win/) under Wine next to the Linux ones
(VEXDRAM_DIST, default dist/): each run gives its status, standard output and standard error as
bytes, in a folder of its own, with the same relative names on both sides."""
import difflib
import os
import re
import runpy
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests"))
import wine_runs  # noqa: E402
DIST = Path(os.environ.get("VEXDRAM_DIST", REPO / "dist")).resolve()
DIST_WIN = Path(os.environ.get("VEXDRAM_DIST_WIN", REPO / "dist-win")).resolve()
BUILD_WIN = Path(os.environ.get("VEXDRAM_BUILD_WIN", REPO / "build-win")).resolve()
WINE = shutil.which("wine64") or "/usr/lib/wine/wine64"
LINUX = {name: DIST / "resource" / "tools" / name for name in ("vexdram_tool", "vexdram", "imgwelder")}
WINDOWS = {name: DIST_WIN / "resource" / "tools" / f"{name}.exe" for name in LINUX}
SAMPLES = {"tq6951_ddr_v5.bin": "tq6951", "tq6583_ddr_v2.bin": "tq6583", "tq6420_ddr_v1.bin": "tq6420"}
TEMPLATE = (REPO / "examples" / "vexdram_param.txt").read_text()
KEYS = [line[:-1] for line in TEMPLATE.splitlines()[1:] if line.endswith("=")]

missing = [str(p) for p in [*LINUX.values(), *WINDOWS.values()] if not p.exists()]
if missing or not Path(WINE).exists():
    pytest.skip(f"needs the Linux and Windows builds and Wine: missing {missing or WINE}",
                allow_module_level=True)

# packed containers carry this time on both systems
LINUX_ENV = {**os.environ, "SOURCE_DATE_EPOCH": "1700000000"}
# headless, quiet but for Wine's failure to start, one prefix inside the build folder; UTF-8
# names reach Wine as UTF-8
WINE_ENV = {**LINUX_ENV, "WINEDEBUG": wine_runs.WINEDEBUG, "LANG": "C.UTF-8",
            "WINEPREFIX": os.environ.get("WINEPREFIX", str(BUILD_WIN / "wine"))}


def _build():
    """The binary generator of the Python tests (tests/support/ddr_binaries.py)."""
    names = runpy.run_path(str(REPO / "tests" / "support" / "ddr_binaries.py"), run_name="ddr_binaries")
    return names["build"], names["SECTIONS"]


build, SECTIONS = _build()


def run(system, program, *args, cwd, stdin=None):
    """(status, stdout, stderr) of program on "linux" or "windows", in cwd; under Wine once more
    when Wine failed to start (tests/wine_runs.py)."""
    if system == "linux":
        command, env, start = [str(LINUX[program])], LINUX_ENV, subprocess.run
    else:
        command, env, start = [WINE, str(WINDOWS[program])], WINE_ENV, wine_runs.run
    r = start(command + [str(a) for a in args], cwd=cwd, env=env, input=stdin or b"", capture_output=True, timeout=120)
    return r.returncode, r.stdout, r.stderr


def pytest_terminal_summary(terminalreporter):
    wine_runs.summary(terminalreporter)


def _lines(data):
    """Output as lines to compare: text as it is, other bytes 16 to a line in hexadecimal."""
    if isinstance(data, bytes):
        try:
            if b"\0" not in data:
                return data.decode().splitlines()
        except UnicodeDecodeError:
            pass
        return [f"{at:06x}: {data[at:at + 16].hex(' ')}" for at in range(0, len(data), 16)]
    return ["(none)"] if data is None else [repr(data)]


def differences(command, linux, windows):
    """What differs between one command on Linux and under Wine, whole: the command, both
    statuses, and a unified diff of every output that differs ("" when nothing does). linux and
    windows map each output's name to its bytes (or None); "status" to the status; "files" to a
    map of file names to bytes."""
    flat = [{}, {}]
    for side, seen in zip(flat, (linux, windows)):
        for part, value in seen.items():
            if part == "files":
                side.update({f"file {name}": data for name, data in value.items()})
            else:
                side[part] = value
    if flat[0] == flat[1]:
        return ""
    text = [f"$ {' '.join(map(str, command))}",
            f"status: Linux {flat[0].get('status')}, Windows {flat[1].get('status')}"]
    for part in sorted(set(flat[0]) | set(flat[1])):
        a, b = flat[0].get(part), flat[1].get(part)
        if a != b and part != "status":
            text += difflib.unified_diff(_lines(a), _lines(b), f"{part} (Linux)", f"{part} (Windows)", lineterm="")
    return "\n".join(text)


def outputs(result, **more):
    """A run's (status, stdout, stderr) and more outputs, named for differences()."""
    return {"status": result[0], "stdout": result[1], "stderr": result[2], **more}


def without_program_name(stderr):
    """The C library's complaints name the program as it was started: its path differs."""
    return re.sub(rb"(?m)^.*?(vexdram_tool|imgwelder)(\.exe)?: ", rb"\1: ", stderr)


def with_values(values):
    """The blank template with these values filled in."""
    lines = TEMPLATE.splitlines()
    for key, value in values.items():
        lines[lines.index(f"{key}=")] = f"{key}={value}"
    return "\n".join(lines) + "\n"


@pytest.fixture(scope="session", autouse=True)
def wine_server():
    """One Wine server for the whole session: a program then starts in a fifth of a second. The
    first program started brings up Wine's own background programs, which would hold on to its
    output pipes: that one runs with its output going nowhere."""
    server = Path(WINE).with_name("wineserver")
    if server.exists():
        subprocess.run([str(server), "-p"], env=WINE_ENV, check=False)
    subprocess.run([WINE, str(WINDOWS["vexdram_tool"])], env=WINE_ENV, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    yield
    if server.exists():
        subprocess.run([str(server), "-k"], env=WINE_ENV, check=False)
