"""The Python package vexdram from the install tree (VEXDRAM_DIST), as a host imports it
(PYTHONPATH=DIR), beside the program vexdram of the same tree; synthetic DDR binaries from the
builder of vexdram's tests (tests/cli/conftest.py)."""
import importlib.util
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
DIST = Path(os.environ.get("VEXDRAM_DIST", REPO / "dist")).resolve()
VEXDRAM = DIST / "resource" / "tools" / "vexdram"
EXAMPLES = REPO / "examples"
SAMPLES = ["tq6951_ddr_v5.bin", "tq6583_ddr_v2.bin", "tq6420_ddr_v1.bin", "tq6951_loader.bin"]

if not list(DIST.glob("vexdram.*.so")):
    pytest.skip(f"no Python package vexdram installed in {DIST}", allow_module_level=True)
sys.path.insert(0, str(DIST))
import vexdram  # noqa: E402,F401 (from the install tree)


def table(name):
    return json.loads((REPO / "tests" / name).read_text(encoding="utf-8"))


def text_of(pieces):
    """A case's text: a text, or pieces (a text, or a text and how many times it repeats)."""
    if isinstance(pieces, str):
        return pieces
    return "".join(p if isinstance(p, str) else p[0] * p[1] for p in pieces)


_spec = importlib.util.spec_from_file_location("cli_builder", REPO / "tests" / "cli" / "conftest.py")
builder = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(builder)


def cli(*args, **kw):
    """The program vexdram of the same install tree."""
    return subprocess.run([str(VEXDRAM), *map(str, args)], capture_output=True, text=True, **kw)
