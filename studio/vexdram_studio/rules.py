"""What a value may be, how wide each parameter's field is in a given binary, how a parameter
file is read, and what kind of file a file is: vexdram's rules, each tested against its table in
tests/ as vexdram is.

The tool reads values with strtoul (base 0): a leading 0 makes a number octal and conversion stops
at the first character that does not fit. The studio accepts only what means the same to a person
and to the tool: decimal digits without a leading 0, or 0x and hexadecimal digits, and negative
decimals only as the report writes 32-bit values. The page's rules.js follows the same rule; both
are tested against tests/value_rules.json, as the vexdram command line is. The catalogue (written
by gen_docs from the tool's tables) says where each parameter is stored and how wide.
"""
import json
import re
from pathlib import Path
from typing import Dict, List, NamedTuple, Optional, Tuple

MAX_U32 = 0xFFFFFFFF
BLANKS = " \t"  # the only blanks around a value that are ignored
# ASCII digits only: int() alone would also take underscores and other scripts' digits.
_DECIMAL = re.compile(r"[0-9]+")
_NEGATIVE = re.compile(r"-[0-9]+")
_HEX = re.compile(r"0[xX][0-9a-fA-F]+")
NOT_A_NUMBER = "not a whole number: decimal digits, or 0x and hexadecimal digits"
NEGATIVE_RANGE = ("a negative value is taken only from -2147483648 to -1, "
                  "as the report writes 32-bit values")
TOO_LARGE = "larger than 32 bits"


class Number(NamedTuple):
    value: Optional[int]
    reason: str  # why it was refused; "" when value is set


def _digits(digits: str, base: int) -> Optional[int]:
    """The value of ASCII digits; None beyond 32 bits (found without converting a long text)."""
    digits = digits.lstrip("0")
    if len(digits) > (8 if base == 16 else 10):
        return None
    value = int(digits or "0", base)
    return value if value <= MAX_U32 else None


def parse_number(text: str) -> Number:
    """A whole number the way a person may type it: decimal without a leading 0, 0x hexadecimal,
    or a negative decimal as the report writes a 32-bit value (-1 is 0xffffffff)."""
    t = text.strip(BLANKS)
    if t == "":
        return Number(None, "a value is needed")
    if _HEX.fullmatch(t):
        value = _digits(t[2:], 16)
    elif _DECIMAL.fullmatch(t):
        value = _digits(t, 10)
        if len(t) > 1 and t[0] == "0" and value is not None:
            return Number(None, f"a leading 0 makes the tool read {t} as octal: "
                                f"write {value} or 0x{value:x}")
    elif _NEGATIVE.fullmatch(t):
        magnitude = _digits(t[1:], 10)
        if t[1] == "0" or magnitude is None or magnitude > 1 << 31:
            return Number(None, NEGATIVE_RANGE)
        value = (1 << 32) - magnitude
    else:
        return Number(None, NOT_A_NUMBER)
    if value is None:
        return Number(None, TOO_LARGE)
    return Number(value, "")


def parse_value(text: str, width: int) -> Number:
    """A number typed for a field of width bits."""
    number = parse_number(text)
    if number.value is not None and number.value > (1 << width) - 1:
        return Number(None, f"does not fit its {width}-bit field (largest {(1 << width) - 1})")
    return number


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
        number = parse_value(text, self.width(key, version, chip) or 32)
        if number.value is None:
            return "", number.reason
        return self.canonical(key, number.value), ""


class ParamLine(NamedTuple):
    line: int
    key: str
    value: str


class Refused(NamedTuple):
    line: int
    text: str
    reason: str


# How a parameter file is read strictly: the same rule as vexdram apply's, both tested against
# tests/param_file_rules.json. vexdram_tool's reader decides what a line is: only a line feed
# ends one, and it takes at most 1023 bytes of a line at a time.
FILE_LIMIT = 16 << 20
FILE_TOO_LARGE = "larger than 16 MiB: not a parameter file"
LINE_LIMIT = 1023
LINE_TOO_LONG = f"longer than {LINE_LIMIT} bytes: vexdram_tool would read it in pieces"
BARE_CR = "a carriage return inside the line: only a line feed ends a line"
HAS_NUL = "it holds a NUL byte"
BYTE_ORDER_MARK = b"\xef\xbb\xbf"
SHOWN = 40


# What kind of file a file is: vexdram's rule, both tested against tests/file_kind_rules.json.
# Whether it is a loader container, the module's check_if_loadr_file says; any other file is text,
# read as a parameter file, when it is 1 byte to 16 MiB long and its first 64 KiB hold no NUL
# byte (a DDR binary's index holds several); anything else is a binary.
TEXT_WINDOW = 1 << 16


