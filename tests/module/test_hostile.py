"""Hostile inputs: entries that are not text, huge dictionaries and tool outputs, paths made of
shell syntax, quotes and foreign letters, a broken working directory, broken containers. Every
case checks the result or exception and that nothing is lost and no stray file appears."""
import logging
import os
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

import pytest

from conftest import DIST
from test_ddr_params import REPORT
from test_ddr_road import SAMPLES, _sample, real_tool  # noqa: F401 (fixture)
from test_ddr_update import PARAMS
from test_loader_header import container
from test_loader_roundtrip import KEPT, weld
from test_loader_unpack import listing

IMAGES = [("-1", "ddr.bin", b"d" * 300), ("-2", "usbplug.bin", b"u" * 400),
          ("-3", "FlashData.bin", b"x" * 50), ("-3", "FlashBoot.bin", b"b" * 600)]
ODD_NAMES = ["données ä.bin", "芯片 参数.bin", "it's 'q'.bin", 'say "hi".bin',
             "$(touch x)`touch y`;touch z|cat&>w.bin", "line\nfeed.bin"]


def tree(skip=("output", "resource")):
    """Every path under the current directory outside `skip`, with its bytes (None: directory)."""
    found = {}
    for top, dirs, files in os.walk("."):
        dirs[:] = [d for d in dirs if os.path.join(top, d)[2:] not in skip]
        for name in dirs + files:
            path = os.path.join(top, name)[2:]
            found[path] = None if name in dirs else Path(path).read_bytes()
    return found


def _errors(caplog):
    return [r.getMessage() for r in caplog.records if r.levelno >= logging.ERROR]


@pytest.mark.parametrize("res_dict", [
    {"a": None}, {b"a": "1"}, {"a": b"1"}, {None: "1"},
    {"start tag": "0x12345678", "uart id": "2", "late": 5},
])
def test_entries_that_are_not_text_touch_nothing(df, host, res_dict):
    host.install_fake_tool("vexdram_tool", stdout="modify end\n")
    Path("x.bin").write_bytes(b"payload")
    before = tree(skip=("resource",))
    with pytest.raises(TypeError):
        df.update_ddr_bin(res_dict, "x.bin", "tq6951")
    assert tree(skip=("resource",)) == before  # no output/, no x_new.bin
    assert host.calls("vexdram_tool") == []


def test_twenty_thousand_extra_keys_change_nothing(df, real_tool):
    for name in ("in/a.bin", "in/b.bin"):
        shutil.copy(_sample(SAMPLES["tq6951"]), name)
    res, _ = df.get_ddr_params("in/a.bin", "tq6951")
    assert len(res) == 484
    res["ddr3_freq"] = "800"
    df.update_ddr_bin(res, "in/a.bin", "tq6951", ddr_bin_path_rename=False)
    # No catalogue key is made of digits and "@", so the tool must skip every extra line.
    extras = {f"@{i:05d}": str(i) for i in range(20000)}
    df.update_ddr_bin({**res, **extras}, "in/b.bin", "tq6951", ddr_bin_path_rename=False)
    assert Path("output/gen_param_new.txt").read_text().count("\n") == 484 + 20000
    assert Path("in/a.bin").read_bytes() == Path("in/b.bin").read_bytes()
    assert df.get_ddr_params("in/b.bin", "tq6951")[0]["ddr3_freq"] == "800"


SHELL_NAME = 'in/a b"$(touch P1)`touch P2`;touch P3|cat&>P4\'.bin'
SHELL_CHIP = "tq6951;touch P5 $(touch P6)`touch P7` a b"


def _get(df, host):
    df.get_ddr_params(SHELL_NAME, SHELL_CHIP)
    assert host.calls("vexdram_tool") == [[SHELL_CHIP.lower(), "-g", REPORT, SHELL_NAME]]


