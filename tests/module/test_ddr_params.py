"""get_ddr_params against a fake vexdram_tool: chip rule, command line, report parsing, status
codes, permission handling, logging, and the interpreter facilities it goes through."""
import logging
import os
import stat
import types

import pytest

REPORT = "output/gen_param.txt"

# chip_name, chip_other, binary path -> chip argument, status
CHIP_RULE = [
    ("NULL", "NULL", "img/tq6951_ddr.bin", "unknown", 0),
    ("NULL", "TQ6951", "img/x.bin", "unknown", 0),
    ("Other", "TQ6951", "img/x.bin", "tq6951", 0),
    ("Other", "TQ6/947", "img/x.bin", "tq6/947", 0),
    ("TQ6583/TQ6585", "NULL", "img/tq6585_ddr.bin", "tq6583", 0),
    ("TQ6583/TQ6585", "NULL", "img/tq6420_ddr.bin", "tq6583", -1),
    ("TQ6585", "NULL", "img/TQ6585_ddr.bin", "tq6585", -1),
    ("TQ6585", "NULL", "img/tq6585_ddr.bin", "tq6585", 0),
    ("tq6585/", "NULL", "img/x.bin", "tq6585", 0),
    ("a//b", "NULL", "img/x.bin", "a", 0),
    ("/tq6583", "NULL", "img/x.bin", "", 0),
    ("other", "TQ6951", "img/other.bin", "other", 0),
    ("other", "TQ6951", "img/x.bin", "other", -1),
    ("Other/TQ6951", "NULL", "img/tq6951.bin", "other", 0),
    ("null", "NULL", "img/x.bin", "null", -1),
]


@pytest.mark.parametrize("chip_name,chip_other,path,chip_arg,status", CHIP_RULE)
def test_chip_rule_and_command_line(df, ddr_tool, caplog, chip_name, chip_other, path, chip_arg,
                                    status):
    host = ddr_tool(report="start tag=0x12345678\nddr3_freq=1056\nend\n")
    caplog.set_level(logging.DEBUG)
    res, ret = df.get_ddr_params(path, chip_name, chip_other)
    assert (res, ret) == ({"start tag": "0x12345678", "ddr3_freq": "1056"}, status)
    assert host.calls("vexdram_tool") == [[chip_arg, "-g", REPORT, path]]
    debug = [r.getMessage() for r in caplog.records if r.levelno == logging.DEBUG]
    assert debug[:3] == [
        f"chip_name={chip_name}-{chip_arg} {path}",
        f'resource/tools/vexdram_tool {chip_arg} -g output/gen_param.txt "{path}"',
        "generate info from bin file ok.\n",
    ]


def test_defaults_by_keyword(df, ddr_tool):
    host = ddr_tool()
    assert df.get_ddr_params(ddr_bin_file_path="a.bin", chip_other="X") == (
        {"start tag": "0x12345678"}, 0)
    assert host.calls("vexdram_tool") == [["unknown", "-g", REPORT, "a.bin"]]


@pytest.mark.parametrize("report,expected", [
    ("start tag=0x12345678\nuart id=2\nend\n", {"start tag": "0x12345678", "uart id": "2"}),
    ("a = b\nk=\nx=1=2\n\nend\n", {"a ": " b", "k": "", "x": "1=2"}),
    ("a=1\nb=2", {"a": "1"}),                        # a last line without line feed is lost
    ("a=1\nb=2\na=3\n", {"a": "3", "b": "2"}),        # first position, later value
    (b"a=1\r\nb=0x2\r\n", {"a": "1", "b": "0x2"}),   # text mode drops the carriage return
    ("", {}),
])
def test_report_parsing(df, ddr_tool, report, expected):
    ddr_tool(report=report)
    res, ret = df.get_ddr_params("tq6951.bin", "tq6951")
    assert ret == 0
    assert list(res.items()) == list(expected.items())


def test_chip_name_error(df, ddr_tool, caplog):
    ddr_tool(report="a=1\n", stdout="chip name error\nFor more details\n")
    caplog.set_level(logging.DEBUG)
    assert df.get_ddr_params("x.bin") == ({}, -2)
    errors = [r.getMessage() for r in caplog.records if r.levelno == logging.ERROR]
    assert errors == ["chip name error"]


def test_empty_report_logs_tool_output(df, ddr_tool, caplog):
    ddr_tool(report="", stdout="get version fail\n")
    assert df.get_ddr_params("x.bin", "TQ6951") == ({}, -1)
    assert [r.getMessage() for r in caplog.records if r.levelno == logging.ERROR] == [
        "vexdram_tool reported no parameter:\nget version fail\n"]


