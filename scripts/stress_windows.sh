#!/usr/bin/env bash
# Stress runs of the Windows programs under Wine, not run by CI (build dist/ and run
# scripts/test_windows.sh first). Two runs that once failed one time in hundreds or thousands:
#   - the differential case tq6420_gen_v0_35.bin of tests/windows/test_differential.py (report
#     form "-gr.txt x", then its modify run with the parameter file the test gives it), RUNS times,
#     four at a time as the test runs its cases, by vexdram_tool.exe and by vexdram_tool;
#   - an in-place edit that vexdram.exe refuses (a value too wide for its field: status 2 and one
#     line), REFUSALS times, four at a time, beside vexdram on Linux.
# Every run whose status or output differs from the Linux program's is printed with its standard
# error. Wine runs with WINEDEBUG=-all,err+virtual: its own failure to start then names itself.
#   scripts/stress_windows.sh [RUNS [REFUSALS [raw|harness]]]      (default 6000 3000 raw)
# raw: each run once (what the programs and Wine do); harness: the tests' rule (tests/wine_runs.py),
# a run that shows Wine's failure to start is run once more, counted, and a second one fails.
# STRESS_WINEDEBUG=channels (e.g. +process,+loaddll,+seh,err+all) looks closer at the failures:
# Wine's lines are then left out of the comparison and shown with the failing run.
set -euo pipefail
cd "$(dirname "$0")/.."
export VEXDRAM_DIST=${VEXDRAM_DIST:-$PWD/dist} VEXDRAM_DIST_WIN=${VEXDRAM_DIST_WIN:-$PWD/dist-win}
export VEXDRAM_BUILD_WIN=${VEXDRAM_BUILD_WIN:-$PWD/build-win}
export WINEPREFIX=${WINEPREFIX:-$VEXDRAM_BUILD_WIN/wine} LANG=C.UTF-8
export WINEDEBUG=${STRESS_WINEDEBUG:--all,err+virtual}
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(dirname "$wine")/wineserver
trap '"$wineserver" -k 2>/dev/null || true' EXIT
"$wine" "$VEXDRAM_DIST_WIN"/resource/tools/vexdram_tool.exe </dev/null >/dev/null 2>&1 || true
"$wineserver" -p 2>/dev/null || true
/usr/bin/python3 - "${1:-6000}" "${2:-3000}" "${3:-raw}" <<'EOF'
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

sys.path[:0] = ["tests/windows", "tests"]
import wine_runs  # noqa: E402
import test_differential as td  # noqa: E402
from conftest import LINUX, LINUX_ENV, REPO, WINDOWS, WINE, WINE_ENV  # noqa: E402

runs, refusals, mode = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
WINE_ENV["WINEDEBUG"] = os.environ["WINEDEBUG"]
wine_lines = re.compile(rb"(?m)^(?:[0-9a-f]{4}:)?(?:trace|warn|err|fixme):.*\n?")
starts = {"wine": 0, "failed to start": 0}
counting = threading.Lock()


def count(key, n=1):
    with counting:
        starts[key] += n


def run(system, program, args, cwd):
    if system == "linux":
        return subprocess.run([str(LINUX[program]), *args], cwd=cwd, env=LINUX_ENV, capture_output=True, timeout=120)
    command = [WINE, str(WINDOWS[program]), *args]
    count("wine")
    if mode == "harness":  # a rerun is counted by the harness (wine_runs.reruns)
        return wine_runs.run(command, cwd=cwd, env=WINE_ENV, capture_output=True, timeout=120)
    r = subprocess.run(command, cwd=cwd, env=WINE_ENV, capture_output=True, timeout=120)
    count("failed to start", wine_runs.wine_failed(r.stderr))
    return r