def _update(df, host):
    new_name = SHELL_NAME[:-4] + "_new.bin"
    assert df.update_ddr_bin({"a": "1"}, SHELL_NAME, SHELL_CHIP) == new_name
    assert host.calls("vexdram_tool") == [[SHELL_CHIP.lower(), PARAMS, new_name]]


def _unpack_and_pack(df, host):
    images = ["a.bin", "b;touch P8", "c", "d"]
    host.install_fake_tool("imgwelder", stdout=listing(images, 8))
    Path("output").mkdir()
    for name in images:
        Path("output", name).write_bytes(b"x")
    Path(SHELL_NAME).write_bytes(container(chip=b"wp>;"))
    got = df.loader_unpack(SHELL_NAME)
    assert got["pack_params"] == "-c -TQ;>pw -v 2.1 -r 0"
    assert df.loader_pack(got, False) == SHELL_NAME
    unpack_call, pack_call = host.calls("imgwelder")
    assert unpack_call == ["unpack", "-i", SHELL_NAME, "-o", "output"]
    assert pack_call[1:3] == ["-c", "-TQ;>pw"] and "output/b;touch P8" in pack_call


@pytest.mark.parametrize("operation", [_get, _update, _unpack_and_pack], ids=lambda op: op.__name__[1:])
def test_nothing_reaches_a_shell(df, ddr_tool, operation):
    """Every operation starts its tool through one helper, without a shell: paths, chip names and
    a container's chip code made of shell syntax reach the tool as single, literal arguments."""
    host = ddr_tool()
    Path("in").mkdir()
    Path(SHELL_NAME).write_bytes(b"payload")
    operation(df, host)
    assert not [p for p in os.listdir(".") if p.upper().startswith("P")]


@pytest.mark.parametrize("name", ODD_NAMES + ["-gvictim.bin", "-h.bin"])
def test_odd_ddr_paths_with_the_real_tool(df, real_tool, caplog, name):
    """A name starting with "-" must not turn into an option of the tool: "-gvictim.bin" once
    made it write its report over victim.bin."""
    shutil.copy(_sample(SAMPLES["tq6951"]), name)
    Path("victim.bin").write_bytes(b"precious")
    before = tree()
    res, ret = df.get_ddr_params(name, "Other", "TQ6951")
    assert ret == 0 and len(res) == 484
    res["ddr3_freq"] = "800"
    new_name = name[:-4] + "_new.bin"
    assert df.update_ddr_bin(res, name, "Other", "TQ6951") == new_name
    assert df.get_ddr_params(new_name, "tq6951")[0]["ddr3_freq"] == "800"
    assert _errors(caplog) == []
    assert tree() == {**before, new_name: Path(new_name).read_bytes()}


@pytest.mark.parametrize("name", ODD_NAMES + ["-oevil.bin", "-i.bin"])
def test_odd_container_paths_with_the_real_imgwelder(df, host, monkeypatch, name):
    monkeypatch.setenv("SOURCE_DATE_EPOCH", "1700000000")  # both containers carry one release time
    host.install_real_tool("imgwelder")
    weld(host, "-c -TQ1234 -v 2.1", IMAGES, out=name)
    before = tree()
    got = df.loader_unpack(name)
    assert got["loader_file_path"] == name and got["pack_params"] == "-c -TQ1234 -v 2.1 -r 0"
    new_name = df.loader_pack(got)
    assert new_name == name[:-4] + "_new.bin" and df.check_if_loadr_file(new_name)
    old, new = df.get_loader_param(name), df.get_loader_param(new_name)
    assert {k: new[k] for k in KEPT} == {k: old[k] for k in KEPT}
    assert tree() == {**before, new_name: Path(new_name).read_bytes()}


def test_output_as_plain_file(df, host):
    host.install_fake_tool("vexdram_tool", stdout="modify end\n")
    host.install_real_tool("imgwelder")
    weld(host, "-c -TQ1234 -v 2.1", IMAGES, out="c.bin")
    Path("output").write_bytes(b"not a directory")
    before = tree(skip=("resource",))
    with pytest.raises(NotADirectoryError):
        df.update_ddr_bin({"a": "1"}, "c.bin", "tq6951")
    assert df.loader_unpack("c.bin") is None  # the packer cannot write its images: "Error"
    assert tree(skip=("resource",)) == before
    assert host.calls("vexdram_tool") == []


