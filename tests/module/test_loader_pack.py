"""loader_pack with a fake packing tool: output path, argument vector, copy and failure logs."""
import logging
from pathlib import Path

import pytest

ARGS = ["-1", "output/a.bin", "-2", "output/b.bin"]
TAIL = ["-3", "output/FlashData.bin", "-3", "output/FlashBoot.bin"]
# the tool writes the container it is asked for unless told to fail
WRITES_OUT = "open(argv[-1], 'wb').write(b'new')"


def params(**changes):
    base = {"imgweld_tool_path": "resource/tools/imgwelder", "pack_params": "-c -TQ1234 -v 2.1 -r 0",
            "loader_471": "output/a.bin", "loader_472": "output/b.bin", "loader_473_0": "null",
            "loader_473_1": "null", "loader_473_2": "null", "loader_473_3": "null",
            "loader_FlashBoost_path": "null", "loader_FlashData_path": "output/FlashData.bin",
            "loader_FlashBoot_path": "output/FlashBoot.bin", "loader_file_path": "fw/loader.bin"}
    base.update(changes)
    return base


@pytest.fixture
def images(host):
    Path("fw").mkdir()
    Path("output").mkdir()
    for name in ("a", "b", "FlashData", "FlashBoot", "FlashBoost"):
        Path(f"output/{name}.bin").write_bytes(name.encode())
    Path("output/a.bin").chmod(0o640)
    return host


def test_example_command_line(df, images, caplog):
    caplog.set_level(logging.DEBUG)
    images.install_fake_tool("imgwelder", stdout="packed\n", body=WRITES_OUT)
    given = params()
    assert df.loader_pack(given) == "fw/loader_new.bin"
    assert df.loader_pack(given, True) == "fw/loader_new.bin"
    assert given == params()
    argv = ["pack", "-c", "-TQ1234", "-v", "2.1", "-r", "0"] + ARGS + TAIL + ["-o", "fw/loader_new.bin"]
    assert images.calls("imgwelder") == [argv, argv]
    assert caplog.messages[:2] == [
        'cmd_str: resource/tools/imgwelder pack -c -TQ1234 -v 2.1 -r 0 -1 output/a.bin '
        '-2 output/b.bin -3 output/FlashData.bin -3 output/FlashBoot.bin -o "fw/loader_new.bin"',
        "packed\n"]
    assert Path("output/FlashData.bin").read_bytes() == b"a"
    assert Path("output/FlashData.bin").stat().st_mode & 0o777 == 0o640


@pytest.mark.parametrize("path, rename, expected", [
    ("fw/loader.bin", True, "fw/loader_new.bin"), ("fw/loader.BIN", True, "fw/loader.BIN_new.bin"),
    ("fw/loader", True, "fw/loader_new.bin"), (".bin", True, "_new.bin"),
    ("fw/loader.bin", 1, "fw/loader_new.bin"), ("fw/loader.bin", False, "fw/loader.bin"),
    ("fw/loader.bin", 0, "fw/loader.bin"), ("fw/loader.bin", "yes", "fw/loader.bin")])
def test_output_path(df, images, path, rename, expected):
    images.install_fake_tool("imgwelder", body=WRITES_OUT)
    assert df.loader_pack(params(loader_file_path=path), loader_file_rename=rename) == expected
    assert images.calls("imgwelder")[0][-2:] == ["-o", expected]


@pytest.mark.parametrize("options, boost, words", [
    ("-c -TQ1234 -v 2.1 -n  -d 3 -r 0 -a 8 ", "output/FlashBoost.bin",
     ["-c", "-TQ1234", "-v", "2.1", "-n", "-d", "3", "-r", "0", "-a", "8", *ARGS,
      "-3", "output/FlashBoost.bin", *TAIL]),
    ("-c\t-TN1234 -l output/loader_param.bin", "null",
     ["-c", "-TN1234", "-l", "output/loader_param.bin", *ARGS, *TAIL]),
])
def test_argument_vector(df, images, options, boost, words):
    images.install_fake_tool("imgwelder", body=WRITES_OUT)
    df.loader_pack(params(pack_params=options, loader_FlashBoost_path=boost))
    assert images.calls("imgwelder") == [["pack", *words, "-o", "fw/loader_new.bin"]]


@pytest.mark.parametrize("tool, stdout, body, errors", [
    ("resource/tools/imgwelder", "packed 4 images\n", WRITES_OUT, []),
    ("resource/tools/imgwelder", "error in lower case\n", WRITES_OUT, []),
    ("resource/tools/imgwelder", "Error: bad image\n", "", [
        "imgweld pack error", "imgweld pack error, output file not exist: fw/loader_new.bin"]),
    ("resource/tools/imgwelder", "NoError\n", WRITES_OUT, ["imgweld pack error"]),
    ("resource/tools/imgwelder", "", "", ["imgweld pack error, output file not exist: fw/loader_new.bin"]),
    ("null", "", "", ["imgweld pack error, tool not started: ",
                      "imgweld pack error, output file not exist: fw/loader_new.bin"]),
])
def test_failures_are_logged_not_raised(df, images, caplog, tool, stdout, body, errors):
    caplog.set_level(logging.DEBUG)
    images.install_fake_tool("imgwelder", stdout=stdout, body=body)
    assert df.loader_pack(params(imgweld_tool_path=tool)) == "fw/loader_new.bin"
    logged = [r.getMessage() for r in caplog.records if r.levelno == logging.ERROR]
    assert [m[:len(e)] for m, e in zip(logged, errors)] == errors and len(logged) == len(errors)
    assert "" not in caplog.messages  # a silent tool, or none, leaves no empty debug record


@pytest.mark.parametrize("missing, copied", [
    ("loader_file_path", False), ("loader_FlashData_path", False), ("imgweld_tool_path", True),
    ("loader_FlashBoot_path", True)])
def test_missing_key(df, images, missing, copied):
    images.install_fake_tool("imgwelder", body=WRITES_OUT)
    given = params()
    del given[missing]
    with pytest.raises(KeyError, match=missing):
        df.loader_pack(given)
    assert Path("output/FlashData.bin").read_bytes() == (b"a" if copied else b"FlashData")
    assert images.calls("imgwelder") == []


def test_failed_copy_runs_nothing(df, images):
    images.install_fake_tool("imgwelder", body=WRITES_OUT)
    with pytest.raises(FileNotFoundError):
        df.loader_pack(params(loader_471="null"))
    assert images.calls("imgwelder") == []

