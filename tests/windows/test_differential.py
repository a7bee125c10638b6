"""The Windows programs are the Linux programs: on the bundled samples and on generated binaries
of every block version, vexdram_tool.exe and vexdram.exe write byte for byte the reports and
binaries that vexdram_tool and vexdram write, print the same messages and end with the same
status; imgwelder.exe unpacks and packs the same containers. Each case runs in two folders, one per
system, same names."""
import random
import shutil
from concurrent.futures import ThreadPoolExecutor

import pytest

from conftest import KEYS, REPO, SAMPLES, SECTIONS, build, differences, outputs, run, with_values, without_program_name

CHIPS = {0: ["tq6420"], 1: ["tq6471", "tq6583"], 2: ["tn2470", "tq6583"], 3: ["tq6730"], 4: ["tq6585"],
         5: ["tq6951", "tq6583"]}
PER_VERSION = 40
# the forms of report mode: the option between chip and binary, glued, or after an operand
REPORT_FORMS = (["-g", "r.txt"], ["-gr.txt", "x"], ["x", "-gr.txt"], ["-g", "r.txt"])


def generated(version, i):
    """A binary of this version: sections left out, cut short or grown, skew sub-versions."""
    rng = random.Random(version * 1000 + i)
    sections = [s for s in SECTIONS if rng.random() < 0.8] or ["global"]
    sizes = {s: rng.randint(1, 40) for s in sections if rng.random() < 0.15}
    data = build(version, sections=sections, seed=rng.getrandbits(32), sizes=sizes, skew_sub=rng.choice([1, 1, 2, 3]))
    if rng.random() < 0.1:  # a block cut off by the end of the file
        data = data[:rng.randint(64, len(data))]
    return f"{rng.choice(CHIPS[version])}_gen_v{version}_{i}.bin", data


def edits(rng):
    """A parameter file: a few keys, values as people write them (some not numbers at all)."""
    values = {}
    for key in rng.sample(KEYS, rng.randint(1, 12)):
        values[key] = rng.choice([str(rng.getrandbits(8)), hex(rng.getrandbits(32)), str(rng.getrandbits(36)),
                                  "12abc", "-3", " ", "0x"])
    text = with_values(values)
    return text.replace("\n", "\r\n") if rng.random() < 0.2 else text


def both(tmp, case, name, data, chip, rng):
    """Runs report mode, then modify mode, on both systems; what differs, whole, as text."""
    form = REPORT_FORMS[rng.randrange(len(REPORT_FORMS))]
    params = edits(rng)
    commands = [[chip, *form, name], [chip, "p.txt", name]]
    seen = {}
    for system in ("linux", "windows"):
        work = tmp / f"{case}-{system}"
        work.mkdir()
        (work / name).write_bytes(data)
        (work / "p.txt").write_bytes(params.encode())
        report = run(system, "vexdram_tool", *commands[0], cwd=work)
        report_text = (work / "r.txt").read_bytes() if (work / "r.txt").exists() else None
        modify = run(system, "vexdram_tool", *commands[1], cwd=work)
        seen[system] = [outputs(report, **{"r.txt": report_text}), outputs(modify, **{name: (work / name).read_bytes()})]
    found = [differences(["vexdram_tool", *command], linux, windows)
             for command, linux, windows in zip(commands, seen["linux"], seen["windows"])]
    given = "\n".join(line for line in params.splitlines() if not line.endswith("="))
    return [f"{name}, the parameter file's lines with values:\n{given}\n{d}" for d in found if d]


@pytest.mark.parametrize("version", range(6))
def test_generated_binaries(tmp_path, version):
    cases = [generated(version, i) for i in range(PER_VERSION)]
    rng = random.Random(version)
    plans = [(i, name, data, name.split("_")[0], random.Random(rng.getrandbits(32)))
             for i, (name, data) in enumerate(cases)]
    with ThreadPoolExecutor(4) as pool:
        differ = sum(pool.map(lambda p: both(tmp_path, *p), plans), [])
    assert not differ, "\n\n".join(differ)
    print(f"version {version}: {len(cases)} binaries, report and modify mode, identical")


@pytest.mark.parametrize("name", SAMPLES)
def test_samples(tmp_path, name):
    data = (REPO / "examples" / name).read_bytes()
    plans = [(i, name, data, SAMPLES[name], random.Random(f"{name}{i}")) for i in range(8)]
    with ThreadPoolExecutor(4) as pool:
        differ = sum(pool.map(lambda p: both(tmp_path, *p), plans), [])
    assert not differ, "\n\n".join(differ)