def is_text(path: Path) -> bool:
    """True for a file that is no loader container and reads as text (see above)."""
    size = path.stat().st_size
    if not 0 < size <= FILE_LIMIT:
        return False
    with open(path, "rb") as f:
        return b"\0" not in f.read(TEXT_WINDOW)


def shown(text: str) -> str:
    """A text echoed in a message: at most 40 characters, then "..."."""
    return text if len(text) <= SHOWN else text[:SHOWN] + "..."


def distance(key: str, other: str) -> int:
    """The edit distance (Levenshtein) of two texts in one pass over other, with a bit per
    character of key (Myers' bit-vector algorithm): the textbook table costs seconds a line for
    the 484 keys and a long mistyped one."""
    if not key:
        return len(other)
    peq: Dict[str, int] = {}
    for i, c in enumerate(key):
        peq[c] = peq.get(c, 0) | 1 << i
    mask, last = (1 << len(key)) - 1, 1 << (len(key) - 1)
    pv, mv, score = mask, 0, len(key)
    for c in other:
        eq = peq.get(c, 0)
        xv = eq | mv
        xh = (((eq & pv) + pv) ^ pv) | eq
        ph = (mv | ~(xh | pv)) & mask
        mh = pv & xh
        score += (ph & last != 0) - (mh & last != 0)
        ph = (ph << 1 | 1) & mask
        mh = (mh << 1) & mask
        pv = (mh | ~(xv | ph)) & mask
        mv = ph & xv
    return score


def nearest_keys(key: str, keys: List[str], count: int = 3) -> List[str]:
    """The keys nearest to a mistyped one (edit distance), catalogue order among equals."""
    return sorted(keys, key=lambda k: distance(key, k))[:count]


def unknown_key(key: str, keys: List[str]) -> str:
    return f"no parameter '{shown(key)}'; nearest: " + ", ".join(nearest_keys(key, keys))


def read_param_text(data: bytes, catalogue: Catalogue) -> Tuple[List[ParamLine], List[Refused]]:
    """The name=value lines of a parameter file or report. Blank values keep the binary's value
    and give nothing; "/*" starts a comment; a key given again with another value, and every line
    that names no parameter or holds no usable value, are returned with the reason."""
    found: List[ParamLine] = []
    refused: List[Refused] = []
    given: Dict[str, Tuple[int, int]] = {}
    if data.startswith(BYTE_ORDER_MARK):  # vexdram_tool's reader finds the key after it
        data = data[len(BYTE_ORDER_MARK):]
    lines = data.split(b"\n")
    if lines[-1] == b"":
        lines.pop()
    for n, raw in enumerate(lines, start=1):
        text = raw.decode("utf-8", "replace")
        if len(raw) > LINE_LIMIT:
            refused.append(Refused(n, shown(text), LINE_TOO_LONG))
            continue
        if raw.endswith(b"\r"):
            raw = raw[:-1]
        if b"\0" in raw:
            refused.append(Refused(n, shown(text), HAS_NUL))
            continue
        line = raw.decode("utf-8", "replace").split("/*", 1)[0].strip(BLANKS)
        if "\r" in line:
            refused.append(Refused(n, shown(text), BARE_CR))
            continue
        if line in ("", "end"):
            continue
        key, eq, value = line.partition("=")
        key, value = key.strip(BLANKS), value.strip(BLANKS)
        if not eq:
            refused.append(Refused(n, shown(text), f"no '=' in '{shown(line)}'"))
            continue
        if key not in catalogue.by_key:
            refused.append(Refused(n, shown(text), unknown_key(key, catalogue.keys())))
            continue
        if value == "":
            # vexdram_tool's reader takes a key's last line: a blank after a value would undo it.
            if key in given:
                refused.append(Refused(n, shown(text), f"{key} is left blank after a value on line {given[key][0]}"))
            continue
        number = parse_number(value)
        if number.value is None:
            refused.append(Refused(n, shown(text), f"{key}={shown(value)}: {number.reason}"))
        elif key == "start tag" and number.value != int(catalogue.start_tag, 16):
            refused.append(Refused(n, shown(text), f"the start tag is {catalogue.start_tag}, not {shown(value)}"))
        elif key in given:
            first, earlier = given[key]
            if earlier != number.value:
                refused.append(Refused(n, shown(text), f"{key} is given again (first on line {first})"))
        else:
            given[key] = (n, number.value)
            found.append(ParamLine(n, key, catalogue.canonical(key, number.value)))
    return found, refused
