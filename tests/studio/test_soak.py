"""A soak of the API over loopback: several threads on kept-alive connections send random requests
that mix the page's own actions with what a careless or hostile client sends. Bounded in count and
time: STUDIO_SOAK_REQUESTS (default 2000) and STUDIO_SOAK_SECONDS (default 60)."""
import http.client
import json
import os
import random
import signal
import threading
import time
from collections import Counter

from conftest import DIST, REPO, Client, checksums, make_workspace, start_studio

REQUESTS = int(os.environ.get("STUDIO_SOAK_REQUESTS", "2000"))
SECONDS = float(os.environ.get("STUDIO_SOAK_SECONDS", "60"))
SAMPLES = {"tq6951_ddr_v5.bin": "TQ6951", "tq6583_ddr_v2.bin": "TQ6583",
           "tq6420_ddr_v1.bin": "TQ6420", "tq6951_loader.bin": "TQ6951"}
KEYS = ["ddr3_freq", "uart id", "ddr3_ca0_skew", "ch_mask0", "start tag", "no_such_key"]
NAMES = ["..", "../tq6951_ddr_v5.bin", "/etc/passwd", "C:\\x.txt", "a\0b.txt", "x" * 5000 + ".txt",
         "\u00e9.bin", "\u65e5\u672c.txt", "\ud800.txt", "dir/", "p.txt/", "link-out.bin",
         "dir-out/secret.bin", "dir-out/new.txt", "missing.bin", "", ".", 5, None, [], *SAMPLES,
         "tq6951_ddr_v5_new.bin", "soak-1.txt"]
VALUES = ["1", "-1", "-2147483649", "0800", " 7\t", "9" * 5000, "0x" + "f" * 5000, "\u0663", "1_0",
          "", 5, None, 1e308, [], {"a": 1}]
BODIES = [b"{", b"[" * 100000, b"\xff\xfe", b"null", b"[]", b'"x"', b'{"file": "a"} trailing']
HEADERS = [{}, {}, {"X-Studio-Token": None}, {"X-Studio-Token": "wrong"}, {"Host": None},
           {"Host": "studio.example"}, {"Origin": None}, {"Origin": "http://studio.example"},
           {"Content-Type": "text/plain"}]


def random_request(rnd, n):
    """(method, path, a JSON body, raw bytes or None, header changes)"""
    file = rnd.choice(list(SAMPLES))
    action = rnd.choice(["open", "save", "export", "import", "nothing"])
    values = {rnd.choice(KEYS): rnd.choice(VALUES)}
    roll = rnd.random()
    if roll < 0.12:  # the page's own actions
        return "POST", f"/api/{action}", {
            "file": f"soak-{n % 7}.txt" if action in ("export", "import") else file,
            "chip": SAMPLES[file], "edits": {rnd.choice(KEYS[:4]): rnd.choice(["1", "0x1"])},
            "values": values, "overwrite": rnd.random() < 0.5}, {}
    if roll < 0.2:
        return "GET", rnd.choice(["/api/files", "/api/info", "/api/catalogue", "/static/studio.js",
                                  "/static/../web.py", "/?token=x"]), None, {}
    if roll < 0.3:
        return "POST", f"/api/{action}", rnd.choice(BODIES), rnd.choice(HEADERS)
    if roll < 0.32:  # a length that is too long or unreadable, and no body
        return "POST", "/api/open", b"", {"Content-Length": rnd.choice(["9999999", "x", "-1", "\u00b2"])}
    method = rnd.choice(["PUT", "DELETE", "PATCH", "OPTIONS", "HEAD", "BREW"]) if roll < 0.37 else "POST"
    return method, f"/api/{action}", {
        "file": rnd.choice(NAMES), "chip": rnd.choice(["TQ6951", "TQ9999", 5]),
        "edits": rnd.choice([values, [], "x"]), "values": values, "overwrite": True}, rnd.choice(HEADERS)


def test_soak(tmp_path):
    ws = make_workspace(REPO, tmp_path / "ws")
    (tmp_path / "outside").mkdir()
    (tmp_path / "outside/secret.bin").write_bytes(b"\x78\x56\x34\x12" * 4)
    os.symlink(tmp_path / "outside/secret.bin", ws / "link-out.bin")
    os.symlink(tmp_path / "outside", ws / "dir-out")
    originals = checksums(ws)
    studio = start_studio(DIST, ws, tmp_path / "run")
    client = Client(studio)
    statuses, faults, deadline = [], [], time.monotonic() + SECONDS

    def run(seed):
        rnd = random.Random(seed)
        conn = http.client.HTTPConnection("127.0.0.1", studio.port, timeout=60)
        for n in range(REQUESTS // 4):
            method, path, body, changes = request = random_request(rnd, n)
            try:
                response, payload = client.request(method, path, headers=changes, conn=conn,
                                                   **{"raw" if isinstance(body, bytes) else "body": body})
                status = response.status
                fault = status >= 500 or (path.startswith("/api/") and method != "HEAD"
                                          and not json.loads(payload))
            except Exception as e:  # a dropped connection or an answer that is not JSON
                status, fault = type(e).__name__, True
                conn.close()
            statuses.append(status)
            if fault:
                faults.append((seed, n, status, repr(request)[:200]))
            if time.monotonic() > deadline:
                break

    try:
        started = time.monotonic()
        threads = [threading.Thread(target=run, args=(seed,)) for seed in range(4)]
        [t.start() for t in threads]
        [t.join() for t in threads]
        print(f"soak: {len(statuses)} requests in {time.monotonic() - started:.1f} s: "
              f"{dict(sorted(Counter(statuses).items(), key=str))}")
        assert faults == []
        assert client.post("save", {"file": "tq6951_ddr_v5.bin", "chip": "TQ6951",
                                    "edits": {"ddr3_freq": "933"}, "overwrite": True})[0] == 200
    finally:
        assert studio.stop(signal.SIGTERM) == 0
    assert "Traceback" not in studio.stderr
    left = sorted(p.relative_to(tmp_path).as_posix() for p in tmp_path.rglob("*"))
    assert [p for p in left if not p.startswith("ws")] == [
        "outside", "outside/secret.bin", "run", "run/cwd", "run/private"]
    assert (tmp_path / "outside/secret.bin").read_bytes() == b"\x78\x56\x34\x12" * 4
    after = checksums(ws)
    assert {k: after[k] for k in originals} == originals and all(p.is_symlink() or not p.is_dir() for p in ws.iterdir())
    for name in set(after) - set(originals):  # parameter files, or new binaries of their kind
        new = (ws / name).read_bytes()
        if name.endswith(".txt"):
            assert new.startswith(b"start tag=0x12345678\n") and new.endswith(b"end\n"), name
            continue
        old = (ws / (name[:-len("_new.bin")] + ".bin")).read_bytes()
        if old[:4] in (b"BOOT", b"LDR "):  # a container: the same header but the release time
            assert name.endswith("_new.bin") and new[:14] + new[21:102] == old[:14] + old[21:102]
        else:
            assert name.endswith("_new.bin") and len(new) == len(old), name
