"""What only Windows has: the programs stand alone (system DLLs only, PE32+ console programs), a
target replaced over an existing file, a target another program holds open, a read-only target,
names outside ASCII and with spaces; for vexdram_tool.exe, imgwelder.exe and vexdram.exe."""
import shutil
import subprocess

import pytest

from conftest import BUILD_WIN, REPO, WINDOWS, WINE, WINE_ENV, run, with_values

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
    """Holds a file open in another Windows program, with no sharing, until the test ends."""
    helper = BUILD_WIN / "tests" / "windows" / "hold_file.exe"
    if not helper.exists():
        pytest.skip(f"no {helper}")
    holders = []

    def hold(path):
        p = subprocess.Popen([WINE, str(helper), str(path)], env=WINE_ENV, stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE)
        assert p.stdout.readline().rstrip() == b"held"
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
    # (Windows says the file is in use; Wine that it may not be replaced)
    assert (status, out) == (2, b"") and err.startswith(b"vexdram: tq6951_out.bin: cannot rename the new file into place: ")
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
