"""vexdram's locks: held by the kernel for as long as their run lives, respected from every PID
namespace, removed only by a run that needs them and finds them held by nobody, never left by a
caught signal; what is at a lock's name and is no lock is left alone; a few descriptors for any
number of targets."""
import os
import re
import resource
import shutil
import signal
import time

import pytest

from conftest import COMMAND, DIST, linux_only, run, vexdram
from test_cli import F, L, V2, leftovers, snapshot, start, work  # noqa: F401 (work: the fixture)

VEXDRAM = DIST / "resource/tools/vexdram"
has_strace = pytest.mark.skipif(not shutil.which("strace"), reason="strace is not installed")


def strace(*faults):
    """strace, quiet, with these faults injected (each "call:what")."""
    calls = ",".join(sorted({f.split(":")[0] for f in faults}))
    return ["strace", "-f", "-o", "/dev/null", "-e", f"trace={calls}", *[a for f in faults for a in ("-e", f"inject={f}")]]


def wait_until(ready, seconds=10):
    deadline = time.monotonic() + seconds
    while not ready() and time.monotonic() < deadline:
        time.sleep(0.005)
    return ready()


def written(name):
    """True once the run's new file beside name is written (the run holds its lock)."""
    new = f"{name}.lock.new"
    return os.path.exists(new) and os.path.getsize(new) > 0


def locked(path):
    """True when the kernel shows a lock on the file at path (from this PID namespace)."""
    st = os.stat(path)
    key = f"{os.major(st.st_dev):02x}:{os.minor(st.st_dev):02x}:{st.st_ino} "
    return any(" FLOCK " in line and key in line for line in open("/proc/locks"))


def values(name=F):
    return vexdram("get", name, "ddr3_freq", "lp4_freq", "--chip", "tq6951").stdout.split()


def test_concurrent_runs_lose_nothing_reported_done(work):
    """Pairs of runs on one file in place (failing on the lock, then waiting for it), then pairs
    writing one new OUT: every run that returns 0 has its value in the final file, and of two -o
    runs at most one succeeds."""
    held = ("is writing", "holds the lock on", "changed while it was being edited")
    for i in range(60):
        wait = ["--wait", "20"] if i >= 50 else []  # then every run must succeed
        pair = [start("set", F, edit, "--in-place", *wait) for edit in (f"ddr3_freq={800 + i}", f"lp4_freq={1200 + i}")]
        results = [(p.wait(), p.communicate()) for p in pair]
        got = values()
        for (status, (out, err)), key, value in zip(results, ("ddr3_freq", "lp4_freq"), (800 + i, 1200 + i)):
            if status == 0:
                assert got[key == "lp4_freq"] == str(value) and out.endswith(f" -> {value}\n")
            else:
                assert not wait and status == 2 and any(h in err for h in held) and out == "", err
    for i in range(20):
        statuses = [p.wait() for p in [start("set", F, f"ddr3_freq={700 + j}", "-o", "new.bin") for j in (0, 1)]]
        assert statuses.count(0) <= 1 and set(statuses) <= {0, 2}
        if 0 in statuses:
            value = 700 + statuses.index(0)
            assert vexdram("get", "new.bin", "ddr3_freq", "--chip", "tq6951").stdout == f"{value}\n"
        os.unlink("new.bin")
    assert not leftovers(work)


def unshare_allowed():
    try:
        return run("unshare", "-p", "-f", "--mount-proc", "true").returncode == 0
    except OSError:
        return False


INNER = ["unshare", "-p", "-f", "--mount-proc"]  # another PID namespace, its own /proc


@linux_only("PID namespaces and strace")
@has_strace
@pytest.mark.parametrize("holder_in,other_in", [([], []), (INNER, []), ([], INNER)],
                         ids=["one namespace", "holder in another", "second run in another"])
def test_a_lock_is_respected_from_every_pid_namespace(work, holder_in, other_in):
    if (holder_in or other_in) and not unshare_allowed():
        pytest.skip("unshare -p -f --mount-proc is not allowed here")
    # The holder is held at its sync, its lock taken and its new file written.
    holder = start("set", F, "ddr3_freq=800", "--in-place",
                   via=[*holder_in, *strace("fsync:delay_enter=2000000:when=1")])
    assert wait_until(lambda: written(F))
    other = run(*other_in, *COMMAND, "set", F, "lp4_freq=1200", "--in-place")
    named = re.search(r"another vexdram run \(process (\d+)\) is writing", other.stderr)
    comm = open(f"/proc/{named[1]}/comm").read() if named and os.path.exists(f"/proc/{named[1]}") else None
    out, err = holder.communicate()
    assert holder.returncode == 0, err
    assert other.returncode == 2 and other.stderr.startswith(f"vexdram: {F}.lock: "), other.stderr
    if other_in:  # the holder is not seen from there: no process named
        assert not named and f"another run holds the lock on {F}" in other.stderr
    else:  # the holder, by its number here
        assert named and comm == "vexdram\n", other.stderr
    assert values() == ["800", "1560"] and not leftovers(work)


def killed(*args):
    """Runs vexdram killed with SIGKILL at its first sync, its new files written: it leaves its
    locks behind, each marked with the process number 1 as an older vexdram marked its own (a
    number taken again by another process)."""
    r = run(*strace("fsync:signal=SIGKILL:when=1", "syncfs:signal=SIGKILL:when=1"), VEXDRAM, *args)
    assert r.returncode == -signal.SIGKILL and leftovers(".")
    for name in leftovers("."):
        try:
            os.setxattr(name, "user.vexdram.pid", b"1")
        except OSError:
            pass


