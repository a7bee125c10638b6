"""A tool's output is logged at debug level when it printed something: a tool that prints nothing,
or cannot be started at all, leaves no empty record in the host's log."""
import logging
from pathlib import Path

import pytest

from test_loader_header import container
from test_loader_pack import WRITES_OUT, params


def silent(host, name, body=""):
    host.install_fake_tool(name, stdout="", body=body)


def unstartable(host, name):
    (host.tools / name).write_bytes(b"\x00not a program")
    (host.tools / name).chmod(0o755)


def ddr_binary():
    Path("x.bin").write_bytes(b"\x78\x56\x34\x12abcd")
    return "x.bin"


def update(df):
    return df.update_ddr_bin({"a": "1"}, ddr_binary(), "tq6951")


def get(df):
    return df.get_ddr_params(ddr_binary(), "tq6951")


def unpack(df):
    Path("c.bin").write_bytes(container())
    return df.loader_unpack("c.bin")


def pack(df):
    Path("fw").mkdir()
    Path("output").mkdir(exist_ok=True)
    for name in ("a", "b", "FlashData", "FlashBoot"):
        Path(f"output/{name}.bin").write_bytes(b"x")
    return df.loader_pack(params())


WRITES_REPORT = "if '-g' in argv: open(argv[2], 'w').write('start tag=0x12345678\\nend\\n')"


@pytest.mark.parametrize("operation, tool, install", [
    (update, "vexdram_tool", silent),
    (update, "vexdram_tool", unstartable),
    (update, "vexdram_tool", None),  # no tool at all
    (get, "vexdram_tool", lambda host, name: silent(host, name, WRITES_REPORT)),
    (get, "vexdram_tool", unstartable),
    (unpack, "imgwelder", silent),
    (unpack, "imgwelder", unstartable),
    (pack, "imgwelder", lambda host, name: silent(host, name, WRITES_OUT)),
    (pack, "imgwelder", unstartable),
], ids=["update-silent", "update-unstartable", "update-missing", "get-silent", "get-unstartable",
        "unpack-silent", "unpack-unstartable", "pack-silent", "pack-unstartable"])
def test_no_empty_debug_record(df, host, caplog, operation, tool, install):
    caplog.set_level(logging.DEBUG)
    if install:
        install(host, tool)
    try:
        operation(df)
    except (OSError, IndexError):
        pass  # what the operation makes of the missing output is told by its own tests
    assert "" not in [r.getMessage() for r in caplog.records if r.levelno == logging.DEBUG]
