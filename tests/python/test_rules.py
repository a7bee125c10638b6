"""The tables of rules that every front applies (tests/*_rules.json), run through the Python
package: what a typed value may be, how a parameter file is read strictly, which chip a file's
name gives, what kind of file a file is."""
import pytest

from conftest import builder, table, text_of, vexdram

VALUE_RULES = table("value_rules.json")["cases"]
PARAM_FILE_RULES = table("param_file_rules.json")
CHIP_NAME_RULES = table("chip_name_rules.json")["cases"]
FILE_KIND_RULES = table("file_kind_rules.json")["cases"]


@pytest.fixture(scope="module")
def of_width():
    """A version-5 image of every section, for a chip without a skew section, and the first
    parameter stored with each width."""
    img = vexdram.from_bytes(builder.build(5, seed=3), "tq6583_values.bin")
    widths = {}
    for key in img.keys()[1:]:
        s = img.storage(key)
        if s.stored:
            widths.setdefault(s.width, key)
    return img, widths


@pytest.mark.parametrize("case", VALUE_RULES, ids=lambda c: repr(c["text"]) + f"/{c['width']}")
def test_value_rules(of_width, case):
    img, widths = of_width
    key = widths[case["width"]]
    if "value" in case:
        assert vexdram.parse_value(case["text"], case["width"]) == case["value"]
        img[key] = case["text"]
        assert img[key] == case["value"]
        return
    with pytest.raises(vexdram.Refused) as parsed:
        vexdram.parse_value(case["text"], case["width"])
    assert str(parsed.value) == case["reason"]
    before = img[key]
    with pytest.raises(vexdram.Refused) as set_:
        img[key] = case["text"]
    assert str(set_.value).endswith(": " + case["reason"]) and img[key] == before


@pytest.mark.parametrize("case", PARAM_FILE_RULES["cases"], ids=lambda c: c["name"])
def test_param_file_rules(tmp_path, case):
    text = text_of(case["text"])
    parsed = vexdram.parse_params(text.encode("utf-8"))
    assert [list(v) for v in parsed.lines] == case["values"]
    assert [list(p) for p in parsed.problems] == case["problems"]
    # read from a file, strictly: every problem refused
    (tmp_path / "p.txt").write_bytes(text.encode("utf-8"))
    if case["problems"]:
        with pytest.raises(vexdram.Refused) as e:
            vexdram.read_params(str(tmp_path / "p.txt"))
        assert e.value.problems == [f"line {line}: {why}" for line, why in case["problems"]]
    else:
        assert vexdram.read_params(str(tmp_path / "p.txt")).lines == parsed.lines


def test_param_file_bound(tmp_path):
    """Exactly the limit is read (blank lines), one byte more is refused, and so is a source that
    never ends."""
    limit = PARAM_FILE_RULES["file_limit"]
    line = b" " * 1000 + b"\n"
    (tmp_path / "p.txt").write_bytes(line * (limit // len(line)) + b" " * (limit % len(line)))
    assert len(vexdram.read_params(str(tmp_path / "p.txt"))) == 0
    with open(tmp_path / "p.txt", "ab") as f:
        f.write(b" ")
    for path in (tmp_path / "p.txt", "/dev/zero"):
        with pytest.raises(vexdram.BadFile) as e:
            vexdram.read_params(str(path))
        assert (str(e.value), e.value.file) == (PARAM_FILE_RULES["file_too_large"], str(path))


@pytest.mark.parametrize("case", CHIP_NAME_RULES, ids=lambda c: c["name"])
def test_chip_name_rules(case):
    assert vexdram.chip_in_name(case["name"]) == case["chip"]
    data = builder.build(5, seed=4)
    if case["chip"]:
        assert vexdram.from_bytes(data, case["name"]).chip == case["chip"]
    else:
        with pytest.raises(vexdram.Refused) as e:
            vexdram.from_bytes(data, case["name"])
        assert e.value.code == "no_chip"


def test_file_kind_rules(tmp_path):
    for i, case in enumerate(FILE_KIND_RULES):
        path = tmp_path / f"{i:02}"
        with open(path, "wb") as f:
            f.write(text_of(case["bytes"]).encode("latin-1"))
            f.truncate(case.get("size", f.tell()))
        assert vexdram.file_kind(str(path)) == case["kind"], case["name"]
