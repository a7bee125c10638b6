"""The value rule and field widths the server checks (the page's copy runs the same table of value
rules in test_browser), and the chip table against the tool's chip list."""
import pytest

from conftest import DIST, VALUE_RULES
from vexdram_studio.rules import Catalogue  # noqa: I100 (from the install tree)


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
