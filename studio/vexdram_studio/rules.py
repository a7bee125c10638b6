"""What a value may be, and how wide each parameter's field is in a given binary.

The tool reads values with strtoul (base 0): a leading 0 makes a number octal and conversion stops
at the first character that does not fit. The page accepts only what means the same to a person
and to the tool: decimal digits without a leading 0, or 0x and hexadecimal digits. The catalogue
(written by gen_docs from the tool's tables) says where each parameter is stored and how wide.
"""
import json
import re
from pathlib import Path
from typing import Dict, List, NamedTuple, Optional, Tuple

MAX_U32 = 0xFFFFFFFF
_DECIMAL = re.compile(r"[0-9]+")
_HEX = re.compile(r"0[xX][0-9a-fA-F]+")


class Number(NamedTuple):
    value: Optional[int]
    reason: str  # why it was refused; "" when value is set


def parse_number(text: str) -> Number:
    """A whole number the way the page accepts it (surrounding blanks ignored)."""
    t = text.strip()
    if t == "":
        return Number(None, "a value is needed")
    if _HEX.fullmatch(t):
        value = int(t, 16)
    elif _DECIMAL.fullmatch(t):
        if len(t) > 1 and t[0] == "0":
            return Number(None, f"a leading 0 makes the tool read {t} as octal: "
                                f"write {int(t)} or 0x{int(t):x}")
        value = int(t)
    elif t.startswith("-"):
        return Number(None, "negative values are not stored")
    else:
        return Number(None, "not a whole number: decimal digits, or 0x and hexadecimal digits")
    if value > MAX_U32:
        return Number(None, "larger than 32 bits")
    return Number(value, "")


def report_value(text: str) -> Optional[int]:
    """A value as the tool's report writes it: 0x hexadecimal or signed 32-bit decimal."""
    t = text.strip()
    try:
        value = int(t, 16) if t.lower().startswith("0x") else int(t, 10)
    except ValueError:
        return None
    return value & MAX_U32


class Catalogue:
    """The parameter catalogue: keys in number order, each with its report format and places."""

    def __init__(self, data: Dict[str, object]) -> None:
        self.data = data
        params = data["parameters"]
        assert isinstance(params, list)
        self.params: List[Dict[str, object]] = params
        self.by_key: Dict[str, Dict[str, object]] = {str(p["key"]): p for p in params}
        chips = data["chips"]
        assert isinstance(chips, list)
        self.chips: List[str] = [str(c) for c in chips]
        self.start_tag = str(data["start_tag"])

    @classmethod
    def load(cls, path: Path) -> "Catalogue":
        return cls(json.loads(path.read_text(encoding="utf-8")))

    def keys(self) -> List[str]:
        return [str(p["key"]) for p in self.params]

    def width(self, key: str, version: Optional[int], chip: str) -> Optional[int]:
        """The field's width in a binary of this version read for this chip; None where that
        binary does not store the parameter. An unknown version takes the widest place."""
        places = self.by_key[key]["places"]
        assert isinstance(places, list)
        widths = [int(p["width"]) for p in places
                  if (version is None or version in p["versions"])
                  and p.get("chip", chip.lower()) == chip.lower()]
        return max(widths) if widths else None

    def canonical(self, key: str, value: int) -> str:
        """The value as the report writes it, so that an unchanged number compares equal."""
        if self.by_key[key]["format"] == "hex":
            return f"0x{value:x}"
        return str(value - (1 << 32) if value > 0x7FFFFFFF else value)

    def check(self, key: str, text: str, version: Optional[int], chip: str) -> Tuple[str, str]:
        """(canonical value, "") or ("", reason) for a value typed for key."""
        if key not in self.by_key:
            return "", "not a parameter"
        if key == "start tag":
            return "", "the start tag is fixed"
        number = parse_number(text)
        if number.value is None:
            return "", number.reason
        width = self.width(key, version, chip) or 32
        if number.value > (1 << width) - 1:
            return "", f"does not fit its {width}-bit field (largest {(1 << width) - 1})"
        return self.canonical(key, number.value), ""


class ParamLine(NamedTuple):
    line: int
    key: str
    value: str


class Refused(NamedTuple):
    line: int
    text: str
    reason: str


def read_param_text(text: str, catalogue: Catalogue) -> Tuple[List[ParamLine], List[Refused]]:
    """The name=value lines of a parameter file or report. Blank values keep the binary's value
    and give nothing; "/*" starts a comment. Lines that name no parameter or hold no usable value
    are returned with the reason."""
    found: List[ParamLine] = []
    refused: List[Refused] = []
    for n, raw in enumerate(text.splitlines(), start=1):
        line = raw.split("/*", 1)[0].strip()
        if line in ("", "end"):
            continue
        key, eq, value = line.partition("=")
        key, value = key.strip(), value.strip()
        if not eq:
            refused.append(Refused(n, raw, "no '='"))
        elif key not in catalogue.by_key:
            refused.append(Refused(n, raw, "not a parameter"))
        elif key == "start tag":
            if value.lower() != catalogue.start_tag:
                refused.append(Refused(n, raw, f"the start tag is {catalogue.start_tag}"))
        elif value != "":
            number = parse_number(value)
            if number.value is None:
                refused.append(Refused(n, raw, number.reason))
            else:
                found.append(ParamLine(n, key, catalogue.canonical(key, number.value)))
    return found, refused
