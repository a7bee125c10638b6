"""One engine behind two front ends: `vexdram set F K=V -o G` writes exactly the bytes of copying F
to G and running `vexdram_tool CHIP P G` (P: the template with only K=V filled in, G: F's file
name in another folder, so that the path rule reads the same), or refuses and writes nothing;
`show` is the -g report; a report applied to its own binary is accepted and changes nothing."""
import json
import random
import shutil

import pytest

from conftest import EXE, REPO, SAMPLES, SECTIONS, TEMPLATE, TOOL, build, run, vexdram, with_values

FEW = ("global", "lp4", "lp5", "hash")
GROUPS = {"global": "global", "ddr2": "DDR2", "ddr3": "DDR3", "ddr4": "DDR4", "lp2": "LPDDR2", "lp3": "LPDDR3",
          "lp4": "LPDDR4", "lp5": "LPDDR5", "skew": "tq6951 skew", "dq_map": "DQ map", "lp4x": "LPDDR4X",
          "hash": "hash"}
GENERATED = {
    "tq6420_gen_v0.bin": build(0, seed=10),
    "tq6471_gen_v1.bin": build(1, seed=11),          # older family: the short form of the record
    "tq6583_gen_v1.bin": build(1, seed=12),
    "tn2470_gen_v2.bin": build(2, seed=13, sizes={"ddr3": 5, "global": 6}),
    "tq6730_gen_v3.bin": build(3, seed=14, sections=[*(s for s in SECTIONS if s != "lp4x"), "lp4x"],
                               sizes={"lp4x": 227}),  # too large: absent
    "tq6585_gen_v4.bin": build(4, seed=15, sections=FEW),
    "tq6951_gen_v5.bin": build(5, seed=16),
    "tq6951_sub2_v5.bin": build(5, seed=17, skew_sub=2),
    "tq6951_short_v5.bin": build(5, seed=18, sizes={"skew": 12, "lp5": 10}),
    "tq6583_skew_v5.bin": build(5, seed=19),         # a skew section the tool does not read
}
KEYS = json.loads(vexdram("keys", "--json").stdout)["parameters"]
# Under Wine a program starts in a tenth of a second: a sample of the keys and edits there.
SAMPLE = 8 if EXE else 1
ROUNDS, ACCEPTED = (12, 1) if EXE else (40, 10)


def width_in(key, version):
    """The width of the key's field in a block of this version; None where it has no place to set
    (a place written but read back as 0 is none)."""
    widths = [p["width"] for p in key["places"] if version in p["versions"] and not p.get("reads_as_zero")]
    return widths[-1] if widths else None


@pytest.fixture(scope="module")
def binaries(tmp_path_factory):
    src = tmp_path_factory.mktemp("src")
    for name in SAMPLES:
        shutil.copy(REPO / "examples" / name, src / name)
    for name, data in GENERATED.items():
        (src / name).write_bytes(data)
    return src


def value_for(key, version, rng):
    """A value that fits the key's field in this version (never 0: a skew lane keeps its value),
    written the ways a person writes it; 1 where the version has no place for it."""
    width = width_in(key, version)
    if width is None:
        return "1"
    largest = (1 << width) - 1
    value = rng.choice([1, largest, rng.randint(1, largest)])
    if key["format"] == "decimal" and value > 0x7FFFFFFF:
        return str(value - (1 << 32))
    return rng.choice([str(value), hex(value)])


def check_edit(src, work, name, edits):
    """Runs both front ends on copies of src/name and compares; returns vexdram's status."""
    chip = SAMPLES.get(name) or name.split("_")[0]
    mine, theirs = work / "a" / name, work / "b" / name
    mine.parent.mkdir(exist_ok=True)
    theirs.parent.mkdir(exist_ok=True)
    mine.unlink(missing_ok=True)
    r = vexdram("set", src / name, *[f"{k}={v}" for k, v in edits.items()], "-o", mine)
    if r.returncode != 0:
        # refused by the checks before writing, with their reason; never by the read-back check
        assert r.returncode == 2 and not mine.exists() and "failed its check" not in r.stderr, r.stderr
        return 2
    shutil.copy(src / name, theirs)
    (work / "p.txt").write_text(with_values(edits))
    run(TOOL, chip, work / "p.txt", theirs, check=True)
    assert mine.read_bytes() == theirs.read_bytes(), (name, edits)
    return 0


@pytest.mark.parametrize("name", SAMPLES)
def test_every_key_of_the_samples(binaries, tmp_path, name):
    rng = random.Random(name)
    version = int(name[-5])
    accepted = sum(check_edit(binaries, tmp_path, name, {k["key"]: value_for(k, version, rng)}) == 0
                   for k in KEYS[1::SAMPLE])
    assert accepted >= 20 // SAMPLE  # (the version-1 record stores 21 parameters)


@pytest.mark.parametrize("name", GENERATED)
def test_edits_of_every_version_and_chip(binaries, tmp_path, name):
    rng = random.Random(name)
    version = int(name[-5])
    groups = {GROUPS[s] for s in (FEW if name == "tq6585_gen_v4.bin" else SECTIONS)}
    placed = [k for k in KEYS[1:] if width_in(k, version) and (version < 2 or k["group"] in groups)]
    statuses = []
    for i in range(ROUNDS):
        # keys the version has a place for; now and then one it has none for, which is refused
        keys = rng.sample(placed, 3) + ([rng.choice(KEYS[1:])] if i % 5 == 0 else [])
        statuses.append(check_edit(binaries, tmp_path, name, {k["key"]: value_for(k, version, rng) for k in keys}))
    assert statuses.count(0) >= ACCEPTED


@pytest.mark.parametrize("name", [*SAMPLES, *GENERATED])
def test_show_is_the_report_and_a_report_changes_nothing(binaries, tmp_path, name):
    chip = SAMPLES.get(name) or name.split("_")[0]
    target = tmp_path / name
    shutil.copy(binaries / name, target)
    shown = vexdram("show", target)
    assert shown.returncode == 0, shown.stderr
    run(TOOL, chip, "-g", tmp_path / "r.txt", target, check=True)
    assert shown.stdout == (tmp_path / "r.txt").read_text()
    before = target.stat()
    for report in (tmp_path / "r.txt", "-"):
        r = vexdram("apply", report, target, "--in-place", stdin=shown.stdout)
        assert (r.returncode, r.stdout) == (0, ""), r.stderr
        assert all("warning: the skew section" in line for line in r.stderr.splitlines())
    after = target.stat()
    assert target.read_bytes() == (binaries / name).read_bytes()
    assert (after.st_ino, after.st_mtime_ns) == (before.st_ino, before.st_mtime_ns)
    # the blank template keeps every value too, as vexdram_tool does with it
    (tmp_path / "t.txt").write_text(TEMPLATE)
    assert vexdram("apply", tmp_path / "t.txt", target, "-o", tmp_path / "out" / name).returncode == 2
    (tmp_path / "out").mkdir()
    assert vexdram("apply", tmp_path / "t.txt", target, "-o", tmp_path / "out" / name).returncode == 0
    run(TOOL, chip, tmp_path / "t.txt", target, check=True)
    assert (tmp_path / "out" / name).read_bytes() == target.read_bytes()
