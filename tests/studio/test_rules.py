"""The value rule and field widths the server checks (the page's copy runs the same table of value
rules in test_browser), how Import reads a parameter file (the table vexdram apply runs), and the
chip table against the tool's chip list."""
import pytest

from conftest import DIST, FILE_KIND_RULES, PARAM_FILE_RULES, VALUE_RULES
from vexdram_studio import rules  # noqa: I100 (from the install tree)
from vexdram_studio import operations
from vexdram_studio.operations import Conflict, Operations
from vexdram_studio.rules import Catalogue
from vexdram_studio.workspace import Workspace


def one_field(width):
    return Catalogue({"chips": [], "start_tag": "0x12345678", "parameters": [
        {"n": 0, "key": "start tag", "format": "hex", "places": []},
        {"n": 1, "key": "x", "format": "hex", "places": [{"versions": [5], "width": width}]}]})


@pytest.mark.parametrize("case", VALUE_RULES, ids=lambda c: repr(c["text"]) + f"/{c['width']}")
def test_value_rules(case):
    value, reason = one_field(case["width"]).check("x", case["text"], 5, "tq6951")
    assert (int(value, 16) if value else reason) == case.get("value", case.get("reason"))


@pytest.fixture(scope="module")
def catalogue():
    return Catalogue.load(DIST / "resource" / "vexdram_catalogue.json")


@pytest.mark.parametrize("key,version,chip,width", [
    ("ddr3_freq", 5, "TQ6951", 12),
    ("ddr3_freq", 1, "TQ6420", 16),
    ("ddr3_dq_vref_when_odten", 5, "TQ6583", 10),
    ("ddr3_dq_vref_when_odten", 2, "TQ6583", None),
    ("ddr3_ca0_skew", 5, "TQ6951", 8),
    ("ddr3_ca0_skew", 5, "TQ6583", None),
    ("lp4_ca0_a_skew", None, "TQ6951", None),
    ("ch_mask0", None, "TQ6583", 32),
])
def test_widths_by_version_and_chip(catalogue, key, version, chip, width):
    assert catalogue.width(key, version, chip) == width


def test_chip_table_names_the_tools_chips(catalogue):
    import pandas
    table = pandas.read_csv(DIST / "resource/cfg/chips.csv", encoding="gbk")
    assert [c.lower() for c in table["chip"]] == catalogue.chips
    assert list(table.columns) == ["chip", "dram_types", "description_zh", "description_en"]
    assert table["description_zh"].str.contains("芯片").all()


def text_of(pieces):
    """A case's text: a text, or pieces (a text, or a text and how many times it repeats)."""
    if isinstance(pieces, str):
        return pieces
    return "".join(p if isinstance(p, str) else p[0] * p[1] for p in pieces)


@pytest.mark.parametrize("case", PARAM_FILE_RULES["cases"], ids=lambda c: c["name"])
def test_param_file_rules(catalogue, case):
    found, refused = rules.read_param_text(text_of(case["text"]).encode("utf-8"), catalogue)
    assert [[v.line, v.key, rules.report_value(v.value)] for v in found] == case["values"]
    assert [[r.line, r.reason] for r in refused] == case["problems"]


def test_param_file_bound():
    assert (rules.FILE_LIMIT, rules.FILE_TOO_LARGE) == (PARAM_FILE_RULES["file_limit"],
                                                        PARAM_FILE_RULES["file_too_large"])


def test_listing_follows_the_file_kind_rules(catalogue, tmp_path, monkeypatch):
    """Every case of the table as a file of the workspace; a binary is listed as "ddr" when it is
    named .bin, else "other"."""
    import dramforge
    root = tmp_path / "ws"
    root.mkdir()
    for i, case in enumerate(FILE_KIND_RULES):
        for suffix in (".bin", ".txt"):
            with open(root / f"{i:02}{suffix}", "wb") as f:
                f.write(text_of(case["bytes"]).encode("latin-1"))
                f.truncate(case.get("size", f.tell()))
    (tmp_path / "workspace").symlink_to(root)
    monkeypatch.chdir(tmp_path)  # where the module is given workspace/NAME
    listed = {f["name"]: f["kind"] for f in Operations(dramforge.dramforge, Workspace(root), catalogue).listing()}
    for i, case in enumerate(FILE_KIND_RULES):
        kind = case["kind"]
        assert (listed[f"{i:02}.bin"], listed[f"{i:02}.txt"]) == (
            ("ddr", "other") if kind == "binary" else (kind, kind)), case["name"]


def test_edit_distance_matches_the_plain_dynamic_programme():
    """The bit-vector distance that names the nearest keys, against the textbook dynamic
    programme on random texts of few letters (where the two disagree, if anywhere)."""
    import random
    rng = random.Random(7)

    def plain(a, b):
        row = list(range(len(b) + 1))
        for i, x in enumerate(a, 1):
            diag, row[0] = row[0], i
            for j, y in enumerate(b, 1):
                diag, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, diag + (x != y))
        return row[-1]

    for _ in range(3000):
        a, b = ("".join(rng.choice("ab _") for _ in range(rng.randrange(12))) for _ in range(2))
        assert rules.distance(a, b) == plain(a, b), (a, b)


@pytest.mark.parametrize("hard_links", [True, False])
@pytest.mark.parametrize("there", [None, b"mine"])
def test_a_new_file_never_replaces_one_that_appeared(tmp_path, monkeypatch, hard_links, there):
    """Published without replacing: linked to its name, or created exclusively where the file
    system has no hard links; whole either way, and no temporary file left."""
    if not hard_links:
        def no_links(*args, **kwargs):
            raise PermissionError(1, "Operation not permitted")
        monkeypatch.setattr(operations.os, "link", no_links)
    target = tmp_path / "x_new.bin"
    if there:
        target.write_bytes(there)
    try:
        operations._publish(target, "x_new.bin", lambda f: f.write(b"new" * 5000), replace=False)
    except Conflict as e:
        assert there and str(e) == "x_new.bin exists; overwrite it?"
    assert target.read_bytes() == (there or b"new" * 5000)
    assert [p.name for p in tmp_path.iterdir()] == ["x_new.bin"]
