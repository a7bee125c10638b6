"""Container header decoding, checked against struct, str() of bytes and hex() in Python."""
import json
import struct

import pytest

from conftest import REPO

HEADER = struct.Struct("<4sH4BI7s4sBIBBIBBIBBBBB")
KEYS = ["uiTag", "ussize", "dwVersion", "dwMergeVersion", "stReleaseTime", "emSupportChip",
        "uc471EntryCount", "dw471EntryOffset", "uc471EntrySize", "uc472EntryCount",
        "dw472EntryOffset", "uc472EntrySize", "ucLoaderEntryCount", "dwLoaderEntryOffset",
        "ucLoaderEntrySize", "ucSignFlag", "ucRc4Flag", "uc471Rc4Off", "ucCrcOff", "ucRc4Params",
        "471_dwDataDelay", "472_dwDataDelay"]


def container(tag=b"BOOT", version=(1, 2), merge=0, release=bytes(7), chip=b"4321",
              flags=(0, 0, 0, 0), off471=47, off472=101, delays=(0, 0), size=200):
    """A header, then zero bytes; the data delays sit in byte 53 of each table's first entry."""
    data = bytearray(HEADER.pack(tag, 0x66, *version, 0, 0, merge, release, chip,
                                 1, off471, 57, 1, off472, 57, 1, 155, 57, *flags))
    data += bytes(size - len(data))
    for offset, delay in zip((off471, off472), delays):
        if offset + 53 < size:
            data[offset + 53] = delay
    return bytes(data)


def oracle(data):
    items = HEADER.unpack(data[:47])
    strip = lambda b: str(b)[2:-1]  # noqa: E731
    chip = strip(items[8])
    sign, rc4, off, crc = items[18:22]
    return dict(zip(KEYS, [
        strip(items[0]), str(items[1]), f"{items[3]}.{items[2]}", hex(items[6]), str(items[7]),
        chip[3] + chip[2] + chip[1] + chip[0], *items[9:18], str(sign), str(rc4), str(off),
        str(crc), str(crc << 2 | off << 1 | rc4),
        str(data[items[10] + 53]), str(data[items[13] + 53])]))


@pytest.mark.parametrize("fields, spot", [
    (dict(), {"uiTag": "BOOT", "dwVersion": "2.1", "emSupportChip": "1234"}),
    (dict(tag=b"LDR "), {"uiTag": "LDR "}),
    (dict(tag=b"ABC\x00"), {"uiTag": "ABC\\x00"}),
    (dict(tag=b"A'B\""), {"uiTag": "A\\'B\""}),
    (dict(tag=b"A'BC"), {"uiTag": "A'BC"}),
    (dict(tag=b"\xff\x80\\\t"), {"uiTag": "\\xff\\x80\\\\\\t"}),
    (dict(release=b"\xe8\x07\x01\x02\x03\x04\x05"),
     {"stReleaseTime": "b'\\xe8\\x07\\x01\\x02\\x03\\x04\\x05'"}),
    (dict(release=b"'\n\r\x7f\"ab"), {"stReleaseTime": "b'\\'\\n\\r\\x7f\"ab'"}),
    (dict(chip=b"8765"), {"emSupportChip": "5678"}),
    (dict(chip=b"\x00123"), {"emSupportChip": "00x\\"}),
    (dict(version=(0x10, 3)), {"dwVersion": "3.16"}),
    (dict(merge=0x01000000), {"dwMergeVersion": "0x1000000"}),
    (dict(merge=0xFFFFFFFF), {"dwMergeVersion": "0xffffffff"}),
    (dict(flags=(0, 1, 0, 1)), {"ucRc4Params": "5"}),
    (dict(flags=(0, 2, 0, 0)), {"ucRc4Params": "2"}),
    (dict(flags=(7, 255, 255, 255)), {"ucRc4Params": "1023", "ucSignFlag": "7"}),
    (dict(delays=(9, 250)), {"471_dwDataDelay": "9", "472_dwDataDelay": "250"}),
])
def test_header_matches_python_decoding(df, tmp_path, fields, spot):
    path = tmp_path / "c.bin"
    data = container(**fields)
    path.write_bytes(data)
    got = df.get_loader_param(str(path))
    assert list(got) == KEYS
    assert got == oracle(data)
    assert {k: got[k] for k in spot} == spot
    again = df.get_loader_param(loader_file_path=str(path))
    assert again == got and again is not got


def test_472_offset_zero_reads_byte_53_of_the_file(df, tmp_path):
    data = bytearray(container(off472=0))
    data[53] = 0xAB
    (tmp_path / "c.bin").write_bytes(data)
    assert df.get_loader_param(str(tmp_path / "c.bin"))["472_dwDataDelay"] == "171"


# The shared table of file kinds (vexdram and the studio run it too): its rows of one text of
# five bytes or more, which the module's check reads (the others are about text files).
KINDS = [c for c in json.loads((REPO / "tests" / "file_kind_rules.json").read_text())["cases"]
         if c.get("size", len(c["bytes"])) >= 5 and isinstance(c["bytes"], str)]


@pytest.mark.parametrize("case", KINDS, ids=lambda c: c["name"])
def test_check_if_loadr_file(df, tmp_path, case):
    (tmp_path / "c.bin").write_bytes(case["bytes"].encode("latin-1"))
    assert df.check_if_loadr_file(str(tmp_path / "c.bin")) is (case["kind"] == "loader")


@pytest.mark.parametrize("op, data, fmt", [
    ("check_if_loadr_file", b"BOOT", "5s"),
    ("get_loader_param", container()[:46], HEADER.format),
    ("get_loader_param", container(off472=190), "<53sB"),
])
def test_short_data_raises_structs_own_error(df, tmp_path, op, data, fmt):
    (tmp_path / "c.bin").write_bytes(data)
    with pytest.raises(struct.error) as ours:
        getattr(df, op)(str(tmp_path / "c.bin"))
    with pytest.raises(struct.error) as theirs:
        struct.unpack(fmt, data[:struct.calcsize(fmt) - 1])
    assert str(ours.value) == str(theirs.value)


@pytest.mark.parametrize("op", ["check_if_loadr_file", "get_loader_param"])
def test_missing_file_raises_the_open_error(df, tmp_path, op):
    with pytest.raises(FileNotFoundError):
        getattr(df, op)(str(tmp_path / "absent.bin"))


def test_each_operation_keeps_its_own_keyword(df, tmp_path):
    path = tmp_path / "c.bin"
    path.write_bytes(container())
    assert df.get_cfg_file(csv_file_path=str(tmp_path / "absent.csv")) is None
    assert df.check_if_loadr_file(loader_file_path=str(path)) is True
    assert df.get_loader_param(loader_file_path=str(path))["uiTag"] == "BOOT"
