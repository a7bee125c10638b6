"""What only Windows has: the programs stand alone (system DLLs only, PE32+ console programs), a
target replaced over an existing file, a target another program holds open, a read-only target,
names outside ASCII and with spaces, several names of one file, device names (image names and
reports too), an unpack that cannot finish, a command line as typed, the console's interrupts,
output that needs no temporary folder; for vexdram_tool.exe, imgwelder.exe and vexdram.exe."""
import os
import shutil
import signal
import struct
import subprocess
import time
import zlib

import pytest

from conftest import BUILD_WIN, REPO, WINDOWS, WINE, WINE_ENV, run, wine_runs, with_values

OBJDUMP = shutil.which("x86_64-w64-mingw32-objdump")
# what every Windows x64 has in System32; the C runtime is the system's msvcrt (or the UCRT)
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll", "advapi32.dll", "ntdll.dll",
               "ucrtbase.dll"}


@pytest.mark.skipif(not OBJDUMP, reason="needs x86_64-w64-mingw32-objdump (binutils-mingw-w64)")
@pytest.mark.parametrize("program", WINDOWS)
def test_imports_system_dlls_only(program):
    headers = subprocess.run([OBJDUMP, "-p", str(WINDOWS[program])], capture_output=True, text=True,
                             check=True).stdout
    dlls = {line.split(":", 1)[1].strip().lower() for line in headers.splitlines() if "DLL Name:" in line}
    print(program, sorted(dlls))
    assert dlls and all(d in SYSTEM_DLLS or d.startswith("api-ms-win-crt-") for d in dlls), dlls
    assert "Magic\t\t\t020b" in headers  # PE32+
    assert "Subsystem\t\t00000003\t(Windows CUI)" in headers


def pack_into(work, out):
    """imgwelder.exe packs the sample loader's images (unpacked into work/images) into out."""
    shutil.copy(REPO / "examples" / "tq6951_loader.bin", work / "sample.bin")
    assert run("linux", "imgwelder", "unpack", "-i", "sample.bin", "-o", "images", cwd=work)[0] == 0
    return run("windows", "imgwelder", "pack", "-c", "-TQ6951", "-1", "images/ddr.bin", "-2", "images/usbplug.bin",
               "-3", "images/FlashData.bin", "-3", "images/FlashBoot.bin", "-o", out, cwd=work)


def modify(work, name, values):
    (work / "p.txt").write_text(with_values(values))
    return run("windows", "vexdram_tool", "tq6951", "p.txt", name, cwd=work)


def test_unicode_names_and_spaces(tmp_path):
    """A binary, a report and a parameter file named outside ASCII in a folder with a space, as
    the Linux program reads and writes the same names."""
    folder = "板卡 files"
    seen = {}
    for system in ("linux", "windows"):
        work = tmp_path / system / folder
        work.mkdir(parents=True)
        shutil.copy(REPO / "examples" / "tq6951_ddr_v5.bin", work / "板卡_ddr.bin")
        (work / "参数 file.txt").write_text(with_values({"ddr3_freq": "1066", "lp4_freq": "0x640"}))
        base = tmp_path / system
        report = run(system, "vexdram_tool", "tq6951", "-g", f"{folder}/报告 v5.txt", f"{folder}/板卡_ddr.bin", cwd=base)
        changed = run(system, "vexdram_tool", "tq6951", f"{folder}/参数 file.txt", f"{folder}/板卡_ddr.bin", cwd=base)
        missing = run(system, "vexdram_tool", "tq6951", "-g", "r.txt", f"{folder}/缺.bin", cwd=base)
        seen[system] = report, changed, missing, {p.name: p.read_bytes() for p in work.iterdir()}
    assert seen["windows"] == seen["linux"]
    assert "报告 v5.txt" in seen["windows"][3] and b"modify end" in seen["windows"][1][1]
    assert "open tq6951_ddr_v5" not in seen["windows"][2][1].decode() and "缺.bin" in seen["windows"][2][1].decode()


