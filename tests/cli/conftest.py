"""vexdram and vexdram_tool from the install tree (VEXDRAM_DIST), and synthetic DDR binaries of
every block version, built here from the block format: a random lead, the start tag, the version,
the index and its sections (or the version-1 record), random words everywhere.
With VEXDRAM_EXE set, the tests run that vexdram.exe under Wine instead (scripts/test_windows.sh),
beside the Linux vexdram_tool and imgwelder; what only Linux has is skipped, with the reason."""
import os
import random
import shutil
import struct
import subprocess
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests"))
import wine_runs  # noqa: E402
DIST = Path(os.environ.get("VEXDRAM_DIST", REPO / "dist")).resolve()
TOOLS = DIST / "resource" / "tools"
VEXDRAM, TOOL = TOOLS / "vexdram", TOOLS / "vexdram_tool"
SAMPLES = {"tq6951_ddr_v5.bin": "tq6951", "tq6583_ddr_v2.bin": "tq6583", "tq6420_ddr_v1.bin": "tq6420"}
TEMPLATE = (REPO / "examples" / "vexdram_param.txt").read_text()

if not VEXDRAM.exists():
    pytest.skip(f"no vexdram installed in {DIST}", allow_module_level=True)

EXE = os.environ.get("VEXDRAM_EXE")
if EXE:
    # headless, quiet but for Wine's failure to start (tests/wine_runs.py), the prefix of the
    # Windows build (its server already up, or started now)
    os.environ["WINEDEBUG"] = wine_runs.WINEDEBUG
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


def pytest_terminal_summary(terminalreporter):
    if EXE:
        wine_runs.summary(terminalreporter)


def linux_only(why):
    """Marks a test of what only the Linux build has."""
    return pytest.mark.skipif(bool(EXE), reason=f"Linux only: {why}")

# index entry: (number, record words in versions 2-4, in version 5)
SECTIONS = {"global": (1, 8, 8), "ddr2": (2, 9, 11), "ddr3": (3, 9, 11), "ddr4": (4, 9, 11),
            "lp2": (6, 9, 11), "lp3": (7, 9, 11), "lp4": (8, 13, 13), "lp5": (9, 13, 13),
            "skew": (10, 28, 28), "dq_map": (11, 8, 8), "lp4x": (12, 13, 13), "hash": (13, 8, 8)}
TAG = 0x12345678


def build(version, sections=tuple(SECTIONS), seed=1, sizes=None, skew_sub=1):
    """A DDR binary: sections laid out one after another after the index, each its record's size
    unless `sizes` says otherwise; the skew section's first byte is its sub-version."""
    rng = random.Random(seed)
    words = lambda n: [rng.getrandbits(32) for _ in range(n)]  # noqa: E731
    block = [TAG, version]
    if version <= 1:
        block += words(1 + 10)
    else:
        index, body, at = [0] * 28, [], 9
        for name in sections:
            entry, v2, v5 = SECTIONS[name]
            size = (sizes or {}).get(name, v5 if version == 5 else v2)
            content = words(max(size, 1))
            if name == "skew":
                content[0] = (content[0] & ~0xFF) | skew_sub
            index[2 * entry], index[2 * entry + 1] = at, size
            body += content[:size]
            at += size
        block += list(struct.unpack("<7I", bytes(index))) + body
    data = bytes(rng.getrandbits(8) for _ in range(64)) + struct.pack(f"<{len(block)}I", *block) + bytes(32)
    assert data.find(struct.pack("<I", TAG)) == 64
    return data


def run(*args, stdin=None, **kw):
    return subprocess.run([str(a) for a in args], input=stdin, capture_output=True, text=True, **kw)


def vexdram(*args, **kw):
    """vexdram's run; under Wine once more when Wine failed to start."""
    if EXE:
        return wine_runs.run([str(a) for a in COMMAND + list(args)], input=kw.pop("stdin", None),
                             capture_output=True, text=True, **kw)
    return run(*COMMAND, *args, **kw)


def start(*args, via=()):
    """vexdram started (as subprocess.Popen, output in pipes); under Wine once more when Wine failed
    to start, which wait() and communicate() tell."""
    command = [*via, *COMMAND, *args]
    if EXE:
        return wine_runs.Process(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    return subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def with_values(values):
    """The blank template with these values filled in."""
    lines = TEMPLATE.splitlines()
    for key, value in values.items():
        lines[lines.index(f"{key}=")] = f"{key}={value}"
    return "\n".join(lines) + "\n"
