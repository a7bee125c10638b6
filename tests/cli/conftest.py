"""vexdram and vexdram_tool from the install tree (VEXDRAM_DIST), and the synthetic DDR binaries of
every block version that tests/support/ddr_binaries.py builds.
With VEXDRAM_EXE set, the tests run that vexdram.exe under Wine instead (scripts/test_windows.sh),
beside the Linux vexdram_tool and imgwelder; what only Linux has is skipped, with the reason."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "support"))
from ddr_binaries import SECTIONS, build, overlapping, skew_in_section  # noqa: E402,F401 (for the tests)
DIST = Path(os.environ.get("VEXDRAM_DIST", REPO / "dist")).resolve()
TOOLS = DIST / "resource" / "tools"
VEXDRAM, TOOL = TOOLS / "vexdram", TOOLS / "vexdram_tool"
SAMPLES = {"tq6951_ddr_v5.bin": "tq6951", "tq6583_ddr_v2.bin": "tq6583", "tq6420_ddr_v1.bin": "tq6420"}
TEMPLATE = (REPO / "examples" / "vexdram_param.txt").read_text()

if not VEXDRAM.exists():
    pytest.skip(f"no vexdram installed in {DIST}", allow_module_level=True)

EXE = os.environ.get("VEXDRAM_EXE")
if EXE:
    # headless and quiet, the prefix of the Windows build (its server already up, or started now)
    os.environ.setdefault("WINEDEBUG", "-all")
    os.environ.setdefault("WINEPREFIX", str(REPO / "build-win" / "wine"))
    COMMAND = [shutil.which("wine64") or "/usr/lib/wine/wine64", EXE]
else:
    COMMAND = [VEXDRAM]


@pytest.fixture(scope="session", autouse=True)
def wine_server():
    """Under Wine, one server for the session: the first program started brings up Wine's own
    background programs, which would hold every later run's output pipes for seconds."""
    if not EXE:
        yield
        return
    server = Path(COMMAND[0]).with_name("wineserver")
    subprocess.run([str(server), "-p"], check=False)
    subprocess.run(COMMAND + ["--version"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=False)
    yield
    subprocess.run([str(server), "-k"], check=False)


def linux_only(why):
    """Marks a test of what only the Linux build has."""
    return pytest.mark.skipif(bool(EXE), reason=f"Linux only: {why}")

def run(*args, stdin=None, **kw):
    return subprocess.run([str(a) for a in args], input=stdin, capture_output=True, text=True, **kw)


def vexdram(*args, **kw):
    return run(*COMMAND, *args, **kw)


def with_values(values):
    """The blank template with these values filled in."""
    lines = TEMPLATE.splitlines()
    for key, value in values.items():
        lines[lines.index(f"{key}=")] = f"{key}={value}"
    return "\n".join(lines) + "\n"