def test_replace_over_an_existing_target(tmp_path):
    """imgwelder pack and unpack put complete files over the ones there, leaving no temporary."""
    shutil.copy(REPO / "examples" / "tq6951_loader.bin", tmp_path / "loader.bin")
    (tmp_path / "new.img").write_bytes(b"old")
    (tmp_path / "out").mkdir()
    (tmp_path / "out" / "ddr.bin").write_bytes(b"old")
    assert run("windows", "imgwelder", "unpack", "-i", "loader.bin", "-o", "out", cwd=tmp_path)[0] == 0
    assert (tmp_path / "out" / "ddr.bin").stat().st_size == 3692
    status, out, _ = pack_into(tmp_path, "new.img")
    assert status == 0, out
    assert (tmp_path / "new.img").read_bytes()[:4] == b"BOOT"
    assert not [p.name for p in tmp_path.rglob(".imgwelder-*")]


@pytest.fixture
def held(tmp_path):
    """Holds a file in another Windows program until the test ends: open with no sharing, or
    ("--lock") locked as a live vexdram run holds its lock."""
    helper = BUILD_WIN / "tests" / "windows" / "hold_file.exe"
    if not helper.exists():
        pytest.skip(f"no {helper}")
    holders = []

    def hold(path, *how, again=True):
        p = subprocess.Popen([WINE, str(helper), *how, str(path)], env=WINE_ENV, stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if p.stdout.readline().rstrip() != b"held":
            err = p.communicate()[1]
            assert again and wine_runs.wine_failed(err), err
            wine_runs.note(p.args, err)
            return hold(path, *how, again=False)
        holders.append(p)

    yield hold
    for p in holders:
        p.stdin.close()
        p.wait(timeout=30)


def test_a_target_held_open_by_another_program(tmp_path, held):
    """A sharing violation is a refusal: the binary and the container stay as they are, and no
    temporary file is left."""
    shutil.copy(REPO / "examples" / "tq6951_ddr_v5.bin", tmp_path / "a.bin")
    shutil.copy(REPO / "examples" / "tq6951_loader.bin", tmp_path / "loader.bin")
    before = {p.name: p.read_bytes() for p in tmp_path.iterdir()}
    held(tmp_path / "a.bin")
    held(tmp_path / "loader.bin")
    status, out, _ = modify(tmp_path, "a.bin", {"ddr3_freq": "1066"})
    assert (status, out.splitlines()[-1]) == (0, b"open a.bin failed!")
    status, out, _ = pack_into(tmp_path, "loader.bin")
    assert (status, out) == (1, b"Error: cannot write loader.bin\n")
    assert {p.name: p.read_bytes() for p in tmp_path.iterdir() if p.is_file() and p.name in before} == before
    assert not list(tmp_path.glob(".imgwelder-*"))


def test_a_read_only_target(tmp_path):
    """A read-only binary is reported. A read-only container: Windows refuses to move a file over
    it (imgwelder says it cannot write it), Wine running as root here replaces it; either way the
    target is whole, old or new, and no temporary is left."""
    shutil.copy(REPO / "examples" / "tq6951_ddr_v5.bin", tmp_path / "a.bin")
    (tmp_path / "a.bin").chmod(0o444)
    status, out, _ = run("windows", "vexdram_tool", "tq6951", "-g", "r.txt", "a.bin", cwd=tmp_path)
    assert status == 0 and (tmp_path / "r.txt").read_text().startswith("start tag=0x12345678")
    (tmp_path / "old.img").write_bytes(b"old")
    (tmp_path / "old.img").chmod(0o444)
    status, out, _ = pack_into(tmp_path, "old.img")
    now = (tmp_path / "old.img").read_bytes()
    assert (status, out, now) == (1, b"Error: cannot write old.img\n", b"old") or (status, now[:4]) == (0, b"BOOT")
    assert not list(tmp_path.glob(".imgwelder-*"))


def vexdram(work, *args):
    return run("windows", "vexdram", *args, cwd=work)


def test_vexdram_names_outside_ascii_and_with_spaces(tmp_path):
    """vexdram.exe reads, writes and names such files as vexdram does on Linux."""
    folder = "板卡 files"
    seen = {}
    for system in ("linux", "windows"):
        work = tmp_path / system / folder
        work.mkdir(parents=True)
        shutil.copy(REPO / "examples" / "tq6951_ddr_v5.bin", work / "板卡_tq6951.bin")
        base = tmp_path / system
        runs = [run(system, "vexdram", *args, cwd=base) for args in (
            ["show", f"{folder}/板卡_tq6951.bin", "--json"],
            ["set", f"{folder}/板卡_tq6951.bin", "ddr3_freq=800", "-o", f"{folder}/新 板卡_tq6951.bin"],
            ["set", f"{folder}/板卡_tq6951.bin", "lp4_freq=0x640", "--in-place"],
            ["show", f"{folder}/缺_tq6951.bin"])]
        seen[system] = runs, {p.name: p.read_bytes() for p in work.iterdir()}
    assert seen["windows"] == seen["linux"]
    assert '"file": "板卡 files/板卡_tq6951.bin"' in seen["windows"][0][0][1].decode()
    assert set(seen["windows"][1]) == {"板卡_tq6951.bin", "新 板卡_tq6951.bin"}


def test_vexdram_replaces_an_existing_target(tmp_path):
    """With --force a new file takes the place of the one there; in place the binary itself is
    replaced; no lock is left."""
    shutil.copy(REPO / "examples" / "tq6951_ddr_v5.bin", tmp_path / "tq6951_a.bin")
    (tmp_path / "out.bin").write_bytes(b"old")
    assert vexdram(tmp_path, "set", "tq6951_a.bin", "ddr3_freq=800", "-o", "out.bin")[:3:2] == (
        2, b"vexdram: out.bin: exists: give --force to replace it\n")
    assert vexdram(tmp_path, "set", "tq6951_a.bin", "ddr3_freq=800", "-o", "out.bin", "--force")[0] == 0
    assert vexdram(tmp_path, "set", "tq6951_a.bin", "ddr3_freq=801", "--in-place")[0] == 0
    assert vexdram(tmp_path, "get", "out.bin", "ddr3_freq", "--chip", "tq6951")[1] == b"800\n"
    assert vexdram(tmp_path, "get", "tq6951_a.bin", "ddr3_freq")[1] == b"801\n"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["out.bin", "tq6951_a.bin"]


def test_vexdram_target_held_open_by_another_program(tmp_path, held):
    """A binary another program holds without sharing is refused, naming it: in place it cannot be
    read, and as OUT it cannot be replaced. Every file stays as it was and no lock is left."""
    shutil.copy(REPO / "examples" / "tq6951_ddr_v5.bin", tmp_path / "tq6951_a.bin")
    shutil.copy(REPO / "examples" / "tq6951_ddr_v5.bin", tmp_path / "tq6951_out.bin")
    before = {p.name: p.read_bytes() for p in tmp_path.iterdir()}
    held(tmp_path / "tq6951_a.bin")
    status, out, err = vexdram(tmp_path, "set", "tq6951_a.bin", "ddr3_freq=800", "--in-place")
    assert (status, out, err) == (2, b"", b"vexdram: tq6951_a.bin: cannot open: Device or resource busy: another program "
                                          b"has it open and does not share it\n")
    held(tmp_path / "tq6951_out.bin")
    shutil.copy(REPO / "examples" / "tq6951_ddr_v5.bin", tmp_path / "tq6951_b.bin")
    before["tq6951_b.bin"] = (tmp_path / "tq6951_b.bin").read_bytes()
    status, out, err = vexdram(tmp_path, "set", "tq6951_b.bin", "ddr3_freq=800", "-o", "tq6951_out.bin", "--force")
    assert (status, out, err) == (2, b"", b"vexdram: tq6951_out.bin: cannot rename the new file into place: Device or "
                                          b"resource busy: another program has it open and does not share it; nothing written\n")
    assert {p.name: p.read_bytes() for p in tmp_path.iterdir()} == before


def test_vexdram_read_only_target(tmp_path):
    """A read-only binary is refused in place without --force, as on Linux. With --force Windows
    refuses to move a file over it, Wine running as root replaces it: either way the binary is
    whole, old or new, and no lock is left."""
    shutil.copy(REPO / "examples" / "tq6951_ddr_v5.bin", tmp_path / "tq6951_ro.bin")
    (tmp_path / "tq6951_ro.bin").chmod(0o444)
    assert vexdram(tmp_path, "set", "tq6951_ro.bin", "ddr3_freq=800", "--in-place") == (
        2, b"", b"vexdram: tq6951_ro.bin: is read-only (no write bit for anyone): give --force to replace it in place\n")
    status, _, err = vexdram(tmp_path, "set", "tq6951_ro.bin", "ddr3_freq=800", "--in-place", "--force")
    value = vexdram(tmp_path, "get", "tq6951_ro.bin", "ddr3_freq")[1]
    assert (status, value) == (0, b"800\n") or (status, value) == (2, b"1056\n"), err
    assert [p.name for p in tmp_path.iterdir()] == ["tq6951_ro.bin"]


def renamed(loader, name):
    """The sample container with its second loader image (FlashBoot.bin) named `name`."""
    data = bytearray(loader)
    count, offset = struct.unpack_from("<BI", data, 25 + 2 * 6)
    assert count == 2
    data[offset + 57 + 5:offset + 57 + 45] = name.encode().ljust(40, b"\0")
    data[-4:] = struct.pack("<I", zlib.crc32(bytes(data[:-4])))
    return bytes(data)


# What the container's last image is called, or what stands at its name in the output folder.
UNPACKS = [("FlashData.bin.", None), ("NUL", None), ("Com1.txt", None), ("lpt9.tar.gz", None),
           ("FlashBoot.bin", "folder"), ("FlashBoot.bin", "held")]


@pytest.mark.parametrize("name,there", UNPACKS, ids=[f"{n} {t or ''}" for n, t in UNPACKS])
def test_unpack_is_all_or_nothing(tmp_path, request, name, there):
    """A name Windows would fold into another's or keeps for a device is refused before anything
    is written, on every system; an image that cannot be put in place (a folder of its name, a
    file another program holds) fails the unpack with every file in the folder as it was."""
    container = renamed((REPO / "examples" / "tq6951_loader.bin").read_bytes(), name)
    seen = {}
    for system in ("linux", "windows") if there != "held" else ("windows",):
        work = tmp_path / system
        (work / "out").mkdir(parents=True)
        (work / "c.bin").write_bytes(container)
        for old in ("ddr.bin", "usbplug.bin"):
            (work / "out" / old).write_bytes(b"old")
        if there == "folder":
            (work / "out" / name).mkdir()
        elif there == "held":
            (work / "out" / name).write_bytes(b"old")
            request.getfixturevalue("held")(work / "out" / name)
        before = {p.name: p.read_bytes() if p.is_file() else None for p in (work / "out").iterdir()}
        status, out, _ = run(system, "imgwelder", "unpack", "-i", "c.bin", "-o", "out", cwd=work)
        after = {p.name: p.read_bytes() if p.is_file() else None for p in (work / "out").iterdir()}
        assert after == before, (system, out)
        seen[system] = status, out
    want = b"Error: unsafe image name in loader entry 1\n" if there is None else f"Error: cannot write out/{name}\n".encode()
    assert set(seen.values()) == {(1, want)}, seen


# arguments after the chip, and the one that names a device
DEVICES = [(["-g", "nul.txt", "a.bin"], "nul.txt"), (["-g", "com1.txt", "a.bin"], "com1.txt"), (["-g", "NUL", "a.bin"], "NUL"),
           (["-g", "folder/Aux.Bin", "a.bin"], "folder/Aux.Bin"), (["nul.txt", "a.bin"], "nul.txt")]


@pytest.mark.parametrize("args,device", DEVICES, ids=[" ".join(a) for a, _ in DEVICES])
def test_names_of_devices_are_no_files_to_vexdram_tool(tmp_path, args, device):
    """A report, a binary or a parameter file named as Windows names a device ("nul.txt") is an
    open that failed, before the device is opened: no report is said to be written."""
    shutil.copy(REPO / "examples" / "tq6951_ddr_v5.bin", tmp_path / "a.bin")
    (tmp_path / "folder").mkdir()
    before = sorted(p.name for p in tmp_path.rglob("*"))
    status, out, err = run("windows", "vexdram_tool", "tq6951", *args, cwd=tmp_path)
    assert (status, out, err) == (0, f"version v1.19 20240117\nchip tq6951\nopen {device} failed!\n".encode(), b"")
    assert sorted(p.name for p in tmp_path.rglob("*")) == before



@pytest.fixture
def small_folder(tmp_path):
    """A folder on a file system of 8 KiB of its own (tmpfs), to be filled."""
    folder = tmp_path / "small"
    folder.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=8k", "tmpfs", str(folder)], capture_output=True).returncode:
        pytest.skip("cannot mount a tmpfs here (needs root)")
    yield folder
    subprocess.run(["umount", str(folder)], check=True)


@pytest.mark.parametrize("temp", ["missing", "full"])
def test_vexdram_output_needs_no_temporary_folder(tmp_path, request, temp):
    """vexdram.exe builds what it prints in memory: with the temporary folder missing, or on a
    file system too small for it, show and template print all of it and end with 0, as on Linux."""
    folder = request.getfixturevalue("small_folder") if temp == "full" else tmp_path / "missing"
    shutil.copy(REPO / "examples" / "tq6951_ddr_v5.bin", tmp_path / "tq6951_a.bin")
    windows_folder = "Z:" + str(folder).replace("/", "\\")
    for args in (["show", "tq6951_a.bin"], ["template"]):
        linux = run("linux", "vexdram", *args, cwd=tmp_path)
        line = f"set TMP={windows_folder}&& set TEMP={windows_folder}&& {'Z:' + str(WINDOWS['vexdram']).replace('/', chr(92))} {' '.join(args)}"
        r = wine_runs.run([WINE, "cmd", "/c", line], cwd=tmp_path, env=WINE_ENV, capture_output=True, timeout=120)
        assert (r.returncode, r.stdout, r.stderr) == linux, (len(r.stdout), len(linux[1]))
    if temp == "full":
        assert not os.listdir(folder)


def probe(*args, cwd):
    """tests/windows/probe.exe: (status, standard output) of what only a Windows program can ask."""
    helper = BUILD_WIN / "tests" / "windows" / "probe.exe"
    if not helper.exists():
        pytest.skip(f"no {helper}")
    r = subprocess.run([WINE, str(helper), *args], cwd=cwd, env=WINE_ENV, capture_output=True, timeout=60)
    return r.returncode, r.stdout


def start_vexdram(work, *args):
    return subprocess.Popen([WINE, str(WINDOWS["vexdram"]), *args], cwd=work, env=WINE_ENV,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def test_vexdram_every_name_of_a_file_is_one_target(tmp_path):
    """Windows names one file "F", "F.", "F " and by its 8.3 name, in a folder deeper than 260
    characters too: two runs in place through two of its names at once take one lock, so each
    that returns 0 has its value in the file (30 pairs), and the file keeps its name; two of its
    names given to one apply are one target."""
    name, deep = "long_board_name_tq6951.bin", tmp_path / ("d" * 120) / ("e" * 120)
    held = (b"is writing", b"changed while it was being edited")
    for work in (tmp_path, deep):
        work.mkdir(parents=True, exist_ok=True)
        shutil.copy(REPO / "examples" / "tq6951_ddr_v5.bin", work / name)
        status, short = probe("short", "\\\\?\\Z:" + str(work / name).replace("/", "\\"), cwd=work)
        short = short.decode().strip().rsplit("\\", 1)[-1]  # (the \\?\ form at any length)
        assert status == 0 and short != name
        aliases = [name + ".", name + " ", name + ". ", short]
        for i in range(15):
            edits = (f"ddr3_freq={800 + i}", f"lp4_freq={1200 + i}")
            pair = [start_vexdram(work, "set", n, e, "--in-place", "--chip", "tq6951")
                    for n, e in zip((name, aliases[i % 4]), edits)]
            results = [(p.wait(timeout=60), *p.communicate()) for p in pair]
            got = vexdram(work, "get", name, "ddr3_freq", "lp4_freq")[1].split()
            for (status, out, err), value, edit in zip(results, got, edits):
                assert status == 0 and value.decode() == edit.split("=")[1] or (
                    status == 2 and any(h in err for h in held)), (aliases[i % 4], err)
        assert [p.name for p in work.iterdir() if p.is_file()] == [name]
    (tmp_path / "p.txt").write_text(with_values({"ddr3_freq": "800"}))
    assert vexdram(tmp_path, "apply", "p.txt", name, name + ".", "--in-place") == (
        2, b"", f"vexdram: {name}.: two inputs would both be written there\n".encode())


DEVICES = ["nul", "NUL.bin", "aux.bin", "Com1.txt", "CON . bin", "lpt9", "nul.", "prn ", "conout$"]
DEVICE_REFUSAL = (": is a device's name on Windows (CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9, with any extension "
                  "or none): give the file another name\n")


def test_vexdram_refuses_device_names(tmp_path):
    """An OUT, a DIR's output or a FILE in place named as a Windows device (any case, any
    extension, trailing dots and spaces) is refused by its name, before anything is opened (a
    serial port may act on an open); nothing is written."""
    shutil.copy(REPO / "examples" / "tq6951_ddr_v5.bin", tmp_path / "tq6951_a.bin")
    shutil.copy(REPO / "examples" / "tq6951_ddr_v5.bin", tmp_path / "aux.bin")  # made on Linux
    shutil.copy(REPO / "examples" / "tq6951_ddr_v5.bin", tmp_path / "com9.bin")
    (tmp_path / "out").mkdir()
    (tmp_path / "p.txt").write_text(with_values({"ddr3_freq": "800"}))
    before = sorted(p.name for p in tmp_path.rglob("*"))
    for device in DEVICES:
        assert vexdram(tmp_path, "set", "tq6951_a.bin", "ddr3_freq=800", "-o", device, "--force") == (
            2, b"", b"vexdram: " + device.encode() + DEVICE_REFUSAL.encode()), device
    assert vexdram(tmp_path, "set", "aux.bin", "ddr3_freq=800", "--in-place", "--chip", "tq6951") == (
        2, b"", b"vexdram: aux.bin" + DEVICE_REFUSAL.encode())
    assert vexdram(tmp_path, "apply", "p.txt", "tq6951_a.bin", "com9.bin", "--out-dir", "out", "--chip", "tq6951") == (
        2, b"", b"vexdram: out/com9.bin" + DEVICE_REFUSAL.encode())
    assert sorted(p.name for p in tmp_path.rglob("*")) == before


@pytest.mark.parametrize("sig,status,left", [
    (signal.SIGINT, 130, []),
    (signal.SIGTERM, -signal.SIGTERM, ["tq6951_a.bin.lock"]),
], ids=["SIGINT", "SIGTERM"])
def test_vexdram_interrupted_while_it_holds_a_lock(tmp_path, held, sig, status, left):
    """Wine turns a SIGINT into the console's Ctrl+C: vexdram.exe removes its lock and ends with
    130, as on Linux. A SIGTERM ends the Wine process at once, as TerminateProcess ends a Windows
    one: no code of the program runs, its lock is left behind, for the next run to remove. The
    targets stay as they were."""
    for name in ("tq6951_a.bin", "tq6951_b.bin"):
        shutil.copy(REPO / "examples" / "tq6951_ddr_v5.bin", tmp_path / name)
    (tmp_path / "p.txt").write_text(with_values({"ddr3_freq": "800"}))
    before = {p.name: p.read_bytes() for p in tmp_path.iterdir()}
    held(tmp_path / "tq6951_b.bin.lock", "--lock")  # a live run's: the run waits for it
    before["tq6951_b.bin.lock"] = b""
    run_ = start_vexdram(tmp_path, "apply", "p.txt", "tq6951_a.bin", "tq6951_b.bin", "--in-place", "--wait", "60")
    deadline = time.monotonic() + 30
    while not (tmp_path / "tq6951_a.bin.lock").exists() and time.monotonic() < deadline:
        time.sleep(0.01)
    time.sleep(1)  # from the lock's making to waiting for the next: a few instructions
    run_.send_signal(sig)
    assert run_.wait(timeout=30) == status, run_.communicate()
    assert {p.name: p.read_bytes() for p in tmp_path.iterdir() if p.name in before} == before
    assert sorted(set(os.listdir(tmp_path)) - set(before)) == left
    if left:  # a lock nobody holds: the next run on that target removes it and writes
        assert vexdram(tmp_path, "set", "tq6951_a.bin", "ddr3_freq=801", "--in-place")[0] == 0
        assert sorted(set(os.listdir(tmp_path)) - set(before)) == []


def test_vexdram_tool_reads_as_many_words_as_the_system_gives(tmp_path):
    """The command line as typed in a console: a quoted folder with a space and a trailing
    backslash, then a quote doubled inside quotes, which the C runtime splits into one word more
    than the system does. vexdram_tool.exe counts the system's words (three: a parameter file and
    a binary after the chip), as vexdram_tool on Linux given those words."""
    line = 'vexdram_tool.exe tq6951 "my dir\\\\" "a""b" c'
    program = "Z:" + str(WINDOWS["vexdram_tool"]).replace("/", "\\")
    windows = probe("run", program, line, cwd=tmp_path)
    linux = run("linux", "vexdram_tool", "tq6951", "my dir\\", 'a"b c', cwd=tmp_path)[:2]
    assert windows == linux and linux[1].endswith(b"open my dir\\ failed!\n")


GXX = shutil.which("x86_64-w64-mingw32-g++-posix") or shutil.which("x86_64-w64-mingw32-g++")


@pytest.mark.skipif(not GXX, reason="needs x86_64-w64-mingw32-g++ (g++-mingw-w64-x86-64)")
def test_the_static_library_links_into_a_windows_program(tmp_path):
    """The C++ example of docs/library.md, linked with the Windows tree's libvexdram.a and headers
    by MinGW-w64, prints under Wine what the reference shows."""
    import re
    from conftest import DIST_WIN
    text = (REPO / "docs" / "library.md").read_text()
    (source,), (shown,) = re.findall(r"```cpp\n(.*?)```", text, re.S), re.findall(r"```text\n(.*?)```", text, re.S)
    (tmp_path / "board_freq.cpp").write_text(source)
    subprocess.run([GXX, "-std=c++17", "-O1", "board_freq.cpp", "-o", "board_freq.exe", f"-I{DIST_WIN / 'include'}",
                    f"-L{DIST_WIN / 'lib'}", "-lvexdram", "-static"], cwd=tmp_path, check=True)
    shutil.copytree(REPO / "examples", tmp_path / "examples")
    r = subprocess.run([WINE, str(tmp_path / "board_freq.exe")], cwd=tmp_path, env=WINE_ENV, capture_output=True,
                       timeout=120)
    # (a program's standard output in text mode, as Windows writes it: CR LF)
    assert (r.returncode, r.stdout.decode().replace("\r\n", "\n")) == (0, shown), r.stderr
