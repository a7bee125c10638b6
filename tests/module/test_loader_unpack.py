"""loader_unpack with a fake packing tool that prints chosen listings."""
import logging
import struct
import types
from pathlib import Path

import pytest

from test_loader_header import container

TOOL = "resource/tools/imgwelder"
KEYS = ["imgweld_tool_path", "pack_params", "loader_471", "loader_472", "loader_473_0",
        "loader_473_1", "loader_473_2", "loader_473_3", "loader_FlashBoost_path",
        "loader_FlashData_path", "loader_FlashBoot_path", "loader_file_path"]


def listing(names, total, eol="\n"):
    lines = [f"head {i}" for i in range(total)]
    for i, name in enumerate(names, start=3):
        lines[i] = name if name.startswith("!") else "entry 0x1 file=" + name
    return "".join(line.lstrip("!") + eol for line in lines)


def unpack(df, host, stdout, chip_name="NULL", image=bytes(224), **header):
    host.install_fake_tool("imgwelder", stdout=stdout)
    Path("output").mkdir(exist_ok=True)
    Path("output/n6.bin").write_bytes(image)
    Path("c.bin").write_bytes(container(**header))
    return df.loader_unpack("c.bin", chip_name)


def test_short_listing_road(df, host, caplog):
    caplog.set_level(logging.DEBUG)
    out = listing(["a.bin", "b.bin", "FlashData.bin", "FlashBoot.bin"], 8)
    got = unpack(df, host, out)
    assert list(got) == KEYS
    assert got == dict(zip(KEYS, [
        TOOL, "-c -TQ1234 -v 2.1 -r 0", "output/a.bin", "output/b.bin", "null",
        "output/FlashData.bin", "output/FlashBoot.bin", "null", "null", "output/FlashData.bin",
        "output/FlashBoot.bin", "c.bin"]))
    assert host.calls("imgwelder") == [["unpack", "-i", "c.bin", "-o", "output"]]
    assert [r.getMessage() for r in caplog.records if r.levelno == logging.DEBUG] == [
        'cmd_str: resource/tools/imgwelder unpack -i "c.bin" -o output', out, "uiTag: BOOT",
        "ussize: 102", "dwVersion: 2.1", "emSupportChip: 1234", "ucRc4Params: 0"]


@pytest.mark.parametrize("total, eol, last", [
    (9, "\n", "null"), (10, "\r\n", "null"), (11, "\r\n", "output/n9.bin"), (12, "\r", "output/n9.bin")])
def test_long_listing(df, host, total, eol, last):
    got = unpack(df, host, listing([f"n{i}.bin" for i in range(3, 10)][:total - 3], total, eol))
    assert list(got) == KEYS + ["loader_471_0"]
    assert [got[k] for k in ("loader_471_0", "loader_471", "loader_472", "loader_473_0",
                             "loader_473_1", "loader_473_2", "loader_473_3")] == [
        "output/n3.bin", "output/n4.bin", "output/n5.bin", "output/n6.bin", "output/n7.bin",
        "output/n8.bin", last]


@pytest.mark.parametrize("total", [0, 3, 7])
def test_listing_too_short_raises_index_error(df, host, caplog, total):
    caplog.set_level(logging.DEBUG)
    with pytest.raises(IndexError):
        unpack(df, host, listing([], total))
    assert "" not in caplog.messages  # a tool that printed nothing leaves no empty record


@pytest.mark.parametrize("names, total, expected", [
    (["!abcdFlashBoost.bin", "x", "!lead text file=FlashData.bin", "FlashBoot.bin"], 8,
     ("output/FlashBoost.bin", "output/FlashData.bin", "output/FlashBoot.bin")),
    (["a", "FlashDataFlashBoot.bin", "c", "d"], 8,
     ("null", "output/FlashDataFlashBoot.bin", "output/FlashDataFlashBoot.bin")),
    # the walk sees values it has already replaced: the FlashBoost entry reclassifies FlashBoot
    (["X_FlashBoost_FlashBoot.bin", "FlashBoot.bin", "c", "d"], 8,
     ("output/X_FlashBoost_FlashBoot.bin", "null", "output/X_FlashBoost_FlashBoot.bin")),
    # the long listing's extra entry comes last in the walk
    (["FlashData_0.bin", "a", "b", "n6.bin", "FlashData_1.bin", "c"], 9,
     ("null", "output/FlashData_0.bin", "null")),
])
def test_flash_classification(df, host, names, total, expected):
    got = unpack(df, host, listing(names, total))
    assert (got["loader_FlashBoost_path"], got["loader_FlashData_path"],
            got["loader_FlashBoot_path"]) == expected


@pytest.mark.parametrize("stdout, failed", [
    ("Error: bad container\n", True), (listing(list("abcd"), 8) + "NoError\n", True),
    (listing(list("abcd"), 8)[:-1] + " error\n", False)])
