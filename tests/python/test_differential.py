"""The Python package and the program vexdram on the same generated binaries and edits: the same
values, the same refusals in the same words, byte-identical files."""
import json
import random

import pytest

from conftest import builder, cli, vexdram

KEYS = vexdram.keys()
CHIPS = ["tq6951", "tq6583", "tq6420", "tq6471", "tn2470", "tq6730"]


def generated(seed):
    """A binary of a random version, chip and section set, and some of its sizes cut short."""
    rng = random.Random(seed)
    version = rng.choice([0, 1, 2, 3, 4, 5, 5])
    sections = [s for s in builder.SECTIONS if rng.random() < 0.8] or ["global"]
    sizes = {s: rng.randint(1, 6) for s in sections if rng.random() < 0.1}
    name = f"{rng.choice(CHIPS)}_gen{seed}_v{version}.bin"
    return name, builder.build(version, sections=sections, seed=seed, sizes=sizes,
                               skew_sub=rng.choice([1, 1, 1, 2]))


def typed(rng, width):
    """A value as a person types it: mostly one that fits the width, now and then one too wide or
    written wrong."""
    if rng.random() < 0.8:
        value = rng.choice([1, (1 << width) - 1, rng.randint(1, (1 << width) - 1)])
        return rng.choice([str(value), hex(value), " %d " % value])
    value = rng.choice([0, 1 << width, rng.getrandbits(32)])
    return rng.choice([str(value), "0" + str(value), str(value) + "x", hex(value)])


@pytest.mark.parametrize("seed", range(40))
def test_same_values_refusals_and_bytes(tmp_path, seed):
    name, data = generated(seed)
    src = tmp_path / name
    src.write_bytes(data)
    shown = cli("show", "--json", src)
    try:
        img = vexdram.open(str(src))
    except vexdram.Error as e:
        assert shown.returncode == 2 and shown.stderr == f"vexdram: {src}: {e}\n"
        return
    assert shown.returncode == 0, shown.stderr
    assert img.as_dict() == json.loads(shown.stdout)["parameters"]
    rng = random.Random(seed)
    for round_ in range(4):
        edits = {}
        stored = [k for k in KEYS[1:] if img.storage(k).stored]
        for key in rng.sample(stored if stored and rng.random() < 0.8 else KEYS[1:], rng.choice([1, 2, 3])):
            storage = img.storage(key)
            edits[key] = typed(rng, storage.width or rng.choice([1, 8, 32]))
        out_cli, out_py = tmp_path / f"cli{round_}" / name, tmp_path / f"py{round_}" / name
        out_cli.parent.mkdir()
        out_py.parent.mkdir()
        r = cli("set", src, *[f"{k}={v}" for k, v in edits.items()], "-o", out_cli)
        reasons = [img.check(k, v) for k, v in edits.items()]
        refusals = [f"vexdram: {src}: {k}={v}: {why}\n" for (k, v), why in zip(edits.items(), reasons) if why]
        edited = vexdram.open(str(src))
        if r.returncode != 0:
            unwritable = [line for line in r.stderr.splitlines(keepends=True) if line not in refusals]
            assert refusals or unwritable, r.stderr
            assert "".join(refusals) in r.stderr and not out_cli.exists()
            if not refusals:  # refused whatever the edit: the image cannot be written
                with pytest.raises(vexdram.Refused) as e:
                    for k, v in edits.items():
                        edited[k] = v
                assert f"vexdram: {src}: {e.value.problems[0].split(': ', 1)[1]}\n" in unwritable
            continue
        assert refusals == [], r.stderr
        for k, v in edits.items():
            edited[k] = v
        edited.write(str(out_py))
        assert out_py.read_bytes() == out_cli.read_bytes() == edited.to_bytes()
