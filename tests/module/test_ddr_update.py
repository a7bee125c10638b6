"""update_ddr_bin against a fake vexdram_tool, and cpmpare_ddr_param over hand-written files."""
import logging
import os
import stat

import pytest

PARAMS = "output/gen_param_new.txt"
HEADER = "ddr parameter modified\uff1a\n"
MODIFIED = "modify end\n"


@pytest.fixture
def modify_tool(host):
    host.install_fake_tool("vexdram_tool", stdout=MODIFIED)
    return host


def _binary(path="in/x.bin", data=b"\x78\x56\x34\x12abcd"):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    return path


def _errors(caplog):
    return [r.getMessage() for r in caplog.records if r.levelno == logging.ERROR]


@pytest.mark.parametrize("res_dict,text", [
    ({}, "end"),
    ({"a": "1", "b": "0x2"}, "a=1\nb=0x2\nend"),
    ({"start tag": "0x12345678", "k ": " v=w"}, "start tag=0x12345678\nk = v=w\nend"),
])
def test_parameter_text(df, modify_tool, res_dict, text):
    path = _binary()
    assert df.update_ddr_bin(res_dict, path, "tq6951") == "in/x_new.bin"
    with open(PARAMS, newline="") as f:
        assert f.read() == text


@pytest.mark.parametrize("res_dict", [{"a": 1}, {2: "x"}])
def test_non_text_entries_write_nothing(df, modify_tool, res_dict):
    path = _binary()
    with pytest.raises(TypeError):
        df.update_ddr_bin(res_dict, path, "tq6951")
    assert not os.path.exists(PARAMS)
    assert modify_tool.calls("vexdram_tool") == []


@pytest.mark.parametrize("path,new_path", [
    ("in/x.bin", "in/x_new.bin"),
    ("in/x.BIN", "in/x.BIN_new.bin"),
    ("in/x", "in/x_new.bin"),
    (".bin", "_new.bin"),
])
def test_rename_rules(df, modify_tool, path, new_path):
    _binary(path, b"payload")
    assert df.update_ddr_bin({"a": "1"}, path, "tq6951") == new_path
    with open(new_path, "rb") as f:
        assert f.read() == b"payload"
    assert modify_tool.calls("vexdram_tool") == [["tq6951", PARAMS, new_path]]


@pytest.mark.parametrize("rename,copies", [
    (True, True), (1, True), (1.0, True), (False, False), (0, False), ("True", False), (None, False),
])
def test_rename_flag(df, modify_tool, rename, copies):
    path = _binary()
    expected = "in/x_new.bin" if copies else path
    assert df.update_ddr_bin({"a": "1"}, path, "tq6951", ddr_bin_path_rename=rename) == expected
    assert os.path.exists("in/x_new.bin") == copies
    assert modify_tool.calls("vexdram_tool") == [["tq6951", PARAMS, expected]]


def test_copy_overwrites_an_existing_copy(df, modify_tool):
    path = _binary(data=b"fresh")
    _binary("in/x_new.bin", b"stale stale")
    df.update_ddr_bin({"a": "1"}, path, "tq6951")
    with open("in/x_new.bin", "rb") as f:
        assert f.read() == b"fresh"


@pytest.mark.parametrize("chip_name,chip_other,chip_arg", [
    ("NULL", "NULL", "unknown"),
    ("Other", "TQ6947", "tq6947"),
    ("TQ6583/TQ6585", "NULL", "tq6583"),
    ("TQ6951", "TQ6420", "tq6951"),
])
def test_chip_argument_and_command_line(df, modify_tool, caplog, chip_name, chip_other, chip_arg):
    caplog.set_level(logging.DEBUG)
    path = _binary()
    df.update_ddr_bin({"a": "1"}, path, chip_name, chip_other)
    assert modify_tool.calls("vexdram_tool") == [[chip_arg, PARAMS, "in/x_new.bin"]]
    assert [r.getMessage() for r in caplog.records] == [
        f'resource/tools/vexdram_tool {chip_arg} output/gen_param_new.txt "in/x_new.bin"', MODIFIED]


def test_creates_output_when_missing(df, modify_tool):
    path = _binary()
    assert not os.path.exists("output")
    df.update_ddr_bin({"a": "1"}, path, "tq6951")
    assert os.path.isfile(PARAMS)


def test_missing_binary_raises_after_writing_parameters(df, modify_tool):
    with pytest.raises(FileNotFoundError):
        df.update_ddr_bin({"a": "1"}, "in/none.bin", "tq6951")
    assert os.path.isfile(PARAMS)
    assert modify_tool.calls("vexdram_tool") == []


