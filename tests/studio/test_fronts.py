"""The studio refuses what vexdram refuses: both fronts (the studio's save over HTTP and `vexdram
set ... -o`) over the same generated binaries and edits. No edit that vexdram refuses is saved by
the studio, every edit vexdram takes the studio saves, and both write the same bytes (for a
container, the same values: each packs it at its own time)."""
import json
import random
import shutil
import subprocess

import pytest

from conftest import DIST, REPO, Client, start_studio
from ddr_binaries import build, overlapping, skew_in_section

VEXDRAM = DIST / "resource" / "tools" / "vexdram"
BINARIES = {
    "tq6951_gen_v5.bin": build(5, seed=16),
    "tq6951_sub2_v5.bin": build(5, seed=17, skew_sub=2),
    "tq6951_short_v5.bin": build(5, seed=18, sizes={"skew": 12, "lp5": 10}),
    "tq6583_gen_v2.bin": build(2, seed=13, sizes={"ddr3": 5, "global": 6}),
    "tq6583_gen_v1.bin": build(1, seed=12),
    "tq6951_overlap_v5.bin": overlapping(),
    "tq6951_skewword_v5.bin": skew_in_section(),
}
SAMPLES = ("tq6951_ddr_v5.bin", "tq6583_ddr_v2.bin", "tq6420_ddr_v1.bin", "tq6951_loader.bin")
ROUNDS = 5  # edits per binary


@pytest.fixture(scope="module")
def fronts(tmp_path_factory):
    ws = tmp_path_factory.mktemp("ws")
    for name in SAMPLES:
        shutil.copy(REPO / "examples" / name, ws / name)
    for name, data in BINARIES.items():
        (ws / name).write_bytes(data)
    studio = start_studio(DIST, ws, tmp_path_factory.mktemp("studio"))
    yield ws, Client(studio), tmp_path_factory.mktemp("vexdram")
    assert studio.stop() == 0


def shown(path, chip):
    done = subprocess.run([VEXDRAM, "show", "--json", f"--chip={chip}", path], capture_output=True, check=True)
    return json.loads(done.stdout)


def edits_for(facts, keys, rng):
    """A few edits of the binary: 0 for a skew lane (refused where the lane holds a value), values
    that fit their field and one past it, now and then a parameter the binary does not store."""
    lanes = [k for k in keys if any(p.get("zero_keeps") for p in k["places"])]
    stored = [k for k in keys if facts["storage"][k["key"]] == "stored"] or keys
    edits = {}
    for _ in range(rng.randint(1, 3)):
        pick = rng.random()
        key = rng.choice(lanes if pick < 0.3 else stored if pick < 0.9 else keys)
        widths = [p["width"] for p in key["places"] if facts["version"] in p["versions"]] or [8]
        largest = (1 << max(widths)) - 1
        value = 0 if pick < 0.3 else rng.choice([1, largest, rng.randint(0, largest), largest + 1])
        edits[key["key"]] = str(value) if rng.random() < 0.5 else hex(value)
    return edits


def test_the_studio_saves_what_vexdram_set_writes_and_nothing_it_refuses(fronts):
    ws, client, out = fronts
    keys = json.loads(subprocess.run([VEXDRAM, "keys", "--json"], capture_output=True, check=True).stdout)["parameters"][1:]
    rng = random.Random(29)
    seen = {"refused": 0, "saved": 0}
    for name in [*SAMPLES, *BINARIES]:
        chip = name.split("_")[0]
        facts = shown(ws / name, chip)
        for _ in range(ROUNDS):
            edits = edits_for(facts, keys, rng)
            mine, theirs = out / name, ws / name.replace(".bin", "_new.bin")
            mine.unlink(missing_ok=True)
            theirs.unlink(missing_ok=True)
            said = subprocess.run([VEXDRAM, "set", ws / name, *(f"{k}={v}" for k, v in edits.items()), "-o", mine,
                                   f"--chip={chip}"], capture_output=True, text=True)
            status, body = client.post("save", {"file": name, "chip": chip.upper(), "edits": edits})
            case = (name, edits, said.stderr, body.get("error"))
            if said.returncode != 0:
                assert (said.returncode, status) == (2, 422) and not theirs.exists(), case
                # in vexdram's words: each of its lines ("vexdram: FILE: KEY=VALUE: why", or
                # "vexdram: FILE: why") stands in the studio's message ("KEY: why", or "why")
                for line in said.stderr.splitlines():
                    said_of = line.split(": ", 2)[2]
                    if said_of.startswith("warning: "):
                        continue  # a note on what was read, not a refusal
                    given, _, why = said_of.partition(": ")
                    assert (f"{given.split('=')[0]}: {why}" if "=" in given else said_of) in body["error"], case
                seen["refused"] += 1
                continue
            assert status == 200, case
            if name.endswith("loader.bin"):
                assert shown(theirs, chip)["parameters"] == shown(mine, chip)["parameters"], case
            else:
                assert theirs.read_bytes() == mine.read_bytes(), case
            seen["saved"] += 1
    assert min(seen.values()) >= 10, seen