# Every message and status of the classic command line, help and refusals included.
COMMAND_LINES = [
    [], ["--version"], ["-h"], ["--help"], ["nochip", "p.txt", "a.bin"],
    ["tq6951", "missing.txt", "a.bin"], ["tq6951", "p.txt", "missing.bin"], ["tq6951", "p.txt", "folder"],
    ["tq6951", "-g", "r.txt", "missing.bin"], ["tq6951", "-g", "a.bin", "a.bin"],
    ["tq6951", "-g", "r.txt", "folder"], ["tq6951", "-g", "folder/none/r.txt", "a.bin"],
    ["tq6951", "-x", "r.txt", "a.bin"], ["tq6951", "x", "-g", "a.bin"], ["tq6951", "-h", "r.txt", "a.bin"],
    ["tq6951", "x", "y", "a.bin"], ["tq6951", "a", "b", "c", "d"], ["tq6951", "p.txt"],
    ["tq6951", "p.txt", "notag.bin"], ["tq6951", "-g", "r.txt", "notag.bin"], ["tq6951", "p.txt", "empty.bin"],
    ["tq6951", "--", "-g", "a.bin"], ["tq6951", "p.txt", "a.bin"],
]


@pytest.mark.parametrize("args", COMMAND_LINES, ids=" ".join)
def test_messages_and_statuses(tmp_path, args):
    seen = {}
    for system in ("linux", "windows"):
        work = tmp_path / system
        work.mkdir()
        shutil.copy(REPO / "examples" / "tq6951_ddr_v5.bin", work / "a.bin")
        (work / "notag.bin").write_bytes(bytes(range(256)) * 8)
        (work / "empty.bin").write_bytes(b"")
        (work / "folder").mkdir()
        (work / "p.txt").write_text(with_values({"ddr3_freq": "933", "uart baudrate": "115200x"}))
        status, out, err = run(system, "vexdram_tool", *args, cwd=work)
        files = {p.name: p.read_bytes() for p in work.iterdir() if p.is_file()}
        seen[system] = outputs((status, out, without_program_name(err)), files=files)
    assert not (d := differences(["vexdram_tool", *args], seen["linux"], seen["windows"])), d


IMGWELDER_LINES = [
    [], ["help"], ["--help"], ["--version"], ["frobnicate"],
    ["unpack", "-i", "loader.bin", "-o", "out"], ["unpack", "-i", "missing.bin", "-o", "out"],
    ["unpack", "-i", "a.bin", "-o", "out"], ["unpack", "-i", "loader.bin", "-o", "a.bin"],
    ["pack", "-c", "-TQ6951", "-v", "2.1", "-1", "images/ddr.bin", "-2", "images/usbplug.bin",
     "-3", "images/FlashData.bin", "-3", "images/FlashBoot.bin", "-o", "new.img"],
    ["pack", "-c", "-TN2470", "-n", "-d", "3", "-r", "5", "-a", "4", "-1", "images/ddr.bin", "-o", "new.img"],
    ["pack", "-c", "-TQ6951", "-1", "images/missing.bin", "-o", "new.img"],
    ["pack", "-c", "-TX6951", "-1", "images/ddr.bin", "-o", "new.img"],
    ["pack", "-c", "-TQ6951", "-1", "images/ddr.bin", "-o", "folder/none/new.img"],
]


@pytest.mark.parametrize("args", IMGWELDER_LINES, ids=" ".join)
def test_imgwelder(tmp_path, args):
    seen = {}
    for system in ("linux", "windows"):
        work = tmp_path / system
        (work / "folder").mkdir(parents=True)
        shutil.copy(REPO / "examples" / "tq6951_loader.bin", work / "loader.bin")
        shutil.copy(REPO / "examples" / "tq6951_ddr_v5.bin", work / "a.bin")
        assert run("linux", "imgwelder", "unpack", "-i", "loader.bin", "-o", "images", cwd=work)[0] == 0
        status, out, err = run(system, "imgwelder", *args, cwd=work, stdin=None)
        files = {str(p.relative_to(work)): p.read_bytes() for p in sorted(work.rglob("*")) if p.is_file()}
        seen[system] = outputs((status, out, without_program_name(err)), files=files)
    assert not (d := differences(["imgwelder", *args], seen["linux"], seen["windows"])), d


VEXDRAM_PER_VERSION = 12


