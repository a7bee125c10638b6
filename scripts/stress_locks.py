#!/usr/bin/python3
"""vexdram's locks under stress (not run by CI: scripts/stress_locks.sh calls it).

namespaces RUNS: RUNS runs of `set F KEY=V --in-place --wait 10`, half from this PID namespace
    (KEY ddr3_freq), half from another one sharing the folder (`unshare -p -f --mount-proc`, KEY
    lp4_freq), each side one run after another, every V new. Each run prints the value it read:
    the next run of its side must read the value of the last run of that side that said status 0.
    Counts: status 0 without its value (a lost update), status 2 with its value written, status 2
    at all (--wait should have waited), any other status.
kills COUNT: `apply P FILE... --in-place` over 300 files, killed at a random time within 90 ms
    (SIGINT, SIGTERM, SIGHUP or SIGKILL, one in four each), COUNT times; after each, the next run
    (no --wait) must succeed. Counts: leftovers after a caught signal, next runs that failed,
    leftovers after the next run, files not whole with the next run's value (or not readable)."""
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parents[1]
SAMPLE = HERE / "examples" / "tq6951_ddr_v5.bin"
TEMPLATE = HERE / "examples" / "vexdram_param.txt"


def side(vexdram, folder, key, start, count):
    """One side's runs, one JSON line each: the status, the value asked for, the value read."""
    for i in range(count):
        value = start + i
        r = subprocess.run([vexdram, "set", "tq6951_ddr_v5.bin", f"{key}={value}", "--in-place", "--wait", "10"],
                           cwd=folder, capture_output=True, text=True)
        read = re.match(rf"{key}: (\d+) -> ", r.stdout)
        print(json.dumps({"status": r.returncode, "value": value, "read": int(read[1]) if read else None,
                          "err": r.stderr.strip()}), flush=True)


def namespaces(vexdram, runs):
    folder = Path(tempfile.mkdtemp(prefix="vexdram-stress."))
    shutil.copy(SAMPLE, folder / "tq6951_ddr_v5.bin")
    me = [sys.executable, __file__, "side", vexdram, str(folder)]
    sides = {"ddr3_freq": subprocess.Popen([*me, "ddr3_freq", "100", str(runs // 2)], stdout=subprocess.PIPE, text=True),
             "lp4_freq": subprocess.Popen(["unshare", "-p", "-f", "--mount-proc", *me, "lp4_freq", "2100",
                                           str(runs - runs // 2)], stdout=subprocess.PIPE, text=True)}
    results = {key: [json.loads(line) for line in p.stdout] for key, p in sides.items()}
    for p in sides.values():
        p.wait()
    final = subprocess.run([vexdram, "get", folder / "tq6951_ddr_v5.bin", "ddr3_freq", "lp4_freq"],
                           capture_output=True, text=True).stdout.split()
    counts = {"runs": 0, "status 0 without its value": 0, "status 2 with its value": 0, "status 2": 0, "other status": 0}
    for n, (key, rows) in enumerate(results.items()):
        counts["runs"] += len(rows)
        for k, row in enumerate(rows):
            # what the next run of this side read (or the end's value): what this side last wrote
            later = [r["read"] for r in rows[k + 1:] if r["read"] is not None]
            seen = later[0] if later else int(final[n])
            if row["status"] == 0:
                if seen != row["value"]:
                    counts["status 0 without its value"] += 1
            elif row["status"] == 2:
                counts["status 2"] += 1
                if seen == row["value"]:
                    counts["status 2 with its value"] += 1
            else:
                counts["other status"] += 1
    shutil.rmtree(folder)
    return counts


def lock_leftovers(folder):
    return [p for p in os.listdir(folder) if ".lock" in p or "vexdram-" in p]


def kills(vexdram, count, seed=1):
    rng = random.Random(seed)
    folder = Path(tempfile.mkdtemp(prefix="vexdram-stress."))
    files = [f"tq6951_{i:03}.bin" for i in range(300)]
    for f in files:
        shutil.copy(SAMPLE, folder / f)
    template = TEMPLATE.read_text()
    for v in (933, 934):
        (folder / f"p{v}.txt").write_text(template.replace("\nddr3_freq=\n", f"\nddr3_freq={v}\n"))
    signals = [signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGKILL]
    counts = {"kills": 0, "caught": 0, "caught, leftovers": 0, "SIGKILL": 0, "SIGKILL, leftovers": 0,
              "next run failed": 0, "leftovers after the next run": 0, "files not whole with the value": 0, "before the kill": 0}
    elapsed = []
    for k in range(count):
        sig = rng.choice(signals)
        value = 933 + k % 2  # another value than the files hold: every file is written
        p = subprocess.Popen([vexdram, "apply", f"p{value}.txt", *files, "--in-place"], cwd=folder,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(rng.uniform(0, 0.090))
        p.send_signal(sig)
        status = p.wait()
        counts["kills"] += 1
        if status >= 0:  # it had ended before the signal came
            counts["before the kill"] += 1
        left = lock_leftovers(folder)
        kind = "SIGKILL" if sig == signal.SIGKILL else "caught"
        counts[kind] += 1
        if left:
            counts[f"{kind}, leftovers"] += 1
        start = time.monotonic()
        r = subprocess.run([vexdram, "apply", f"p{value}.txt", *files, "--in-place"], cwd=folder,
                           capture_output=True, text=True)
        elapsed.append(time.monotonic() - start)
        if r.returncode != 0:
            counts["next run failed"] += 1
            for name in lock_leftovers(folder):  # so that one failure does not fail every later run
                os.unlink(folder / name)
        if lock_leftovers(folder):
            counts["leftovers after the next run"] += 1
        # every file whole, with the value of the run that succeeded
        check = subprocess.run([vexdram, "apply", f"p{value}.txt", *files, "--dry-run"], cwd=folder,
                               capture_output=True, text=True)
        if check.returncode != 0 or check.stdout:
            counts["files not whole with the value"] += 1
    elapsed.sort()
    counts["next run, median ms"] = round(1000 * elapsed[len(elapsed) // 2])
    shutil.rmtree(folder)
    return counts


if __name__ == "__main__":
    if sys.argv[1] == "side":
        side(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5]), int(sys.argv[6]))
    elif sys.argv[1] == "namespaces":
        print(json.dumps(namespaces(sys.argv[2], int(sys.argv[3]))))
    elif sys.argv[1] == "kills":
        print(json.dumps(kills(sys.argv[2], int(sys.argv[3]))))
