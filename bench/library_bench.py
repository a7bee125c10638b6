#!/usr/bin/python3
"""The engine in process against the engine behind a process: opening a binary with the Python
package vexdram and reading all 484 values (as a dict), against one get_ddr_params call of the
dramforge module (which runs vexdram_tool and reads its report), interleaved, in a host directory
made from the install tree. Not a timed test: run it by hand.

    /usr/bin/python3 bench/library_bench.py [--dist DIST] [--rounds N]

Prints the medians in microseconds and their ratio (the aim: 100 times; at least 20).
"""
import argparse
import os
import shutil
import statistics
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
SAMPLE, CHIP = "tq6951_ddr_v5.bin", "TQ6951"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--dist", default=str(REPO / "dist"))
    ap.add_argument("--rounds", type=int, default=300)
    args = ap.parse_args()
    dist = Path(args.dist).resolve()
    host = Path(tempfile.mkdtemp(prefix="vexdram-library-bench-"))
    try:
        shutil.copytree(dist / "resource", host / "resource")
        for pattern in ("dramforge*.so", "vexdram*.so"):
            for f in dist.glob(pattern):
                shutil.copy(f, host)
        shutil.copy(REPO / "examples" / SAMPLE, host / SAMPLE)
        os.chdir(host)
        sys.path.insert(0, str(host))
        import dramforge
        import vexdram
        df = dramforge.dramforge
        # the same values: the module gives them as text, as the report writes them
        through_tool, _ = df.get_ddr_params(SAMPLE, CHIP)
        report = vexdram.open(SAMPLE).report().splitlines()[:-1]
        assert dict(line.split("=", 1) for line in report) == through_tool
        times = {"in process": [], "get_ddr_params": []}
        for _ in range(args.rounds):
            start = time.perf_counter()
            values = vexdram.open(SAMPLE).as_dict()
            times["in process"].append(time.perf_counter() - start)
            assert len(values) == 484
            start = time.perf_counter()
            df.get_ddr_params(SAMPLE, CHIP)
            times["get_ddr_params"].append(time.perf_counter() - start)
        medians = {k: statistics.median(v) * 1e6 for k, v in times.items()}
        for k, v in medians.items():
            print(f"{k:>15}: {v:9.1f} us (median of {args.rounds})")
        print(f"{'ratio':>15}: {medians['get_ddr_params'] / medians['in process']:9.0f} x")
    finally:
        os.chdir("/")
        shutil.rmtree(host, ignore_errors=True)


if __name__ == "__main__":
    main()