CHILD = """
import os, sys
sys.path.insert(0, {module_dir!r})
from dramforge import dramforge as df
try:
    getattr(df, {op!r})(*{args!r})
    print("returned")
except Exception as e:
    print(type(e).__name__)
"""


def _to_nobody():
    os.setgroups([])
    os.setgid(65534)
    os.setuid(65534)


def _without_privileges(argv):
    """argv and Popen arguments that make permission bits hold for the child: root runs it as an
    ordinary user, or, where that user cannot reach this interpreter (one under /root), as root
    without its capabilities."""
    if os.geteuid() != 0:
        return argv, {}
    try:
        subprocess.run([sys.executable, "-c", ""], preexec_fn=_to_nobody, check=True)
        return argv, {"preexec_fn": _to_nobody}
    except (OSError, subprocess.CalledProcessError):
        if not shutil.which("setpriv"):
            pytest.skip(f"an ordinary user cannot run {sys.executable}, and there is no setpriv")
        return ["setpriv", "--bounding-set=-all", "--"] + argv, {}


@pytest.mark.parametrize("op, args, raised", [
    ("update_ddr_bin", ({"a": "1"}, "x.bin", "tq6951"), "PermissionError"),
    ("get_ddr_params", ("x.bin", "tq6951"), "PermissionError"),  # the old report cannot go
])
def test_write_protected_output(op, args, raised):
    """Run in a child without privileges: root writes through permission bits. The child gets
    copies of the module and the tool in /tmp, as the checkout may lie where only root can enter."""
    root = Path(tempfile.mkdtemp(dir="/tmp"))
    module_dir = Path(tempfile.mkdtemp(dir="/tmp"))
    try:
        root.chmod(0o755)
        module_dir.chmod(0o755)
        for built in DIST.glob("dramforge*"):
            shutil.copy2(built, module_dir)
        (root / "resource" / "tools").mkdir(parents=True)
        shutil.copy2(DIST / "resource" / "tools" / "vexdram_tool", root / "resource" / "tools")
        (root / "x.bin").write_bytes(_sample(SAMPLES["tq6951"]).read_bytes())
        (root / "output").mkdir()
        (root / "output" / "gen_param.txt").write_text("a=1\nend\n")
        (root / "output").chmod(0o555)
        child = CHILD.format(module_dir=str(module_dir), op=op, args=args)
        argv, how = _without_privileges([sys.executable, "-c", child])
        done = subprocess.run(argv, cwd=root, capture_output=True, text=True, **how)
        if "ModuleNotFoundError" in done.stderr + done.stdout:
            pytest.skip("the child cannot import the module or what it needs: " + done.stderr.strip())
        assert done.stdout.strip() == raised, done.stderr
        assert sorted(p.name for p in root.iterdir()) == ["output", "resource", "x.bin"]
        assert [p.name for p in (root / "output").iterdir()] == ["gen_param.txt"]
        assert (root / "output" / "gen_param.txt").read_text() == "a=1\nend\n"
    finally:
        (root / "output").chmod(0o755)
        shutil.rmtree(root)
        shutil.rmtree(module_dir)


@pytest.mark.parametrize("kind", ["directory", "missing"])
def test_binary_that_is_a_directory_or_missing(df, real_tool, caplog, kind):
    if kind == "directory":
        Path("in/d.bin").mkdir()
        Path("in/d.bin/keep").write_bytes(b"keep")
    before = tree()
    with pytest.raises(FileNotFoundError):  # the tool wrote no report
        df.get_ddr_params("in/d.bin", "tq6951")
    with pytest.raises(IsADirectoryError if kind == "directory" else FileNotFoundError):
        df.update_ddr_bin({"a": "1"}, "in/d.bin", "tq6951")
    assert df.update_ddr_bin({"a": "1"}, "in/d.bin", "tq6951", ddr_bin_path_rename=False) == "in/d.bin"
    assert _errors(caplog)[-1].startswith('vexdram_tool did not modify "in/d.bin":')
    assert tree() == before


