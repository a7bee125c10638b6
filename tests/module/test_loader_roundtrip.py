"""Unpack, change, pack and unpack again with the real imgwelder."""
import json
import subprocess
from pathlib import Path

import pytest

from conftest import REPO

# The options the module derives for packing again, shared with imgwelder's repack plan (which
# vexdram packs with): one table, run by both.
PLANS = json.loads((REPO / "tests" / "repack_plans.json").read_text())["cases"]

KEPT = ["uiTag", "ussize", "dwVersion", "dwMergeVersion", "stReleaseTime", "emSupportChip",
        "ucSignFlag", "ucRc4Flag", "uc471Rc4Off", "ucCrcOff", "ucRc4Params", "471_dwDataDelay",
        "472_dwDataDelay"]


def weld(host, options, images, out="fw/loader.bin"):
    Path("src").mkdir(exist_ok=True)
    Path(out).parent.mkdir(exist_ok=True)
    argv = [str(host.tools / "imgwelder"), "pack", *options.split()]
    for flag, name, data in images:
        Path("src", name).write_bytes(data)
        argv += [flag, f"src/{name}"]
    done = subprocess.run(argv + ["-o", out], stdout=subprocess.PIPE, universal_newlines=True)
    assert "Error" not in done.stdout and Path(out).exists()
    return out


def image(fill, size, params=None):
    """An image of the table: `size` bytes of `fill`, a loader image's parameters at 124 and 212."""
    data = bytearray([fill] * size)
    if params:
        data[124:132], data[212:220] = params[:8], params[8:]
    return bytes(data)


@pytest.mark.parametrize("case", PLANS, ids=[c["pack"] for c in PLANS])
def test_unpack_change_pack_unpack(df, host, monkeypatch, case):
    monkeypatch.setenv("SOURCE_DATE_EPOCH", "1700000000")
    host.install_real_tool("imgwelder")
    images = [(flag, name, image(*rest)) for flag, name, *rest in case["images"]]
    chip_name, pack_params = case["chip"], case["pack_params"]
    old = weld(host, case["pack"], images)
    assert df.check_if_loadr_file(old)

    got = df.loader_unpack(old, chip_name)
    assert got["pack_params"] == pack_params
    assert got["loader_FlashData_path"] == "output/FlashData.bin"
    Path(got["loader_472"]).write_bytes(b"changed")

    new = df.loader_pack(got)
    assert new == "fw/loader_new.bin" and df.check_if_loadr_file(new)
    before, after = df.get_loader_param(old), df.get_loader_param(new)
    assert {k: after[k] for k in KEPT} == {k: before[k] for k in KEPT}

    again = df.loader_unpack(new, chip_name)
    assert again["pack_params"] == pack_params
    assert Path(again["loader_472"]).read_bytes() == b"changed"
    ddr = [data for flag, _, data in images if flag == "-1"][-1]
    assert Path(again["loader_FlashData_path"]).read_bytes() == ddr


# (471, 472, loader) image counts that imgwelder refuses to pack, with the first slot of the
# unpack listing that a host reads and that would have no image.
REFUSED = {(1, 1, 0): "473_0", (1, 1, 1): "473_1", (2, 1, 2): "473_2", (0, 1, 2): "471_0",
           (1, 0, 2): "472", (0, 0, 0): "471_0", (3, 1, 3): "473_3", (1, 2, 3): "473_3"}
PACKED = [(1, 1, 2), (1, 1, 3), (2, 1, 3), (1, 2, 4), (3, 1, 4), (1, 1, 5)]


@pytest.mark.parametrize("shape", list(REFUSED) + PACKED, ids=lambda shape: "/".join(map(str, shape)))
def test_every_container_imgwelder_packs_unpacks_to_its_images(df, host, shape):
    host.install_real_tool("imgwelder")
    Path("src").mkdir()
    argv = [str(host.tools / "imgwelder"), "pack", "-c", "-TQ1234"]
    for flag, count, stem in zip(("-1", "-2", "-3"), shape, ("ddr", "usb", "Flash")):
        for i in range(count):
            Path("src", f"{stem}{i}.bin").write_bytes(bytes([i]) * 300)
            argv += [flag, f"src/{stem}{i}.bin"]
    done = subprocess.run(argv + ["-o", "c.bin"], stdout=subprocess.PIPE, universal_newlines=True)
    if done.returncode == 0:
        got = df.loader_unpack("c.bin")
        slots = {k: v for k, v in got.items() if k.startswith("loader_47")}
        assert all(Path(p).is_file() for p in slots.values() if p != "null"), slots
        assert got["loader_471"] == f"output/ddr{shape[0] - 1}.bin"
    refused = f"Error: listing slot {REFUSED.get(shape)} would have no image"
    assert (done.returncode, done.stdout.startswith(refused)) == ((1, True) if shape in REFUSED else (0, False))
    assert Path("c.bin").exists() == (shape not in REFUSED)
