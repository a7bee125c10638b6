"""Every status and error path of vexdram; writes that fail at any step (under strace's fault
injection) leaving the target as it was and no temporary file; loader containers packed exactly
as the module packs them after an edit of their DDR image."""
import os
import shutil
import stat
import struct
import subprocess
import sys

import pytest

from conftest import (COMMAND, DIST, EXE, REPO, TEMPLATE, build, linux_only, overlapping, run, skew_in_section, vexdram,
                      with_values)

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
    (tmp_path / "tq6951_overlap_v5.bin").write_bytes(overlapping())
    (tmp_path / "tq6951_skewword_v5.bin").write_bytes(skew_in_section())
    (tmp_path / "tq6583_empty_v2.bin").write_bytes(build(2, sections=("global", "ddr3"), sizes={"ddr3": 0}))
    bad = bytearray((tmp_path / L).read_bytes())
    bad[-1] ^= 1
    (tmp_path / "tq6951_bad_loader.bin").write_bytes(bytes(bad))
    (tmp_path / "exists.bin").write_bytes(b"keep me")
    (tmp_path / "dir").mkdir()
    os.mkfifo(tmp_path / "fifo")  # no writer: opening it would wait for ever
    shutil.copy(tmp_path / F, tmp_path / "tq6951_ro.bin")
    os.chmod(tmp_path / "tq6951_ro.bin", 0o444)
    (tmp_path / "p.txt").write_text(with_values({"ddr3_freq": "933", "lp4_freq": ""}))
    (tmp_path / "bom.txt").write_text("\ufeffddr3_freq=933\n", encoding="utf-8")
    (tmp_path / "same.txt").write_text("start tag=0x12345678\nddr3_freq=1056\n")
    (tmp_path / "bad.txt").write_text("start tag=0x12345678\nddr3_freq=0800\nnosuch=1\nlp4_freq\r\n"
                                      "lp4_freq = 0x10 /* comment */\nlp4_freq=0x11\nend\n")
    assert vexdram("set", tmp_path / F, "ddr3_freq=800", "-o", tmp_path / "tq6951_changed.bin").returncode == 0
    os.chdir(tmp_path)
    return tmp_path


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
    (["show", "fifo", "--chip", "tq6951"], 2, "fifo: not a regular file or a block device", ""),
    (["show", F, "--chip", ""], 2, "--chip: an empty chip name", ""),
    (["show", "tq6583_none.bin"], 2, "no parameter block: no start tag 0x12345678", ""),
    (["show", "tq6951_bad_loader.bin"], 2, "Error: container CRC mismatch", ""),
    (["show", "tq6583_ddr5_v2.bin"], 2, "tq6583_ddr5_v2.bin: the block has a DDR5 section, which is not supported", ""),
    (["show", "tq6583_v6.bin"], 2, "tq6583_v6.bin: block version 6 is not supported (versions 0 to 5 are)", ""),
    (["get", "tq6583_empty_v2.bin", "ddr3_freq"], 2,
     "tq6583_empty_v2.bin: the block's DDR3 section is empty or runs past the end of the file", ""),
    (["show", L, "--json"], 0, "", '"kind": "loader"'),
    (["show", V2, "--json"], 0, "",  # the words of set's refusal
     '"ddr3_dq_vref_when_odten": "not stored in this binary: block version 2 has no place for it"'),
    (["show", F, "--json"], 0, "", '"unwritable": null'),
    (["show", F, "--json"], 0, "", '"ddr3_ca0_skew": "0 keeps a skew lane as it is (0x69 here); it cannot be set to 0"'),
    (["show", "tq6951_skewword_v5.bin", "--json"], 0, "",
     '"unwritable": "the block\'s LPDDR3 and skew sections overlap: vexdram does not write it"'),
    (["get", F, "ddr3_frq"], 2, "no parameter 'ddr3_frq'; nearest: ddr3_freq", ""),
    (["get", F, "ddr3_freq", "uart baudrate", "pstore_base_addr"], 0, "", "1056\n1500000\n0x"),
    (["get", F, "start tag", "--json"], 0, "", '"start tag": 305419896'),
    (["set", F, "ddr3_freq=800"], 2, "nothing is written without -o OUT or --in-place", ""),
    (["set", F, "ddr3_freq=800", "-o", F], 2, "is the input itself: use --in-place", ""),
    (["set", F, "ddr3_freq=800", "-o", "exists.bin"], 2, "exists.bin: exists: give --force", ""),
    (["set", F, "ddr3_freq=800", "-o", "exists.bin", "--dry-run"], 2, "exists.bin: exists: give --force", ""),
    (["set", "tq6951_ro.bin", "ddr3_freq=800", "--in-place"], 2,
     "tq6951_ro.bin: is read-only (no write bit for anyone): give --force", ""),
    (["set", F, "ddr3_freq=800", "-o", "nodir/x.bin"], 2, "its directory nodir does not exist", ""),
    (["set", F, "ddr3_freq=800", "-o", "x.bin", "--in-place"], 2, "excludes", ""),
    (["set", F, "ddr3_freq", "start tag=1", "ddr3_freq=9", "ddr3_freq=8", "--dry-run"], 2,
     "ddr3_freq: no '='", ""),
    (["set", F, "start tag=0x12345678", "--dry-run"], 2, "start tag=0x12345678: the start tag is fixed", ""),
    (["set", F, "ddr3_freq=9", "ddr3_freq=8", "--dry-run"], 2, "ddr3_freq=8: ddr3_freq is given twice", ""),
    (["set", F, "ddr3_freq=800", "ddr3_freq=800", "--dry-run"], 0, "", "ddr3_freq: 1056 -> 800\n"),
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
    (["apply", "bom.txt", F, "--dry-run"], 0, "", "ddr3_freq: 1056 -> 933\n"),
    (["apply", "/dev/zero", F, "--dry-run"], 2, "/dev/zero: larger than 16 MiB: not a parameter file", ""),
    (["apply", "p.txt", F, V2, "--out-dir", "dir", "--dry-run"], 0, "", f"{F}: ddr3_freq: 1056 -> 933"),
    (["apply", "p.txt", F, V2, "--out-dir", "nodir"], 2, "does not exist", ""),
    (["apply", "p.txt", F, "--out-dir", "exists.bin"], 2, "exists.bin is not a directory", ""),
    (["diff", F, "noname.bin", "--chip", "tq6951"], 0, "", ""),
    (["diff", "noname.bin", "tq6951_changed.bin"], 1, "", "ddr3_freq: 1056 -> 800\n"),  # the other side's chip
    (["diff", "noname.bin", "noname.bin"], 2, "noname.bin: no chip name in the file's name", ""),
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
    if EXE and "fifo" in args:
        pytest.skip("Linux only: a FIFO")
    before = snapshot(work)
    r = vexdram(*args)
    assert r.returncode == status, r.stderr
    assert err in r.stderr
    assert out in r.stdout and (not out or r.stdout.count(out) == 1)
    if status == 2:
        assert r.stdout == ""  # so that $(vexdram get ...) never takes a message for a value
    if "--dry-run" in args or status == 2:
        assert snapshot(work) == before


