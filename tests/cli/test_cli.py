"""Every status and error path of vexdram; writes that fail at any step (under strace's fault
injection) leaving the target as it was and no temporary file; loader containers packed exactly
as the module packs them after an edit of their DDR image."""
import os
import shutil
import struct
import subprocess
import sys

import pytest

from conftest import DIST, REPO, SECTIONS, TEMPLATE, build, run, vexdram, with_values

F = "tq6951_ddr_v5.bin"   # the samples, copied into a scratch folder
V2 = "tq6583_ddr_v2.bin"
L = "tq6951_loader.bin"
BIG = "tq6951_big_v5.bin"  # past the size held in memory: edited in a copy on the disk


@pytest.fixture
def work(tmp_path):
    for name in (F, V2, "tq6420_ddr_v1.bin", L):
        shutil.copy(REPO / "examples" / name, tmp_path / name)
    (tmp_path / "noname.bin").write_bytes((tmp_path / F).read_bytes())
    (tmp_path / BIG).write_bytes(bytes(5 << 20) + (tmp_path / F).read_bytes())
    (tmp_path / "tq6583_none.bin").write_bytes(bytes(range(1, 200)))
    ddr5 = bytearray(build(2, sections=("global",)))
    ddr5[64 + 8 + 2 * 5:64 + 8 + 2 * 5 + 2] = b"\x09\x01"  # a DDR5 entry in the index
    (tmp_path / "tq6583_ddr5_v2.bin").write_bytes(bytes(ddr5))
    (tmp_path / "tq6583_v6.bin").write_bytes(build(6, sections=("global",)))
    (tmp_path / "tq6951_overlap_v5.bin").write_bytes(moved(build(5, sections=("global", "ddr2", "lp2")), "lp2", 18))
    # the skew section (of sub-version 2) begins inside the LPDDR3 section: writing that could make it sub-version 1
    skew_in_lp3 = bytearray(moved(build(5, sections=("global", "lp3", "skew"), skew_sub=2), "skew", 18))
    skew_in_lp3[64 + 4 * 18] = 2
    (tmp_path / "tq6951_skewword_v5.bin").write_bytes(bytes(skew_in_lp3))
    (tmp_path / "tq6583_empty_v2.bin").write_bytes(build(2, sections=("global", "ddr3"), sizes={"ddr3": 0}))
    bad = bytearray((tmp_path / L).read_bytes())
    bad[-1] ^= 1
    (tmp_path / "tq6951_bad_loader.bin").write_bytes(bytes(bad))
    (tmp_path / "exists.bin").write_bytes(b"keep me")
    (tmp_path / "dir").mkdir()
    (tmp_path / "p.txt").write_text(with_values({"ddr3_freq": "933", "lp4_freq": ""}))
    (tmp_path / "same.txt").write_text("start tag=0x12345678\nddr3_freq=1056\n")
    (tmp_path / "bad.txt").write_text("start tag=0x12345678\nddr3_freq=0800\nnosuch=1\nlp4_freq\r\n"
                                      "lp4_freq = 0x10 /* comment */\nlp4_freq=0x11\nend\n")
    assert vexdram("set", tmp_path / F, "ddr3_freq=800", "-o", tmp_path / "tq6951_changed.bin").returncode == 0
    os.chdir(tmp_path)
    return tmp_path


def moved(data, section, offset):
    """data with the section's index entry moved to another block word."""
    data = bytearray(data)
    data[64 + 8 + 2 * SECTIONS[section][0]] = offset
    return bytes(data)


def snapshot(folder):
    return {p.name: p.read_bytes() for p in folder.iterdir() if p.is_file()}