NOISE = "sys.stdout.write(('n' * 99 + '\\n') * 55000)\n"  # 5.5 MB before the tool's own text


def test_tool_printing_megabytes_or_nothing(df, ddr_tool, caplog):
    caplog.set_level(logging.DEBUG)
    host = ddr_tool(report="start tag=0x12345678\nuart id=2\nend\n", stdout="")
    assert df.get_ddr_params("x.bin", "tq6951") == ({"start tag": "0x12345678", "uart id": "2"}, -1)
    assert "" not in caplog.messages
    report = "open(argv[2], 'w').write('start tag=0x12345678\\nend\\n') if '-g' in argv else None\n"
    host.install_fake_tool("vexdram_tool", stdout="modify end\n", body=report + NOISE)
    assert df.get_ddr_params("x.bin", "tq6951") == ({"start tag": "0x12345678"}, -1)
    assert max(len(r.getMessage()) for r in caplog.records) > 5_000_000
    Path("x.bin").write_bytes(b"payload")
    assert df.update_ddr_bin({"a": "1"}, "x.bin", "tq6951") == "x_new.bin"
    host.install_fake_tool("imgwelder", stdout="Error: bad container\n", body=NOISE)
    Path("c.bin").write_bytes(container())
    assert df.loader_unpack("c.bin") is None
    assert _errors(caplog) == ["imgweld unpack error"]


def _patched(data, offset, value, fmt="<I"):
    data = bytearray(data)
    struct.pack_into(fmt, data, offset, value)
    return bytes(data)


@pytest.mark.parametrize("breakage, header_error", [
    (lambda d: _patched(d, 26, 0xFFFFFFF0), True),       # 471 table far past the end
    (lambda d: _patched(d, 32, len(d) - 20), True),      # 472 table cut by the end of the file
    (lambda d: d[:60], True),                            # tables and images cut off
    (lambda d: _patched(d, 102 + 49, 0x7FFFFFFF), False),  # first image's size past the end
    (lambda d: _patched(d, 102 + 45, 0xFFFFFF00), False),  # first image's offset past the end
], ids=["471-offset", "472-offset", "truncated", "image-size", "image-offset"])
def test_container_pointing_past_its_end(df, host, breakage, header_error):
    host.install_real_tool("imgwelder")
    weld(host, "-c -TQ1234 -v 2.1 -r 4", IMAGES, out="c.bin")  # CRC off: the offsets get checked
    Path("c.bin").write_bytes(breakage(Path("c.bin").read_bytes()))
    before = tree()
    if header_error:
        with pytest.raises(struct.error):
            df.get_loader_param("c.bin")
    assert df.loader_unpack("c.bin") is None
    assert tree() == before


def test_good_listing_over_a_broken_header_raises_struct_error(df, host):
    host.install_fake_tool("imgwelder", stdout=listing(list("abcd"), 8))
    Path("c.bin").write_bytes(container(off471=1 << 20))
    with pytest.raises(struct.error):
        df.loader_unpack("c.bin")
    assert sorted(os.listdir(".")) == ["c.bin", "imgwelder.calls", "output", "resource"]


def test_copy_that_is_the_input_through_a_symlink(df, host):
    host.install_fake_tool("vexdram_tool", stdout="modify end\n")
    Path("x.bin").write_bytes(b"payload")
    os.symlink("x.bin", "x_new.bin")
    with pytest.raises(shutil.SameFileError):
        df.update_ddr_bin({"a": "1"}, "x.bin", "tq6951")
    assert Path("x.bin").read_bytes() == b"payload" and os.path.islink("x_new.bin")
    assert host.calls("vexdram_tool") == []
