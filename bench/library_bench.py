#!/usr/bin/python3
"""The engine in process against the engine behind a process: opening a binary with the Python
package vexdram and reading all 484 values (as a dict), against one get_ddr_params call of the
dramforge module (which runs vexdram_tool and reads its report), in a host directory made from
the install tree. Timed two ways: interleaved (one of each in turn, so that each in-process open
meets caches the program's start has just cooled), and in runs of each. Not a timed test: run it
by hand.

    /usr/bin/python3 bench/library_bench.py [--dist DIST] [--rounds N]

Prints the medians in microseconds and their ratios (the aim: 100 times; at least 20).
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
        def in_process():
            start = time.perf_counter()
            values = vexdram.open(SAMPLE).as_dict()
            assert len(values) == 484
            return time.perf_counter() - start

        def through_module():
            start = time.perf_counter()
            df.get_ddr_params(SAMPLE, CHIP)
            return time.perf_counter() - start

        for how in ("interleaved", "in runs"):
            times = {"in process": [], "get_ddr_params": []}
            if how == "interleaved":
                for _ in range(args.rounds):
                    times["in process"].append(in_process())
                    times["get_ddr_params"].append(through_module())
            else:
                times["in process"] = [in_process() for _ in range(args.rounds * 10)]
                times["get_ddr_params"] = [through_module() for _ in range(args.rounds)]
            medians = {k: statistics.median(v) * 1e6 for k, v in times.items()}
            print(f"{how}: in process {medians['in process']:.1f} us, get_ddr_params "
                  f"{medians['get_ddr_params']:.1f} us (medians), ratio "
                  f"{medians['get_ddr_params'] / medians['in process']:.0f} x")
    finally:
        os.chdir("/")
        shutil.rmtree(host, ignore_errors=True)


if __name__ == "__main__":
    main()