# arguments, status, a piece of standard error ("" for none), a piece of standard output
CASES = [
    ([], 2, "A subcommand is required", ""),
    (["bogus"], 2, "unknown command 'bogus'", ""),
    (["--version"], 0, "", "vexdram 1.0.0"),
    (["set", "--help"], 0, "", "Usage: vexdram set [OPTIONS] FILE KEY=VALUE..."),
    (["show"], 2, "FILE is required", ""),
    (["show", F, "--bogus"], 2, "--bogus", ""),
    (["show", "noname.bin"], 2, "noname.bin: no chip name in the file's name: give one with --chip", ""),
    (["show", "noname.bin", "--chip", "TQ6951"], 0, "", "ddr3_freq=1056"),
    (["show", F, "--chip", "tq9999"], 2, "unknown chip 'tq9999'", ""),
    (["show", "tq6583_missing.bin"], 2, "tq6583_missing.bin: cannot open: No such file", ""),
    (["show", "dir", "--chip", "tq6583"], 2, "dir: is a directory", ""),
    (["show", "tq6583_none.bin"], 2, "no parameter block: no start tag 0x12345678", ""),
    (["show", "tq6951_bad_loader.bin"], 2, "Error: container CRC mismatch", ""),
    (["show", "tq6583_ddr5_v2.bin"], 2, "tq6583_ddr5_v2.bin: the block has a DDR5 section, which is not supported", ""),
    (["show", "tq6583_v6.bin"], 2, "tq6583_v6.bin: block version 6 is not supported (versions 0 to 5 are)", ""),
    (["get", "tq6583_empty_v2.bin", "ddr3_freq"], 2,
     "tq6583_empty_v2.bin: the block's DDR3 section is empty or runs past the end of the file", ""),
    (["show", L, "--json"], 0, "", '"kind": "loader"'),
    (["get", F, "ddr3_frq"], 2, "no parameter 'ddr3_frq'; nearest: ddr3_freq", ""),
    (["get", F, "ddr3_freq", "uart baudrate", "pstore_base_addr"], 0, "", "1056\n1500000\n0x"),
    (["get", F, "start tag", "--json"], 0, "", '"start tag": 305419896'),
    (["set", F, "ddr3_freq=800"], 2, "nothing is written without -o OUT or --in-place", ""),
    (["set", F, "ddr3_freq=800", "-o", F], 2, "is the input itself: use --in-place", ""),
    (["set", F, "ddr3_freq=800", "-o", "exists.bin"], 2, "exists.bin: exists: give --force", ""),
    (["set", F, "ddr3_freq=800", "-o", "nodir/x.bin"], 2, "its directory nodir does not exist", ""),
    (["set", F, "ddr3_freq=800", "-o", "x.bin", "--in-place"], 2, "excludes", ""),
    (["set", F, "ddr3_freq", "start tag=1", "ddr3_freq=9", "ddr3_freq=8", "--dry-run"], 2,
     "ddr3_freq: no '='", ""),
    (["set", F, "start tag=0x12345678", "--dry-run"], 2, "start tag=0x12345678: the start tag is fixed", ""),
    (["set", F, "ddr3_freq=9", "ddr3_freq=8", "--dry-run"], 2, "ddr3_freq=8: ddr3_freq is given twice", ""),
    (["set", F, "ddr3_freq=800", "lp4_freq=0x618", "--dry-run"], 0, "", "ddr3_freq: 1056 -> 800\n"),
    (["set", V2, "ddr3_dq_vref_when_odten=1", "--dry-run"], 2, "block version 2 has no place for it", ""),
    (["set", V2, "ddr3_ca0_skew=1", "--dry-run"], 2, "not stored for chip tq6583", ""),
    (["set", "tq6420_ddr_v1.bin", "dis_train_print=1", "--dry-run"], 2, "it always reads back as 0", ""),
    (["set", F, "uart id=16", "--dry-run"], 2, "uart id=16: does not fit its 4-bit field (largest 15)", ""),
    (["set", F, "ddr3_ca0_skew=0", "-o", "x.bin"], 2,
     "ddr3_ca0_skew=0: 0 keeps a skew lane as it is (0x69 here); it cannot be set to 0", ""),
    (["set", "tq6951_overlap_v5.bin", "ddr3_freq=800", "-o", "x.bin"], 2,
     "the block's DDR2 and LPDDR2 sections overlap: vexdram does not write it", ""),
    (["set", "tq6951_skewword_v5.bin", "lp3_freq=800", "-o", "x.bin"], 2,
     "the block's LPDDR3 and skew sections overlap: vexdram does not write it", ""),
    (["apply", "bad.txt", F, "--dry-run"], 2, "bad.txt: line 2: ddr3_freq=0800: a leading 0", ""),
    (["apply", "bad.txt", F, "--dry-run"], 2, "bad.txt: line 4: no '=' in 'lp4_freq'", ""),
    (["apply", "bad.txt", F, "--dry-run"], 2, "bad.txt: line 6: lp4_freq is given again (first on line 5)", ""),
    (["apply", "p.txt", F, V2, "-o", "x.bin"], 2, "-o names one output", ""),
    (["apply", "p.txt", F, V2, "--out-dir", "dir", "--dry-run"], 0, "", f"{F}: ddr3_freq: 1056 -> 933"),
    (["apply", "p.txt", F, V2, "--out-dir", "nodir"], 2, "does not exist", ""),
    (["diff", F, "noname.bin", "--chip", "tq6951"], 0, "", ""),
    (["diff", F, "tq6951_changed.bin"], 1, "", "ddr3_freq: 1056 -> 800\n"),
    (["diff", F, "p.txt"], 1, "", "ddr3_freq: 1056 -> 933\n"),
    (["diff", F, "same.txt"], 0, "", ""),  # the start tag is a value like any other
    (["diff", F, "bad.txt"], 2, "bad.txt: line 2", ""),
    (["diff", F, "tq6583_missing.bin"], 2, "cannot open", ""),
    (["template"], 0, "", TEMPLATE),
    (["chips", "--chip", "TQ6951"], 0, "", "tq6951\ntq6574\ntq5041\n"),
    (["keys"], 0, "", "ddr3_freq\tDDR3\tdecimal\t16/65535\t12/4095\t12/4095\n"),
    # one catalogue schema: the studio's file, as the installed tree carries it
    (["keys", "--json"], 0, "", (DIST / "resource" / "vexdram_catalogue.json").read_text()),
]