# The case as the test draws it: version 0, binary 35, its report form and parameter file.
cases = [td.generated(0, i) for i in range(td.PER_VERSION)]
draw = random.Random(0)
seeds = [draw.getrandbits(32) for _ in cases]
name, data = cases[35]
plan = random.Random(seeds[35])
form = td.REPORT_FORMS[plan.randrange(len(td.REPORT_FORMS))]
params = td.edits(plan).encode()
chip = name.split("_")[0]
assert name == "tq6420_gen_v0_35.bin" and form == ["-gr.txt", "x"], (name, form)


def differential(root, i):
    seen = {}
    for system in ("linux", "windows"):
        work = root / f"{i}-{system}"
        work.mkdir()
        (work / name).write_bytes(data)
        (work / "p.txt").write_bytes(params)
        report = run(system, "vexdram_tool", [chip, *form, name], work)
        text = (work / "r.txt").read_bytes() if (work / "r.txt").exists() else None
        modify = run(system, "vexdram_tool", [chip, "p.txt", name], work)
        seen[system] = {"report run": report, "report": text, "modify run": modify, "binary": (work / name).read_bytes()}
        shutil.rmtree(work)
    return i, seen


ended = {}  # the Windows refused edits by (status, a message on standard error)


def refusal(root, i):
    seen = {}
    for system in ("linux", "windows"):
        work = root / f"r{i}-{system}"
        work.mkdir()
        shutil.copy(REPO / "examples" / "tq6951_ddr_v5.bin", work / "tq6951_a.bin")
        r = run(system, "vexdram", ["set", "tq6951_a.bin", "ddr3_freq=70000", "--in-place"], work)
        if system == "windows":
            with counting:
                key = (r.returncode, bool(r.stderr.strip()))
                ended[key] = ended.get(key, 0) + 1
        seen[system] = {"refused edit": r, "binary": (work / "tq6951_a.bin").read_bytes(),
                        "files": sorted(p.name for p in work.iterdir())}
        shutil.rmtree(work)
    return i, seen


def differs(i, seen):
    """The runs whose status or output differ, as lines (the Windows run's standard error whole)."""
    out = []
    for part, linux in seen["linux"].items():
        windows = seen["windows"][part]
        if isinstance(linux, subprocess.CompletedProcess):
            if (linux.returncode, linux.stdout) != (windows.returncode, windows.stdout) or \
                    wine_lines.sub(b"", windows.stderr) != linux.stderr:
                out.append(f"run {i} {part}: status {windows.returncode} (Linux {linux.returncode}), "
                           f"{len(windows.stdout)} bytes out (Linux {len(linux.stdout)}), standard error: {windows.stderr!r}")
        elif linux != windows:
            out.append(f"run {i} {part}: differs ({len(windows or b'')} bytes, Linux {len(linux or b'')})")
    return out


def stress(job, count, label):
    before, reran = dict(starts), len(wine_runs.reruns)
    began = time.monotonic()
    found = []
    with tempfile.TemporaryDirectory(prefix="vexdram-stress-") as tmp, ThreadPoolExecutor(4) as pool:
        for i, seen in pool.map(lambda k: job(Path(tmp), k), range(count)):
            found += differs(i, seen)
    for line in found:
        print("  " + line)
    reran = len(wine_runs.reruns) - reran
    wine = starts["wine"] - before["wine"] + reran
    failed = starts["failed to start"] - before["failed to start"] + reran
    differing = len({line.split(" ")[1] for line in found})
    print(f"{label}: {count} runs, {wine} Wine starts, {differing} differing from Linux, "
          f"{failed} Wine failed to start ({mode}; {time.monotonic() - began:.0f} s)", flush=True)
    return differing


bad = stress(differential, runs, f"differential case {name} {form} and its modify run")
bad += stress(refusal, refusals, "refused in-place edit (vexdram.exe set F ddr3_freq=70000 --in-place)")
print("refused in-place edits by vexdram.exe, (status, with a message): count: " +
      ", ".join(f"{k}: {v}" for k, v in sorted(ended.items())))
if mode == "harness":
    print(f"harness: {len(wine_runs.reruns)} run(s) started once more")
sys.exit(1 if bad else 0)
EOF