@linux_only("strace, /proc/locks")
@has_strace
@pytest.mark.parametrize("case", ["alone", "two of its locks at once", "one held inside its sweep"])
def test_a_lock_left_by_a_killed_run_is_swept_naming_no_one(work, case):
    if case == "alone":
        killed("set", F, "ddr3_freq=801", "--in-place")
        r = vexdram("set", F, "ddr3_freq=800", "--in-place")
        assert r.returncode == 0 and r.stderr == "", r.stderr
        assert values()[0] == "800"
    elif case == "two of its locks at once":
        # Every lock of a run is a name of one file: a run sweeping one holds it a moment while
        # another sweeps the other, which must not take that for a live run (no --wait).
        killed("apply", "p.txt", F, V2, "--in-place")
        dead = f"{F}.lock"
        first = start("set", F, "ddr3_freq=800", "--in-place", via=strace("flock:delay_exit=150000:when=2"))
        assert wait_until(lambda: locked(dead))
        second = vexdram("set", V2, "ddr3_freq=801", "--in-place")
        out, err = first.communicate()
        assert first.returncode == 0 and second.returncode == 0, (err, second.stderr)
        assert values()[0] == "800" and vexdram("get", V2, "ddr3_freq").stdout == "801\n"
    else:
        # The first run is held between its look at the dead lock and its removal; a second run
        # opens the dead lock meanwhile, and must never remove the lock the first makes after.
        killed("set", F, "ddr3_freq=801", "--in-place")
        dead = f"{F}.lock"
        first = start("set", F, "ddr3_freq=800", "--in-place", "--wait", "10",
                      via=strace("unlinkat:delay_enter=300000:when=1"))
        assert wait_until(lambda: locked(dead))
        second = start("set", F, "lp4_freq=1200", "--in-place", "--wait", "10")
        results = [(p.wait(), p.communicate()) for p in (first, second)]
        assert [s for s, _ in results] == [0, 0], results
        assert values() == ["800", "1200"]
    assert not leftovers(work)


@pytest.mark.parametrize("what", ["directory", "FIFO", "symlink to the target", "symlink to nothing"])
def test_what_stands_at_a_lock_name_and_is_no_lock_is_left_alone(work, what):
    if os.environ.get("VEXDRAM_EXE") and what != "directory":
        pytest.skip(f"Linux only: a {what}")
    lock = f"{F}.lock"
    {"directory": lambda: os.mkdir(lock), "FIFO": lambda: os.mkfifo(lock),
     "symlink to the target": lambda: os.symlink(F, lock), "symlink to nothing": lambda: os.symlink("nowhere", lock),
     }[what]()
    before, node = snapshot(work), os.lstat(lock)
    r = vexdram("set", F, "ddr3_freq=800", "--in-place", "--wait", "0.1")
    assert r.returncode == 2 and f"{lock}: not a regular file, so no lock of vexdram's" in r.stderr, r.stderr
    assert os.lstat(lock) == node and snapshot(work) == before and not os.path.exists(f"{F}.lock.new")


@linux_only("strace")
@has_strace
@pytest.mark.parametrize("name,call,sig", [(".lock", "linkat", "TERM"), (".lock", "unlinkat", "INT"),
                                           (".lock.new", "openat", "HUP"), (".lock.new", "renameat", "TERM")],
                         ids=["lock made", "lock removed", "new file made", "renamed"])
def test_a_signal_on_the_lock_or_the_new_file_leaves_neither(work, name, call, sig):
    # The first such call on that name (-P): the signal comes as it returns.
    r = run("strace", "-f", "-o", "/dev/null", "-P", F + name, "-e", f"inject={call}:signal=SIG{sig}:when=1",
            VEXDRAM, "set", F, "ddr3_freq=800", "--in-place")
    assert r.returncode == -getattr(signal, f"SIG{sig}"), r.stderr
    assert not leftovers(work) and values()[0] in ("1056", "800")
    assert vexdram("set", F, "ddr3_freq=801", "--in-place").returncode == 0


@linux_only("a limit on descriptors (RLIMIT_NOFILE), strace")
@has_strace
@pytest.mark.parametrize("links,limits,status", [(True, (24, 24), 0), (False, (24, 24), 2), (False, (24, 1024), 0)],
                         ids=["hard links", "no hard links, hard limit 24", "no hard links, hard limit 1024"])
def test_apply_over_300_files_within_24_descriptors(work, links, limits, status):
    (work / "many").mkdir()
    for i in range(300):
        shutil.copy(F, work / "many" / f"tq6951_{i}.bin")
    before = snapshot(work / "many")
    via = [] if links else strace("linkat:error=EPERM")  # a file system without hard links (FAT)
    r = run(*via, VEXDRAM, "apply", "p.txt", *sorted((work / "many").iterdir()), "--in-place",
            preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, limits))
    assert r.returncode == status, r.stderr
    assert not leftovers(work / "many")
    if status:
        assert "too many targets at once" in r.stderr and "(ulimit -n); nothing written" in r.stderr
        assert len(r.stderr.splitlines()) == 1 and snapshot(work / "many") == before
    else:
        assert vexdram("get", work / "many" / "tq6951_299.bin", "ddr3_freq").stdout == "933\n"


@linux_only("strace")
@has_strace
def test_a_folder_renamed_during_a_run_keeps_no_lock(work):
    os.mkdir("sub")
    shutil.copy(F, f"sub/{F}")
    held = start("set", f"sub/{F}", "ddr3_freq=800", "--in-place", via=strace("fsync:delay_enter=1000000:when=1"))
    assert wait_until(lambda: written(f"sub/{F}"))
    os.rename("sub", "moved")
    out, err = held.communicate()
    assert held.returncode in (0, 2) and not leftovers("moved"), err
    assert vexdram("get", f"moved/{F}", "ddr3_freq").stdout == ("800\n" if held.returncode == 0 else "1056\n")