@pytest.mark.parametrize("args,status,err,out", CASES, ids=[" ".join(c[0])[:60] for c in CASES])
def test_statuses_and_messages(work, args, status, err, out):
    before = snapshot(work)
    r = vexdram(*args)
    assert r.returncode == status, r.stderr
    assert err in r.stderr
    assert out in r.stdout
    if status == 2:
        assert r.stdout == ""  # so that $(vexdram get ...) never takes a message for a value
    if "--dry-run" in args or status == 2:
        assert snapshot(work) == before


def test_a_large_binary_is_edited_as_the_tool_edits_it(work):
    assert vexdram("set", BIG, "ddr3_freq=800", "uart id=3", "-o", "dir/big.bin").returncode == 0
    (work / "p1.txt").write_text(with_values({"ddr3_freq": "800", "uart id": "3"}))
    run(DIST / "resource/tools/vexdram_tool", "tq6951", "p1.txt", BIG, check=True)
    assert (work / "dir/big.bin").read_bytes() == (work / BIG).read_bytes()


def test_apply_holds_no_descriptor_per_file(work):
    import resource
    (work / "many").mkdir()
    for i in range(60):
        shutil.copy(F, work / "many" / f"tq6951_{i}.bin")
    limit = lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (24, 24))  # noqa: E731
    r = vexdram("apply", "p.txt", *sorted((work / "many").iterdir()), "--in-place", preexec_fn=limit)
    assert r.returncode == 0, r.stderr
    assert vexdram("get", work / "many" / "tq6951_59.bin", "ddr3_freq").stdout == "933\n"


def test_writes_keep_mode_and_write_only_what_changed(work):
    os.chmod(F, 0o640)
    assert vexdram("set", F, "ddr3_freq=800", "-o", "dir/new.bin").returncode == 0
    assert os.stat("dir/new.bin").st_mode & 0o777 == 0o640
    r = vexdram("apply", "p.txt", F, V2, "--in-place")
    assert r.returncode == 0, r.stderr
    assert vexdram("get", F, "ddr3_freq").stdout == "933\n"
    assert os.stat(F).st_mode & 0o777 == 0o640
    os.symlink(F, "link.bin")
    assert vexdram("set", "link.bin", "ddr3_freq=934", "--in-place", "--chip", "tq6951").returncode == 0
    assert os.path.islink("link.bin") and vexdram("get", F, "ddr3_freq").stdout == "934\n"


FAULTS = [  # (system call, which call of it, command): each fails the write at one step
    ("write", 1, ["set", F, "ddr3_freq=800"]),  # the changes, on standard output
    ("write", 2, ["set", F, "ddr3_freq=800"]),  # the new binary
    ("sendfile", 1, ["set", BIG, "ddr3_freq=800"]),
    ("pwrite64", 1, ["set", BIG, "ddr3_freq=800"]),
    ("fsync", 1, ["set", BIG, "ddr3_freq=800"]),
    ("fchmod", 1, ["set", F, "ddr3_freq=800"]),
    ("fsync", 1, ["set", F, "ddr3_freq=800"]),
    ("rename", 1, ["set", F, "ddr3_freq=800"]),
    ("write", 2, ["set", L, "ddr3_freq=800"]),  # the container
    ("fsync", 1, ["set", L, "ddr3_freq=800"]),
    ("syncfs", 1, ["apply", "p.txt", F, V2]),
    ("rename", 2, ["apply", "p.txt", F, V2]),
]