def vexdram_runs(rng, name):
    """What a script asks of vexdram about one binary: show (text and JSON), get, set into a new
    file (values as people write them, some refused), set into an existing one, and diff."""
    keys = rng.sample(KEYS[1:], rng.randint(1, 4))
    numbers = [str(rng.getrandbits(8)), hex(rng.getrandbits(16)), str(rng.getrandbits(4)), hex(rng.getrandbits(8))]
    values = [f"{k}={rng.choice(numbers + ['0x', '-1', '08'])}" for k in keys]
    return [["show", name], ["show", name, "--json"], ["get", name, *keys], ["set", name, *values, "-o", "new.bin"],
            ["set", name, *values, "-o", "exists.bin"], ["set", name, *values, "-o", "exists.bin", "--force"],
            ["diff", name, "new.bin", "--chip", name.split("_")[0]]]


def vexdram_both(tmp, case, name, data, rng):
    """Runs vexdram's commands on both systems; the differences, as text."""
    runs = vexdram_runs(rng, name)
    seen = {}
    for system in ("linux", "windows"):
        work = tmp / f"{case}-{system}"
        work.mkdir()
        (work / name).write_bytes(data)
        (work / "exists.bin").write_bytes(b"keep")
        results = [outputs(run(system, "vexdram", *args, cwd=work)) for args in runs]
        seen[system] = results, {p.name: p.read_bytes() for p in sorted(work.iterdir())}
    differ = [differences(["vexdram", *args], seen["linux"][0][k], seen["windows"][0][k]) for k, args in enumerate(runs)]
    differ.append(differences([f"(the files after vexdram's commands on {name})"], {"files": seen["linux"][1]},
                              {"files": seen["windows"][1]}))
    return [d for d in differ if d]


@pytest.mark.parametrize("version", range(6))
def test_vexdram_on_generated_binaries(tmp_path, version):
    cases = [generated(version, i) for i in range(VEXDRAM_PER_VERSION)]
    rng = random.Random(100 + version)
    plans = [(i, name, data, random.Random(rng.getrandbits(32))) for i, (name, data) in enumerate(cases)]
    with ThreadPoolExecutor(4) as pool:
        differ = sum(pool.map(lambda p: vexdram_both(tmp_path, *p), plans), [])
    assert not differ, "\n\n".join(differ)
    print(f"version {version}: {len(cases)} binaries, vexdram's commands, identical")


# Every message and status of vexdram's command line that does not depend on the binary.
VEXDRAM_LINES = [
    [], ["--version"], ["--help"], ["set", "--help"], ["bogus"], ["show"], ["show", "missing_tq6951.bin"],
    ["show", "folder", "--chip", "tq6951"], ["show", "a.bin"], ["show", "a.bin", "--chip", "tq9999"],
    ["show", "a.bin", "--chip", "TQ6951"], ["get", "a.bin", "ddr3_frq", "--chip", "tq6951"],
    ["set", "a.bin", "ddr3_freq=800", "--chip", "tq6951"], ["set", "a.bin", "ddr3_freq=800", "-o", "folder/none/x.bin"],
    ["apply", "p.txt", "tq6951_a.bin", "-o", "x.bin"], ["apply", "-", "tq6951_a.bin", "--dry-run"],
    ["apply", "p.txt", "tq6951_a.bin", "tq6951_b.bin", "--out-dir", "folder"], ["diff", "tq6951_a.bin", "p.txt"],
    ["diff", "tq6951_a.bin", "loader.bin", "--chip", "tq6951"], ["set", "loader.bin", "ddr3_freq=800", "--chip", "tq6951", "-o", "l.bin"],
    ["template"], ["keys"], ["keys", "--json"], ["chips"],
]


@pytest.mark.parametrize("args", VEXDRAM_LINES, ids=" ".join)
def test_vexdram_messages_and_statuses(tmp_path, args):
    seen = {}
    for system in ("linux", "windows"):
        work = tmp_path / system
        (work / "folder").mkdir(parents=True)
        for copy in ("a.bin", "tq6951_a.bin", "tq6951_b.bin"):
            shutil.copy(REPO / "examples" / "tq6951_ddr_v5.bin", work / copy)
        shutil.copy(REPO / "examples" / "tq6951_loader.bin", work / "loader.bin")
        (work / "p.txt").write_text(with_values({"ddr3_freq": "933", "uart baudrate": "115200"}))
        result = run(system, "vexdram", *args, cwd=work, stdin=(work / "p.txt").read_bytes())
        files = {str(p.relative_to(work)): p.read_bytes() for p in sorted(work.rglob("*")) if p.is_file()}
        seen[system] = outputs(result, files=files)
    assert not (d := differences(["vexdram", *args], seen["linux"], seen["windows"])), d
