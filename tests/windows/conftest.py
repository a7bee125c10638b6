"""The Windows programs (VEXDRAM_DIST_WIN, default dist-win/) under Wine next to the Linux ones
(VEXDRAM_DIST, default dist/): each run gives its status, standard output and standard error as
bytes, in a folder of its own, with the same relative names on both sides."""
import os
import re
import runpy
import shutil
import subprocess
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
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
# headless, quiet, one prefix inside the build folder; UTF-8 names reach Wine as UTF-8
WINE_ENV = {**LINUX_ENV, "WINEDEBUG": "-all", "LANG": "C.UTF-8",
            "WINEPREFIX": os.environ.get("WINEPREFIX", str(BUILD_WIN / "wine"))}


def _build():
    """The binary generator of the Python tests (tests/support/ddr_binaries.py)."""
    names = runpy.run_path(str(REPO / "tests" / "support" / "ddr_binaries.py"), run_name="ddr_binaries")
    return names["build"], names["SECTIONS"]


build, SECTIONS = _build()


def run(system, program, *args, cwd, stdin=None):
    """(status, stdout, stderr) of program on "linux" or "windows", in cwd."""
    if system == "linux":
        command, env = [str(LINUX[program])], LINUX_ENV
    else:
        command, env = [WINE, str(WINDOWS[program])], WINE_ENV
    r = subprocess.run(command + [str(a) for a in args], cwd=cwd, env=env, input=stdin or b"", capture_output=True,
                       timeout=120)
    return r.returncode, r.stdout, r.stderr


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
