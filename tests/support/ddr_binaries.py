"""Synthetic DDR binaries of every block version for the Python tests (vexdram's, the studio's,
the Windows comparison), built here from the block format: a random lead, the start tag, the
version, the index and its sections (or the version-1 record), random words everywhere; and the
two blocks no front may write: sections that overlap, a skew section that begins inside another."""
import random
import struct

# index entry: (number, record words in versions 2-4, in version 5)
SECTIONS = {"global": (1, 8, 8), "ddr2": (2, 9, 11), "ddr3": (3, 9, 11), "ddr4": (4, 9, 11),
            "lp2": (6, 9, 11), "lp3": (7, 9, 11), "lp4": (8, 13, 13), "lp5": (9, 13, 13),
            "skew": (10, 28, 28), "dq_map": (11, 8, 8), "lp4x": (12, 13, 13), "hash": (13, 8, 8)}
TAG = 0x12345678
LEAD = 64  # bytes before the start tag


def build(version, sections=tuple(SECTIONS), seed=1, sizes=None, skew_sub=1):
    """A DDR binary: sections laid out one after another after the index, each its record's size
    unless `sizes` says otherwise; the skew section's first byte is its sub-version."""
    rng = random.Random(seed)
    words = lambda n: [rng.getrandbits(32) for _ in range(n)]  # noqa: E731
    block = [TAG, version]
    if version <= 1:
        block += words(1 + 10)
    else:
        index, body, at = [0] * 28, [], 9
        for name in sections:
            entry, v2, v5 = SECTIONS[name]
            size = (sizes or {}).get(name, v5 if version == 5 else v2)
            content = words(max(size, 1))
            if name == "skew":
                content[0] = (content[0] & ~0xFF) | skew_sub
            index[2 * entry], index[2 * entry + 1] = at, size
            body += content[:size]
            at += size
        block += list(struct.unpack("<7I", bytes(index))) + body
    data = bytes(rng.getrandbits(8) for _ in range(LEAD)) + struct.pack(f"<{len(block)}I", *block) + bytes(32)
    assert data.find(struct.pack("<I", TAG)) == LEAD
    return data


def moved(data, section, offset):
    """data with the section's index entry moved to another block word."""
    data = bytearray(data)
    data[LEAD + 8 + 2 * SECTIONS[section][0]] = offset
    return bytes(data)


def overlapping(seed=1):
    """A version-5 block whose LPDDR2 section begins inside its DDR2 section (block word 18)."""
    return moved(build(5, sections=("global", "ddr2", "lp2"), seed=seed), "lp2", 18)


def skew_in_section(seed=1):
    """A version-5 block whose skew section (of sub-version 2) begins inside its LPDDR3 section:
    writing LPDDR3 back could make it sub-version 1, and its parameters read otherwise."""
    data = bytearray(moved(build(5, sections=("global", "lp3", "skew"), skew_sub=2, seed=seed), "skew", 18))
    data[LEAD + 4 * 18] = 2
    return bytes(data)