def test_a_large_binary_is_edited_as_the_tool_edits_it(work):
    assert vexdram("set", BIG, "ddr3_freq=800", "uart id=3", "-o", "dir/big.bin").returncode == 0
    (work / "p1.txt").write_text(with_values({"ddr3_freq": "800", "uart id": "3"}))
    run(DIST / "resource/tools/vexdram_tool", "tq6951", "p1.txt", BIG, check=True)
    assert (work / "dir/big.bin").read_bytes() == (work / BIG).read_bytes()


@linux_only("file modes and symbolic links")
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
    os.chmod(F, 0o444)  # read-only on purpose: replaced in place with --force only, and stays so
    assert vexdram("set", F, "ddr3_freq=935", "--in-place", "--force").returncode == 0
    assert os.stat(F).st_mode & 0o777 == 0o444 and vexdram("get", F, "ddr3_freq").stdout == "935\n"


FAULTS = [  # (system call, which call of it, command, what a failure there leaves written)
    ("write", 1, ["set", F, "ddr3_freq=800", "--in-place"], "nothing"),  # the new binary
    ("write", 2, ["set", F, "ddr3_freq=800", "--in-place"], "all"),  # the changes, on standard output
    ("sendfile", 1, ["set", BIG, "ddr3_freq=800", "--in-place"], "nothing"),
    ("pwrite64", 1, ["set", BIG, "ddr3_freq=800", "--in-place"], "nothing"),
    ("fsync", 1, ["set", BIG, "ddr3_freq=800", "--in-place"], "nothing"),
    ("fchmod", 2, ["set", F, "ddr3_freq=800", "--in-place"], "nothing"),  # the new file's (the first: the lock's)
    ("fsync", 1, ["set", F, "ddr3_freq=800", "--in-place"], "nothing"),
    ("renameat", 1, ["set", F, "ddr3_freq=800", "--in-place"], "nothing"),
    ("write", 1, ["set", L, "ddr3_freq=800", "--in-place"], "nothing"),  # the container
    ("fsync", 1, ["set", L, "ddr3_freq=800", "--in-place"], "nothing"),
    ("syncfs", 1, ["apply", "p.txt", F, V2, "--in-place"], "nothing"),
    # the third rename of four: the two targets already replaced are put back
    ("rename,renameat2", 3, ["apply", "p.txt", F, V2, "tq6420_ddr_v1.bin", L, "--in-place"], "nothing"),
    ("fsync", 2, ["set", F, "ddr3_freq=800", "--in-place"], "all"),  # the directory, once renamed
    ("renameat2", 1, ["set", F, "ddr3_freq=800", "-o", "new.bin"], "nothing"),  # published
]