def test_old_report_is_never_read_back(df, host):
    os.mkdir("output")
    with open(REPORT, "w") as f:
        f.write("stale=1\n")
    host.install_fake_tool("vexdram_tool", stdout="open x.bin failed!\n")
    with pytest.raises(FileNotFoundError):
        df.get_ddr_params("x.bin", "tq6951")
    assert not os.path.exists(REPORT)


@pytest.mark.parametrize("system", ["Linux", "linux", "LINUX"])
def test_missing_tool_on_linux(df, host, caplog, system, monkeypatch, dramforge_module):
    monkeypatch.setattr(dramforge_module, "platform", types.SimpleNamespace(system=lambda: system))
    assert df.get_ddr_params("x.bin", "tq6951") == ({}, -3)
    assert [r.getMessage() for r in caplog.records if r.levelno == logging.ERROR] == [
        "vexdram_tool does not exist"]
    assert os.path.isdir("output")


@pytest.mark.parametrize("system", ["Windows", "Darwin", ""])
def test_other_systems_use_the_windows_path(df, ddr_tool, caplog, monkeypatch, dramforge_module,
                                             system):
    host = ddr_tool()
    tool = host.tools / "vexdram_tool"
    tool.chmod(0o644)
    monkeypatch.setattr(dramforge_module, "platform", types.SimpleNamespace(system=lambda: system))
    assert df.get_ddr_params("x.bin", "tq6951") == ({}, -3)
    assert host.calls("vexdram_tool") == []
    assert stat.S_IMODE(tool.stat().st_mode) == 0o644  # no permission change off Linux


@pytest.mark.parametrize("mode,after", [
    (0o644, 0o755), (0o600, 0o711), (0o700, 0o700), (0o750, 0o750), (0o755, 0o755),
])
def test_execute_bits(df, ddr_tool, mode, after):
    host = ddr_tool()
    tool = host.tools / "vexdram_tool"
    tool.chmod(mode)
    assert df.get_ddr_params("tq6951.bin", "tq6951") == ({"start tag": "0x12345678"}, 0)
    assert stat.S_IMODE(tool.stat().st_mode) == after


def test_output_as_plain_file_raises(df, ddr_tool):
    ddr_tool()
    open("output", "w").close()
    with pytest.raises(NotADirectoryError):
        df.get_ddr_params("x.bin", "tq6951")


class _Proxy:
    """The os module with some functions replaced."""

    def __init__(self, **overrides):
        self.__dict__.update(overrides)

    def __getattr__(self, name):
        return getattr(os, name)


def test_interpreter_exceptions_pass_unchanged(df, ddr_tool, monkeypatch, dramforge_module):
    ddr_tool()
    boom = PermissionError(13, "no mkdir here")

    def mkdir(path):
        raise boom

    monkeypatch.setattr(dramforge_module, "os", _Proxy(mkdir=mkdir))
    with pytest.raises(PermissionError) as info:
        df.get_ddr_params("x.bin", "tq6951")
    assert info.value is boom


@pytest.mark.parametrize("chip_name", [5, None])
def test_chip_name_must_be_text(df, ddr_tool, chip_name):
    ddr_tool()
    with pytest.raises(AttributeError):
        df.get_ddr_params("x.bin", chip_name)


def test_facilities_come_from_the_namespace(df, ddr_tool, monkeypatch, dramforge_module):
    ddr_tool()
    seen = []
    own = logging.getLogger("host.own")
    monkeypatch.setattr(own, "debug", lambda msg: seen.append(("debug", msg)))
    monkeypatch.setattr(own, "error", lambda msg: seen.append(("error", msg)))
    monkeypatch.setattr(dramforge_module, "logger", own)
    opened = []

    def fake_open(path, mode):
        opened.append((path, mode))
        return open(path, mode)

    monkeypatch.setattr(dramforge_module, "open", fake_open, raising=False)
    df.get_ddr_params("x.bin", "tq6951")
    assert opened == [(REPORT, "r")]
    assert seen[0] == ("debug", "chip_name=tq6951-tq6951 x.bin")
    assert len(seen) == 3


def test_tool_that_cannot_start(df, host, caplog):
    caplog.set_level(logging.DEBUG)
    (host.tools / "vexdram_tool").write_bytes(b"\x00not a program")
    with pytest.raises(FileNotFoundError):
        df.get_ddr_params("x.bin", "tq6951")
    assert "" not in caplog.messages
    [error] = [r.getMessage() for r in caplog.records if r.levelno == logging.ERROR]
    assert error.startswith("vexdram_tool could not be started: ")
