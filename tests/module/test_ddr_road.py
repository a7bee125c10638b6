"""The whole road with the real vexdram_tool of the install tree on the bundled samples: read the
parameters, change one, update a copy, compare."""
import logging
import os
import shutil
import struct
import subprocess
import sys

import pytest

from conftest import DIST, EXAMPLES

HEADER = "ddr parameter modified\uff1a\n"
TOOL = DIST / "resource" / "tools" / "vexdram_tool"
SAMPLES = {
    "tq6951": "tq6951_ddr_v5.bin",
    "tq6583": "tq6583_ddr_v2.bin",
    "tq6420": "tq6420_ddr_v1.bin",
}
DDR3_INDEX_ENTRY = 3
DDR3_FREQ_MASK = 0xFFF  # bits 0-11 of the DDR3 section's word 0


def _sample(name):
    for base in (DIST / "examples", EXAMPLES):
        if (base / name).is_file():
            return base / name
    pytest.skip(f"sample {name} not bundled yet")


@pytest.fixture
def real_tool(host, tmp_path_factory):
    if not TOOL.is_file():
        pytest.skip("no vexdram_tool in the install tree")
    probe = tmp_path_factory.mktemp("probe")
    out = subprocess.run([str(TOOL), "tq6951", "-g", str(probe / "r.txt"),
                          str(_sample(SAMPLES["tq6951"]))], capture_output=True, text=True)
    if "generate info from bin file ok." not in out.stdout:
        pytest.skip("the installed vexdram_tool does not produce reports yet")
    host.install_real_tool("vexdram_tool")
    os.mkdir("in")
    return host


def _copy_in(chip):
    path = os.path.join("in", SAMPLES[chip])
    shutil.copy(_sample(SAMPLES[chip]), path)
    return path


def _words(data):
    return struct.unpack(f"<{len(data) // 4}I", data[: len(data) // 4 * 4])


def _ddr3_word0(data):
    """Word index (in the file) of the DDR3 section's first word of a version 2 to 5 block."""
    words = _words(data)
    tag = words.index(0x12345678)
    assert words[tag + 1] >= 2
    index = data[(tag + 2) * 4:(tag + 2) * 4 + 28]
    offset = index[DDR3_INDEX_ENTRY * 2]
    assert offset != 0, "the sample has no DDR3 section"
    return tag + offset


def test_change_ddr3_freq(df, real_tool, caplog):
    path = _copy_in("tq6951")
    res, ret = df.get_ddr_params(path, "TQ6951")
    assert ret == 0
    assert len(res) == 484
    assert next(iter(res.items())) == ("start tag", "0x12345678")
    old = res["ddr3_freq"]
    new = "933" if old != "933" else "800"
    res["ddr3_freq"] = new

    new_path = df.update_ddr_bin(res, path, "TQ6951")
    assert new_path == "in/tq6951_ddr_v5_new.bin"
    assert [r for r in caplog.records if r.levelno >= logging.ERROR] == []
    assert df.cpmpare_ddr_param() == ({"ddr3_freq": new}, f"{HEADER}ddr3_freq: {old} => {new}\n")

    with open(path, "rb") as f:
        before = f.read()
    with open(new_path, "rb") as f:
        after = f.read()
    assert len(before) == len(after)
    changed = [i for i, (a, b) in enumerate(zip(_words(before), _words(after))) if a != b]
    word = _ddr3_word0(before)
    assert changed == [word]
    a, b = _words(before)[word], _words(after)[word]
    assert (a ^ b) & ~DDR3_FREQ_MASK == 0
    assert (a & DDR3_FREQ_MASK, b & DDR3_FREQ_MASK) == (int(old), int(new))

    again, ret = df.get_ddr_params(new_path, "tq6951")
    assert (again, ret) == (res, 0)


@pytest.mark.parametrize("chip", sorted(SAMPLES))
def test_unchanged_update_leaves_the_copy_identical(df, real_tool, caplog, chip):
    path = _copy_in(chip)
    res, ret = df.get_ddr_params(path, chip.upper())
    assert ret == 0 and len(res) == 484
    new_path = df.update_ddr_bin(res, path, chip)
    assert [r for r in caplog.records if r.levelno >= logging.ERROR] == []
    assert df.cpmpare_ddr_param() == ({}, HEADER + "NULL")
    with open(path, "rb") as f, open(new_path, "rb") as g:
        assert f.read() == g.read()


def test_default_chip_is_refused(df, real_tool, caplog):
    path = _copy_in("tq6951")
    assert df.get_ddr_params(path) == ({}, -2)
    res, _ = df.get_ddr_params(path, "tq6951")
    res["ddr3_freq"] = "933"
    caplog.clear()
    assert df.update_ddr_bin(res, path) == "in/tq6951_ddr_v5_new.bin"
    [error] = [r.getMessage() for r in caplog.records if r.levelno == logging.ERROR]
    assert error.startswith('vexdram_tool did not modify "in/tq6951_ddr_v5_new.bin":\n')
    assert "chip name error" in error
    with open(path, "rb") as f, open("in/tq6951_ddr_v5_new.bin", "rb") as g:
        assert f.read() == g.read()


def test_demo_host(tmp_path):
    if not (DIST / "examples" / SAMPLES["tq6951"]).is_file() or not TOOL.is_file():
        pytest.skip("install tree without the samples or the tool")
    out = subprocess.run([sys.executable, str(EXAMPLES / "demo_host.py"), str(DIST)],
                         cwd=tmp_path, capture_output=True, text=True)
    assert out.returncode == 0, out.stdout + out.stderr
    assert "ddr3_freq: " in out.stdout
    assert os.listdir(tmp_path) == []