def test_error_in_output(df, host, caplog, stdout, failed):
    caplog.set_level(logging.DEBUG)
    got = unpack(df, host, stdout)
    assert (got is None) == failed
    assert stdout in caplog.messages
    errors = [r.getMessage() for r in caplog.records if r.levelno == logging.ERROR]
    assert errors == (["imgweld unpack error"] if failed else [])


BASE = {"uiTag": "BOOT", "ussize": "102", "dwVersion": "2.1", "emSupportChip": "1234",
        "ucRc4Params": "0", "471_dwDataDelay": "0", "472_dwDataDelay": "0"}


@pytest.mark.parametrize("chip_name, header, expected", [
    ("NULL", {}, "-c -TQ1234 -v 2.1 -r 0"),
    ("TN", {}, "-c -TN1234 -v 2.1 -r 0"),
    ("TQ95", {}, "-c -TQ1234 -v 2.1 -r 0"),
    ("TNx", {"dwVersion": "16.3"}, "-c -TN1234 -v 16.3 -r 0"),
    ("tn", {}, "-c -TQ1234 -v 2.1 -r 0"),
    ("", {}, "-c -TQ1234 -v 2.1 -r 0"),
    ("T", {}, "-c -TQ1234 -v 2.1 -r 0"),
    ("NULL", {"uiTag": "LDR ", "471_dwDataDelay": "3"}, "-c -TQ1234 -v 2.1 -n  -d 3 -r 0"),
    ("NULL", {"472_dwDataDelay": "12", "ucRc4Params": "5"}, "-c -TQ1234 -v 2.1 -s 12 -r 5"),
    ("NULL", {"emSupportChip": "6947"}, "-c -TQ6947 -v 2.1 -r 0 -a 8 "),
])
def test_option_text(df, host, monkeypatch, chip_name, header, expected):
    # looked up on the class at call time
    monkeypatch.setattr(df, "get_loader_param", lambda path: {**BASE, **header})
    got = unpack(df, host, listing(list("abcd"), 8), chip_name)
    assert got["pack_params"] == expected


def test_chip_name_that_is_not_text_fails(df, host):
    with pytest.raises(TypeError):
        unpack(df, host, listing(list("abcd"), 8), None)


@pytest.mark.parametrize("first, logged_file", [
    ((255, 255, 255, 255), False), ((0, 0, 0, 0), False), ((1, 2, 3, 4), True),
    ((255, 255, 255, 254), True)])
def test_loader_parameter_list(df, host, caplog, first, logged_file):
    caplog.set_level(logging.DEBUG)
    image = bytearray(range(224))
    image[124:128] = bytes(first)
    values = list(image[124:132]) + list(image[212:220])
    got = unpack(df, host, listing([f"n{i}.bin" for i in range(3, 9)], 9), image=bytes(image))
    assert "loader_params: " + str(values) in caplog.messages
    param_file = Path("output/loader_param.bin")
    assert param_file.exists() == logged_file
    if logged_file:
        assert param_file.read_bytes() == bytes(values)
        assert got["pack_params"] == "-c -TQ1234 -v 2.1 -r 0 -l output/loader_param.bin"
    else:
        assert got["pack_params"] == "-c -TQ1234 -v 2.1 -r 0"


def test_short_loader_image_raises_struct_error(df, host):
    with pytest.raises(struct.error):
        unpack(df, host, listing([f"n{i}.bin" for i in range(3, 9)], 9), image=bytes(223))


@pytest.mark.parametrize("system, place, tool", [
    ("Linux", None, "null"), ("Darwin", None, "null"), ("Darwin", TOOL, "null"),
    ("Linux", TOOL, TOOL)])
def test_tool_path_by_system(df, dramforge_module, host, monkeypatch, system, place, tool):
    fake_platform = types.SimpleNamespace(system=lambda: system)
    monkeypatch.setitem(vars(dramforge_module), "platform", fake_platform)
    if place:
        host.install_fake_tool("imgwelder", stdout=listing(list("abcd"), 8))
    Path("c.bin").write_bytes(container())
    got = df.loader_unpack("c.bin")
    assert Path("output").is_dir()
    assert got["imgweld_tool_path"] == tool
    if tool == "null":
        assert set(got.values()) == {"null"}


@pytest.mark.parametrize("mode, after", [(0o644, 0o755), (0o700, 0o700), (0o750, 0o750)])
def test_tool_only_gains_execute_bits(df, host, mode, after):
    path = host.install_fake_tool("imgwelder", stdout=listing(list("abcd"), 8))
    path.chmod(mode)
    Path("c.bin").write_bytes(container())
    assert df.loader_unpack("c.bin")["loader_471"] == "output/a"
    assert path.stat().st_mode & 0o7777 == after
