"""The number rules and field widths the server checks (the page's copy is checked against the same
table in test_browser), and the chip table against the tool's chip list."""
import pytest

from conftest import DIST
from vexdram_studio.rules import Catalogue  # noqa: I100 (from the install tree)

# text, field width, the value as the report writes it or the reason for refusing it
NUMBERS = [
    ("933", 12, "933"),
    (" 0x3A5 ", 12, "933"),
    ("0", 1, "0"),
    ("4095", 12, "4095"),
    ("4096", 12, "does not fit its 12-bit field (largest 4095)"),
    ("0x100", 8, "does not fit its 8-bit field (largest 255)"),
    ("4294967295", 32, "-1"),
    ("4294967296", 32, "larger than 32 bits"),
    ("0800", 12, "a leading 0 makes the tool read 0800 as octal: write 800 or 0x320"),
    ("017", 12, "a leading 0 makes the tool read 017 as octal: write 17 or 0x11"),
    ("-1", 12, "negative values are not stored"),
    ("", 12, "a value is needed"),
    ("0x", 12, "not a whole number: decimal digits, or 0x and hexadecimal digits"),
    ("93.3", 12, "not a whole number: decimal digits, or 0x and hexadecimal digits"),
    ("1e3", 12, "not a whole number: decimal digits, or 0x and hexadecimal digits"),
    ("12 34", 12, "not a whole number: decimal digits, or 0x and hexadecimal digits"),
]


def one_field(width):
    return Catalogue({"chips": [], "start_tag": "0x12345678", "parameters": [
        {"n": 0, "key": "start tag", "format": "hex", "places": []},
        {"n": 1, "key": "x", "format": "decimal", "places": [{"versions": [5], "width": width}]}]})


@pytest.mark.parametrize("text,width,expected", NUMBERS)
def test_numbers(text, width, expected):
    value, reason = one_field(width).check("x", text, 5, "tq6951")
    assert (value or reason) == expected


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
