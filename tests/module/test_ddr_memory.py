"""The DDR operations keep nothing: thousands of calls, on the normal and on the failing paths,
leave the interpreter's block count and the process's resident memory flat.

VEXDRAM_MEMORY_CALLS sets the number of calls per loop (default 2000)."""
import gc
import logging
import os
import sys

import pytest

CALLS = int(os.environ.get("VEXDRAM_MEMORY_CALLS", "2000"))


def _rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def _measure(loop):
    loop(300)  # warm-up: caches of subprocess, logging, imports
    gc.collect()
    blocks, rss = sys.getallocatedblocks(), _rss_kib()
    loop(CALLS)
    gc.collect()
    return sys.getallocatedblocks() - blocks, _rss_kib() - rss


@pytest.fixture
def sh_tool(host):
    """A quick /bin/sh stand-in for vexdram_tool with a full-size report."""
    report = host.root / "report.txt"
    report.write_text("start tag=0x12345678\n"
                      + "".join(f"param_{n}={n}\n" for n in range(1, 484)) + "end\n")
    tool = host.tools / "vexdram_tool"
    tool.write_text(
        "#!/bin/sh\n"
        f'if [ "$2" = "-g" ]; then cat "{report}" > "$3"; echo "generate info from bin file ok.";\n'
        'else echo "modify end"; fi\n')
    tool.chmod(0o755)
    os.mkdir("in")
    with open("in/tq6951.bin", "wb") as f:
        f.write(bytes(64))
    return host


def _road(df):
    def loop(n):
        for _ in range(n):
            res, ret = df.get_ddr_params("in/tq6951.bin", "tq6951")
            assert ret == 0 and len(res) == 484
            res["param_3"] = "7"
            df.update_ddr_bin(res, "in/tq6951.bin", "TQ6951/TQ6583")
            diff, _ = df.cpmpare_ddr_param()
            assert diff == {"param_3": "7"}
    return loop


def _failures(df):
    def loop(n):
        for _ in range(n):
            for call in (lambda: df.get_ddr_params(),
                         lambda: df.update_ddr_bin({}, "x", bogus=1),
                         lambda: df.cpmpare_ddr_param(1),
                         lambda: df.update_ddr_bin({"a": 1}, "in/tq6951.bin")):
                try:
                    call()
                except TypeError:
                    pass
            os.makedirs("output", exist_ok=True)
            with open("output/gen_param.txt", "w") as f:
                f.write("start tag=0x12345678\nend\n")
            with open("output/gen_param_new.txt", "w") as f:
                f.write("end")
            try:
                df.cpmpare_ddr_param()
            except KeyError:
                pass
            os.rename("resource/tools/vexdram_tool", "resource/tools/away")
            assert df.get_ddr_params("in/tq6951.bin", "tq6951") == ({}, -3)
            os.rename("resource/tools/away", "resource/tools/vexdram_tool")
    return loop


@pytest.mark.parametrize("road", [_road, _failures], ids=["road", "failures"])
def test_memory_stays_flat(df, dramforge_module, sh_tool, road, capsys, monkeypatch):
    # pytest keeps every record it sees; a sink that drops them still takes every call.
    sink = logging.getLogger("dramforge.memory.sink")
    sink.propagate = False
    sink.setLevel(logging.DEBUG)
    sink.addHandler(logging.NullHandler())
    monkeypatch.setattr(dramforge_module, "logger", sink)
    blocks, rss = _measure(road(df))
    with capsys.disabled():
        print(f"\n{road.__name__}: {CALLS} loops, blocks {blocks:+d}, RSS {rss:+d} KiB")
    # One object kept per call would show as CALLS blocks or more; caches settling after the
    # warm-up account for a few hundred at most.
    assert blocks < CALLS // 4
    assert rss < 1024