@pytest.mark.parametrize("stdout", [
    "read param file fail\n",
    "chip name error\nFor more details, please refer to the vexdram_tool_user_guide.txt\n",
    "version 5\nmodify end\nchip name error\n",
    "",
    "version 5\nwrite ddr3 info to bin file fail\nmodify end\n",
    "version 1\nwrite bin file fail\nmodify end\n",
    "version 5\nwrite bin lpddr4 info to file fail\nmodify end\n",
])
def test_tool_failure_is_logged_not_raised(df, host, caplog, stdout):
    host.install_fake_tool("vexdram_tool", stdout=stdout)
    path = _binary()
    assert df.update_ddr_bin({}, path) == "in/x_new.bin"
    assert _errors(caplog) == [f'vexdram_tool did not modify "in/x_new.bin":\n{stdout}']


@pytest.mark.parametrize("stdout", [
    "version 5\nwarning: ddr3_freq=4100 does not fit its 12-bit field, stored as 4\nmodify end\n",
    "chip name error\n",
    "",
])
def test_tool_output_is_one_debug_record(df, host, caplog, stdout):
    caplog.set_level(logging.DEBUG)
    host.install_fake_tool("vexdram_tool", stdout=stdout)
    df.update_ddr_bin({"a": "1"}, _binary(), "tq6951")
    debug = [r.getMessage() for r in caplog.records if r.levelno == logging.DEBUG]
    assert debug[1:] == ([stdout] if stdout else [])


def test_success_logs_no_error(df, modify_tool, caplog):
    df.update_ddr_bin({"a": "1"}, _binary(), "tq6951")
    assert _errors(caplog) == []


def test_missing_tool_is_logged_not_raised(df, host, caplog):
    caplog.set_level(logging.DEBUG)
    path = _binary()
    assert df.update_ddr_bin({"a": "1"}, path, "tq6951", ddr_bin_path_rename=False) == path
    [error] = _errors(caplog)
    assert error.startswith("vexdram_tool could not be started: ")
    assert "resource/tools/vexdram_tool" in error
    assert "" not in caplog.messages  # no empty record for the output it never printed


def test_tool_not_executable_is_logged_and_left_alone(df, modify_tool, caplog):
    tool = modify_tool.tools / "vexdram_tool"
    tool.chmod(0o644)
    df.update_ddr_bin({"a": "1"}, _binary(), "tq6951")
    assert _errors(caplog)[0].startswith("vexdram_tool could not be started: ")
    assert stat.S_IMODE(tool.stat().st_mode) == 0o644


# cpmpare_ddr_param


def _files(report, params):
    os.makedirs("output", exist_ok=True)
    with open("output/gen_param.txt", "w") as f:
        f.write(report)
    with open(PARAMS, "w") as f:
        f.write(params)


@pytest.mark.parametrize("report,params,diff,text", [
    ("start tag=0x12345678\nddr3_freq=1056\nend\n", "start tag=0x12345678\nddr3_freq=1056\nend",
     {}, HEADER + "NULL"),
    ("start tag=0x12345678\nddr3_freq=1056\nend\n", "start tag=0x12345678\nddr3_freq=933\nend",
     {"ddr3_freq": "933"}, HEADER + "ddr3_freq: 1056 => 933\n"),
    ("a=1\nb=2\nend\n", "b=3\na=0x1\nend", {"a": "0x1", "b": "3"},
     HEADER + "a: 1 => 0x1\nb: 2 => 3\n"),
    ("a=1\nend\n", "a=01\nextra=5\nend", {"a": "01"}, HEADER + "a: 1 => 01\n"),
    ("a=1\nend\n", "a=1\nextra=5\nend", {}, HEADER + "NULL"),
    ("end\n", "end", {}, HEADER + "NULL"),
])
def test_compare(df, host, caplog, report, params, diff, text):
    caplog.set_level(logging.DEBUG)
    _files(report, params)
    res_diff, ret_str = df.cpmpare_ddr_param()
    assert list(res_diff.items()) == list(diff.items())
    assert ret_str == text
    assert ret_str.encode()[:26] == b"ddr parameter modified\xef\xbc\x9a\n"
    assert [r.getMessage() for r in caplog.records] == [text]


def test_compare_missing_key(df, host):
    _files("start tag=0x12345678\nddr3_freq=1056\nend\n", "ddr3_freq=1056\nend")
    with pytest.raises(KeyError) as info:
        df.cpmpare_ddr_param()
    assert info.value.args == ("start tag",)


def test_compare_missing_file(df, host):
    with pytest.raises(FileNotFoundError):
        df.cpmpare_ddr_param()


def test_compare_reads_the_last_parameter_of_an_update(df, modify_tool):
    # The file update_ddr_bin writes has no final line feed: "end" is the piece dropped.
    _files("a=1\nz=9\nend\n", "")
    df.update_ddr_bin({"a": "1", "z": "8"}, _binary(), "tq6951")
    assert df.cpmpare_ddr_param() == ({"z": "8"}, HEADER + "z: 9 => 8\n")