@linux_only("strace")
@pytest.mark.skipif(not shutil.which("strace"), reason="strace is not installed")
@pytest.mark.parametrize("call,when,args,written", FAULTS)
@pytest.mark.parametrize("fault", ["error=EIO", "signal=SIGTERM"])
def test_a_failed_write_leaves_every_target_as_it_was(work, call, when, args, written, fault):
    before = snapshot(work)
    r = run("strace", "-f", "-o", "/dev/null", "-e", f"trace={call}", "-e", f"inject={call}:{fault}:when={when}",
            DIST / "resource/tools/vexdram", *args)
    assert r.returncode != 0
    assert not leftovers(work)
    if fault == "error=EIO":
        assert r.returncode == 2 and len(r.stderr.splitlines()) == 1 and r.stdout == "", r.stderr
        if written == "nothing":
            assert snapshot(work) == before
        else:
            assert "written, but" in r.stderr and vexdram("get", F, "ddr3_freq").stdout == "800\n"
        return
    # Killed at that step: each target is as it was, or whole with its new values (the signal came
    # during the renames, which it waits for).
    for name, data in snapshot(work).items():
        if data != before.get(name):
            assert vexdram("get", name, "ddr3_freq", "--chip", "tq6951").stdout in ("800\n", "933\n"), name


# Where the file system lacks a call (an error injected for it), publishing and replacing take the
# next way: (injected, command, status). Replacing keeps each target but the last until all are in
# place: by exchanging two names, else by a second name, else not at all.
SET = ["set", F, "ddr3_freq=800"]
BOTH = ["apply", "p.txt", F, V2, "--in-place"]
FALLBACKS = [
    (["renameat2:error=EINVAL"], SET + ["-o", "new.bin"], 0),  # no RENAME_NOREPLACE: a hard link
    (["renameat2:error=EINVAL", "linkat:error=EPERM:when=2"], SET + ["-o", "new.bin"], 0),  # nor links: O_EXCL
    (["renameat2:error=EINVAL", "linkat:error=EPERM:when=2", "renameat:error=EIO"], SET + ["-o", "new.bin"], 2),
    (["renameat2:error=EINVAL"], BOTH, 0),  # no RENAME_EXCHANGE: a second name
    (["renameat2:error=EINVAL", "renameat:error=EIO:when=2"], BOTH, 2),  # put back from the second name
    (["renameat2:error=EINVAL", "linkat:error=EPERM:when=2"], BOTH, 0),  # nor that: not kept
]


@linux_only("strace")
@pytest.mark.skipif(not shutil.which("strace"), reason="strace is not installed")
@pytest.mark.parametrize("injected,args,status", FALLBACKS)
def test_a_file_system_without_a_call_is_written_another_way(work, injected, args, status):
    before = snapshot(work)
    inject = [a for i in injected for a in ("-e", f"inject={i}")]
    r = run("strace", "-f", "-o", "/dev/null", *inject, DIST / "resource/tools/vexdram", *args)
    assert r.returncode == status, r.stderr
    assert not leftovers(work)
    if status:
        assert snapshot(work) == before
    else:
        for name in ["new.bin"] if "-o" in args else args[2:-1]:
            assert vexdram("get", name, "ddr3_freq", "--chip", "tq6951").stdout in ("800\n", "933\n")


def leftovers(folder):
    return [p for p in os.listdir(folder) if "vexdram-" in p or ".lock" in p]