@pytest.mark.skipif(not shutil.which("strace"), reason="strace is not installed")
@pytest.mark.parametrize("call,when,args", FAULTS)
@pytest.mark.parametrize("fault", ["error=EIO", "signal=SIGTERM"])
def test_a_failed_write_leaves_every_target_as_it_was(work, call, when, args, fault):
    before = snapshot(work)
    r = run("strace", "-f", "-o", "/dev/null", "-e", f"trace={call}", "-e", f"inject={call}:{fault}:when={when}",
            DIST / "resource/tools/vexdram", *args, "--in-place")
    assert r.returncode != 0
    assert not [p for p in os.listdir(work) if "vexdram-" in p]
    if fault == "error=EIO" and (call, when) != ("rename", 2):
        assert r.returncode == 2 and len(r.stderr.splitlines()) == 1, r.stderr
        assert snapshot(work) == before
        return
    # Killed at that step: each target is as it was, or whole with its new values (the signal
    # came once its rename was done).
    for name, data in snapshot(work).items():
        if data != before[name]:
            assert vexdram("get", name, "ddr3_freq", "--chip", "tq6951").stdout in ("800\n", "933\n"), name


@pytest.fixture
def host(tmp_path):
    """A host's working directory: the install tree's tools, the module, a folder of files."""
    shutil.copytree(DIST / "resource", tmp_path / "resource")
    for f in DIST.glob("dramforge*.so"):
        shutil.copy(f, tmp_path)
    (tmp_path / "ws").mkdir()
    shutil.copy(REPO / "examples" / L, tmp_path / "ws" / L)
    return tmp_path


def module_save(host, edits, epoch):
    """What a host of the module (the studio's save) writes for these edits of the container."""
    script = (
        "import dramforge, sys\n"
        "df = dramforge.dramforge\n"
        f"images = df.loader_unpack('ws/{L}', 'TQ6951')\n"
        "params, status = df.get_ddr_params(images['loader_471'], 'TQ6951')\n"
        f"params.update({edits!r})\n"
        "df.update_ddr_bin(params, images['loader_471'], 'TQ6951', ddr_bin_path_rename=False)\n"
        "print(df.loader_pack(images))\n")
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(epoch), PYTHONPATH=str(host))
    out = subprocess.run(["/usr/bin/python3", "-c", script], cwd=host, env=env, capture_output=True, text=True,
                         check=True).stdout.strip()
    return (host / out).read_bytes()


def images(container):
    """The data range of each image of a container (its entry tables read directly)."""
    ranges = {}
    for t in range(3):
        count, offset = container[25 + 6 * t], struct.unpack_from("<I", container, 26 + 6 * t)[0]
        for i in range(count):
            rec = offset + 57 * i
            name = container[rec + 5:rec + 45].rstrip(b"\0").decode()
            start, size = struct.unpack_from("<II", container, rec + 45)
            ranges[name] = (start, start + size)
    return ranges


@pytest.mark.skipif(not list(DIST.glob("dramforge*.so")), reason="no module installed")
def test_a_container_is_packed_as_the_module_packs_it(host, monkeypatch):
    edits = {"ddr3_freq": "800", "lp4_freq": "0x400", "uart baudrate": "115200"}
    monkeypatch.setenv("SOURCE_DATE_EPOCH", "1700000000")
    mine = host / "mine.bin"
    r = vexdram("set", host / "ws" / L, *[f"{k}={v}" for k, v in edits.items()], "-o", mine)
    assert r.returncode == 0, r.stderr
    assert mine.read_bytes() == module_save(host, edits, 1700000000)
    # Against the module's pack of the unedited container, only the DDR image, the FlashData image
    # (its copy) and the CRC differ.
    unedited = module_save(host, {}, 1700000000)
    new = mine.read_bytes()
    where = images(new)
    assert images(unedited) == where and len(unedited) == len(new)
    allowed = [where["ddr.bin"], where["FlashData.bin"], (len(new) - 4, len(new))]
    changed = [i for i in range(len(new)) if new[i] != unedited[i]]
    assert changed and all(any(a <= i < b for a, b in allowed) for i in changed)
    assert vexdram("diff", host / "ws" / L, mine, "--chip", "tq6951").stdout == (
        "ddr3_freq: 1056 -> 800\nlp4_freq: 1560 -> 1024\nuart baudrate: 1500000 -> 115200\n")
