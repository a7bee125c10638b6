#!/usr/bin/python3
"""What the module adds to a run of the tool: update_ddr_bin against a bare modify run of
vexdram_tool with the same parameter file, and get_ddr_params against a bare report run, each
pair interleaved, in a host directory made from the install tree (the module's own interpreter;
TMPDIR chooses its file system). For update_ddr_bin it also times the bare run after writing the
parameter file as the operation must (open(path, "w")): on ext4 that rewrite of an existing file
is flushed at close, which the bare run never pays.

    /usr/bin/python3 bench/module_bench.py [--dist DIST] [--rounds N] [--profile]

Prints the medians in milliseconds and their ratio; --profile also prints where the module's
call spends its time beyond the tool's run (cProfile of the interpreter functions it calls).
"""
import argparse
import cProfile
import os
import pstats
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
SAMPLE, CHIP = "tq6951_ddr_v5.bin", "TQ6951"


def median_ms(samples):
    return statistics.median(samples) * 1000


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--dist", default=str(REPO / "dist"))
    ap.add_argument("--rounds", type=int, default=200)
    ap.add_argument("--profile", action="store_true")
    args = ap.parse_args()
    dist = Path(args.dist).resolve()
    host = Path(tempfile.mkdtemp(prefix="vexdram-module-bench-"))
    try:
        shutil.copytree(dist / "resource", host / "resource")
        for f in dist.glob("dramforge*.so"):
            shutil.copy(f, host)
        shutil.copy(REPO / "examples" / SAMPLE, host / SAMPLE)
        os.chdir(host)
        sys.path.insert(0, str(host))
        import dramforge
        df = dramforge.dramforge
        params, _ = df.get_ddr_params(SAMPLE, CHIP)
        params["ddr3_freq"] = "933"
        tool = ["resource/tools/vexdram_tool", CHIP.lower()]
        update = lambda: df.update_ddr_bin(params, SAMPLE, CHIP, ddr_bin_path_rename=False)  # noqa: E731
        bare_modify = lambda: subprocess.run(tool + ["output/gen_param_new.txt", SAMPLE],  # noqa: E731
                                             stdout=subprocess.PIPE, universal_newlines=True)
        get = lambda: df.get_ddr_params(SAMPLE, CHIP)  # noqa: E731
        bare_report = lambda: subprocess.run(tool + ["-g", "output/gen_param.txt", SAMPLE],  # noqa: E731
                                             stdout=subprocess.PIPE, universal_newlines=True)
        update()
        text = open("output/gen_param_new.txt").read()

        def written_then_bare():
            with open("output/gen_param_new.txt", "w") as f:
                f.write(text)
            bare_modify()

        for name, module_call, bare, floor in (("update_ddr_bin", update, bare_modify, written_then_bare),
                                               ("get_ddr_params", get, bare_report, None)):
            a, b, c = [], [], []
            for _ in range(args.rounds):
                for run, into in ((module_call, a), (bare, b), (floor, c)):
                    if run:
                        t0 = time.perf_counter()
                        run()
                        into.append(time.perf_counter() - t0)
            print(f"{name}: {median_ms(a):.2f} ms, bare tool run {median_ms(b):.2f} ms, "
                  f"ratio {median_ms(a) / median_ms(b):.2f} (medians of {args.rounds} interleaved rounds)")
            if c:
                print(f"  the parameter file written, then the bare run: {median_ms(c):.2f} ms; "
                      f"update_ddr_bin against it {median_ms(a) / median_ms(c):.2f}")
            if args.profile:
                prof = cProfile.Profile()
                prof.runcall(lambda: [module_call() for _ in range(50)])
                pstats.Stats(prof).sort_stats("cumulative").print_stats(12)
    finally:
        shutil.rmtree(host, ignore_errors=True)


if __name__ == "__main__":
    main()
