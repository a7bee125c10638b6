"""Shared fixtures of the module tests.

The module is imported from the install tree (VEXDRAM_DIST, default: dist/ of the checkout), the
way a host application runs it: the host's current directory holds resource/tools/.
"""
import json
import os
import shutil
import stat
import sys
import textwrap
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
DIST = Path(os.environ.get("VEXDRAM_DIST", REPO / "dist")).resolve()
EXAMPLES = REPO / "examples"

if str(DIST) not in sys.path:
    sys.path.insert(0, str(DIST))


@pytest.fixture(scope="session")
def dramforge_module():
    import dramforge  # noqa: WPS433 (imported from the install tree)
    return dramforge


@pytest.fixture
def df(dramforge_module):
    """The class dramforge."""
    return dramforge_module.dramforge


class Host:
    """A host application's working directory: resource/tools/ and, after a run, output/."""

    def __init__(self, root: Path):
        self.root = root
        self.tools = root / "resource" / "tools"
        self.tools.mkdir(parents=True)

    def install_real_tool(self, name: str) -> Path:
        """Copy the built tool (vexdram_tool or imgwelder) from the install tree."""
        dst = self.tools / name
        shutil.copy2(DIST / "resource" / "tools" / name, dst)
        return dst

    def install_fake_tool(self, name: str, stdout: str = "", body: str = "") -> Path:
        """A tool that records its argument vector in <name>.calls (one JSON list per line),
        runs an optional piece of Python (body; `argv` is bound) and prints `stdout`."""
        dst = self.tools / name
        record = self.root / f"{name}.calls"
        script = textwrap.dedent(
            """\
            #!/usr/bin/python3
            import json, sys
            argv = sys.argv[1:]
            with open({record!r}, "a") as f:
                f.write(json.dumps(argv) + "\\n")
            {body}
            sys.stdout.write({stdout!r})
            """
        ).format(record=str(record), stdout=stdout, body=body.replace("\n", "\n"))
        dst.write_text(script)
        dst.chmod(dst.stat().st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)
        return dst

    def calls(self, name: str):
        """The argument vectors the fake tool `name` received, oldest first."""
        record = self.root / f"{name}.calls"
        if not record.exists():
            return []
        return [json.loads(line) for line in record.read_text().splitlines()]


@pytest.fixture
def host(tmp_path, monkeypatch):
    """A fresh host directory, made the current directory for the test."""
    monkeypatch.chdir(tmp_path)
    return Host(tmp_path)


REPORT_OK = "generate info from bin file ok.\n"


@pytest.fixture
def ddr_tool(host):
    """Installs a fake vexdram_tool: in report mode (-g) it writes `report` (bytes or text) to the
    report path it is given; it prints `stdout` in either mode. Returns the host."""

    def install(report="start tag=0x12345678\nend\n", stdout=REPORT_OK):
        data = report.encode() if isinstance(report, str) else report
        body = (
            "if len(argv) == 4 and argv[1] == '-g':\n"
            f"    open(argv[2], 'wb').write({data!r})\n"
        )
        host.install_fake_tool("vexdram_tool", stdout=stdout, body=body)
        return host

    return install