def start(*args, via=()):
    return subprocess.Popen([*via, *COMMAND, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def small_file_limit():
    import resource
    resource.setrlimit(resource.RLIMIT_FSIZE, (1024, 1024))  # the new binary is 3 692 bytes


LONG = "a" * (255 - len("_tq6951.bin")) + "_tq6951.bin"  # as long as a name may be


def char_device(work):
    """A character device as OUT: a node of our own when we may make one, else /dev/null."""
    if os.geteuid() != 0:
        return "/dev/null"
    os.mknod(work / "null", 0o666 | stat.S_IFCHR, os.makedev(1, 3))
    return str(work / "null")


# what the target is made of, the arguments after FILE, status, a piece of standard error
TARGETS = [
    ("char device", lambda w: char_device(w), ["-o", "{}", "--force"], 2, "not a regular file"),
    ("FIFO", lambda w: (os.mkfifo(w / "out.fifo"), "out.fifo")[1], ["-o", "{}", "--force"], 2, "not a regular file"),
    ("symlink to a directory", lambda w: (os.symlink(w / "dir", "dirlink"), "dirlink")[1], ["-o", "{}", "--force"],
     2, "is a directory"),
    ("255-byte name in place", lambda w: shutil.copy(F, LONG), ["--in-place"], 0, ""),
    ("255-byte OUT", lambda w: LONG, ["-o", "{}"], 0, ""),
    ("ulimit -f", lambda w: F, ["--in-place"], 2, "cannot write the new file: File too large"),
]


@pytest.mark.parametrize("what,make,args,status,err", TARGETS, ids=[t[0] for t in TARGETS])
def test_writer_targets(work, what, make, args, status, err):
    if EXE and what in ("char device", "FIFO", "ulimit -f"):
        pytest.skip(f"Linux only: a {what}")
    target = make(work)
    source = LONG if what == "255-byte name in place" else F
    node = lambda: os.lstat(target) if target and os.path.lexists(target) else None  # noqa: E731
    before, files = node(), snapshot(work)
    limit = small_file_limit if what == "ulimit -f" else None
    r = vexdram("set", source, "ddr3_freq=800", *[a.format(target) for a in args], preexec_fn=limit)
    assert r.returncode == status, r.stderr
    assert err in r.stderr and len(r.stderr.splitlines()) == (1 if status else 0)
    assert not leftovers(work)
    if status:
        assert node() == before and snapshot(work) == files  # the node and every file untouched
    else:
        assert vexdram("get", target, "ddr3_freq").stdout == "800\n"


def rewrite_keeping_its_time():
    """What `cp -p` or `touch -r` leave: other bytes, the same size, the modification time put back
    (only the change time tells)."""
    st = os.stat(F)
    with open(F, "r+b") as f:
        first = f.read(1)
        f.seek(0)
        f.write(bytes([first[0] ^ 0xFF]))
    os.utime(F, ns=(st.st_atime_ns, st.st_mtime_ns))


@linux_only("strace")
@pytest.mark.skipif(not shutil.which("strace"), reason="strace is not installed")
@pytest.mark.parametrize("args,meanwhile,err", [
    (["--in-place"], lambda: open(F, "ab").write(b"appended"), f"{F}: changed while it was being edited"),
    (["--in-place"], rewrite_keeping_its_time, f"{F}: changed while it was being edited"),
    (["-o", "new.bin"], lambda: open("new.bin", "wb").write(b"appended"), "new.bin: exists: give --force"),
], ids=["appended", "same size, time put back", "OUT made"])
def test_what_another_program_writes_meanwhile_is_kept(work, args, meanwhile, err):
    # The run is held at its sync for two seconds, once its new file is written (the input was
    # read); the other program writes then.
    run_ = start("set", F, "ddr3_freq=800", *args, via=["strace", "-f", "-o", "/dev/null", "-e", "trace=fsync",
                                                        "-e", "inject=fsync:delay_enter=2000000"])
    import time
    written = F if "--in-place" in args else "new.bin"
    new_file = written + ".lock.new"
    deadline = time.monotonic() + 10
    while not (os.path.exists(new_file) and os.path.getsize(new_file)) and time.monotonic() < deadline:
        time.sleep(0.005)
    meanwhile()
    theirs = open(written, "rb").read()
    out, message = run_.communicate()
    assert run_.returncode == 2 and err in message and out == ""
    assert open(written, "rb").read() == theirs and not leftovers(work)


# a file name, and how a message writes it
NAMES = [(b"bad\xff_tq6951.bin", b"bad\xff_"), (b"two\nlines_tq6951.bin", b"two\\nlines"),
         (b"esc\x1b[31m_tq6951.bin", b"esc\\x1b[31m"), (b"c1\xc2\x9b_tq6951.bin", b"c1\\xc2\\x9b"),
         (b"del\x7f_tq6951.bin", b"del\\x7f"), (b"raw\x9b_tq6951.bin", b"raw\\x9b")]


def only_text(message):
    """True when every byte of message is text: no control character but the line feeds, no DEL, no
    C1 control, whether encoded as UTF-8 or a raw byte that is no UTF-8."""
    for ch in message.decode("utf-8", errors="surrogateescape"):
        o = ord(ch)
        if 0xDC80 <= o <= 0xDCFF:  # a byte that is not UTF-8
            if 0x80 <= o - 0xDC00 <= 0x9F:
                return False
        elif (o < 0x20 and ch != "\n") or 0x7F <= o <= 0x9F:
            return False
    return True


@linux_only("names of any bytes (Windows names are UTF-16 without control characters)")
@pytest.mark.parametrize("name,written", NAMES, ids=["invalid UTF-8", "newline", "ESC", "C1 CSI", "DEL", "raw C1"])
def test_any_file_name_gives_valid_json_and_one_line_messages(work, name, written):
    import json
    shutil.copy(F, os.fsencode(work) + b"/" + name)
    tool = os.fsencode(DIST / "resource/tools/vexdram")
    call = lambda *a: subprocess.run([tool, *[x if isinstance(x, bytes) else x.encode() for x in a]],  # noqa: E731
                                     capture_output=True)
    shown = json.loads(call("show", name, "--json").stdout.decode())
    assert shown["file"] == name.decode(errors="replace")
    assert json.loads(call("diff", name, F, "--json").stdout.decode())["same"]
    for r in (call("set", name, "nosuch=1", "--dry-run"), call("show", name + b".missing"), call(name)):
        assert r.returncode == 2
        assert only_text(r.stderr) and written in r.stderr.split(b"\n")[0], r.stderr
        assert r.stderr.count(b"\n") == 1 or b"Usage" in r.stderr
    changes = call("apply", "p.txt", name, F, "--dry-run").stdout.decode(errors="replace").splitlines()
    assert len(changes) == 2 and changes[1] == f"{F}: ddr3_freq: 1056 -> 933"


@pytest.mark.parametrize("epoch", ["abc", "-5", "", "4294967296"])
def test_a_source_date_epoch_that_is_no_time_is_refused(work, epoch):
    r = vexdram("set", L, "ddr3_freq=800", "-o", "new.bin", env=dict(os.environ, SOURCE_DATE_EPOCH=epoch))
    assert r.returncode == 2 and f"SOURCE_DATE_EPOCH='{epoch}' is not a number of seconds" in r.stderr
    assert not os.path.exists("new.bin") and not leftovers(work)


def closed_pipe():
    read_end, write_end = os.pipe()
    os.close(read_end)  # nobody reads: a write fails (EPIPE), or SIGPIPE ends the writer
    return os.fdopen(write_end, "w")


@linux_only("/dev/full and SIGPIPE")
@pytest.mark.parametrize("output,args,err", [
    ("/dev/full", ["--help"], "cannot write to standard output"),
    ("/dev/full", ["--version"], "cannot write to standard output"),
    ("/dev/full", ["set", "--help"], "cannot write to standard output"),
    ("closed pipe", ["get", F, "ddr3_freq"], "cannot write to standard output"),
    ("closed pipe", ["set", F, "ddr3_freq=800", "--in-place"],
     "written, but the changes could not be printed on standard output"),
])
def test_a_full_or_closed_standard_output_is_trouble(work, output, args, err):
    with (open(output, "w") if output == "/dev/full" else closed_pipe()) as out:
        r = subprocess.run([DIST / "resource/tools/vexdram", *args], stdout=out, stderr=subprocess.PIPE, text=True)
    assert r.returncode == 2 and err in r.stderr  # never ended by SIGPIPE (141)
    if "set" in args and "--in-place" in args:
        assert vexdram("get", F, "ddr3_freq").stdout == "800\n" and not leftovers(work)


def test_a_container_keeps_its_alignment(work):
    tools = DIST / "resource/tools"
    run(tools / "imgwelder", "unpack", "-i", L, "-o", "parts", check=True)
    run(tools / "imgwelder", "pack", "-c", "-TQ6951", "-v", "2.1", "-a", "512", "-1", "parts/ddr.bin", "-2",
        "parts/usbplug.bin", "-3", "parts/FlashData.bin", "-3", "parts/FlashBoot.bin", "-o", "tq6951_a512.bin",
        check=True)
    r = vexdram("set", "tq6951_a512.bin", "ddr3_freq=800", "-o", "new.bin")
    assert r.returncode == 0, r.stderr
    new = open("new.bin", "rb").read()
    assert struct.unpack_from("<I", new, 48)[0] == 512
    assert vexdram("get", "new.bin", "ddr3_freq", "--chip", "tq6951").stdout == "800\n"


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
