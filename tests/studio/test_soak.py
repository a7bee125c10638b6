"""A soak of the API over loopback: several threads, each on kept-alive connections, send random
requests that mix the page's own actions with what a careless or hostile client sends. Bounded in
count and time: STUDIO_SOAK_REQUESTS (default 2000) and STUDIO_SOAK_SECONDS (default 60)."""
import http.client
import json
import os
import random
import signal
import threading
import time

from conftest import DIST, REPO, Client, checksums, make_workspace, start_studio

REQUESTS = int(os.environ.get("STUDIO_SOAK_REQUESTS", "2000"))
SECONDS = float(os.environ.get("STUDIO_SOAK_SECONDS", "60"))
THREADS = 4
SAMPLES = {"tq6951_ddr_v5.bin": "TQ6951", "tq6583_ddr_v2.bin": "TQ6583",
           "tq6420_ddr_v1.bin": "TQ6420", "tq6951_loader.bin": "TQ6951"}
KEYS = ["ddr3_freq", "uart id", "ddr3_ca0_skew", "lp4_freq", "ch_mask0", "start tag", "no_such_key"]
NAMES = ["..", "../tq6951_ddr_v5.bin", "/etc/passwd", "C:\\x.txt", "a\0b.txt", "x" * 5000 + ".txt",
         "\u00e9.bin", "\u65e5\u672c.txt", "\ud800.txt", "dir/", "p.txt/", "link-out.bin",
         "dir-out/secret.bin", "dir-out/new.txt", "sub/../../x.txt", "missing.bin", "", ".",
         *SAMPLES, "tq6951_ddr_v5_new.bin", "soak.txt"]
VALUES = ["1", "0", "0x1", "-1", "-2147483649", "0800", " 7\t", "9" * 5000, "0x" + "f" * 5000,
          "\u0663", "1_0", "", 5, None, 1e308, [], {"a": 1}]
BODIES = [b"{", b"[" * 100000, b"\xff\xfe", b"null", b"[]", b'"x"', b'{"file": "a"} trailing']


def random_request(rnd, n):
    """(method, path, JSON body or raw bytes, header changes)"""
    sample = rnd.choice(list(SAMPLES))
    roll = rnd.random()
    if roll < 0.04:
        return "POST", "/api/open", {"file": sample, "chip": SAMPLES[sample]}, {}
    if roll < 0.07:
        edits = {rnd.choice(KEYS[:5]): rnd.choice(["1", "0", "0x1"])}
        return "POST", "/api/save", {"file": sample, "chip": SAMPLES[sample], "edits": edits,
                                     "overwrite": rnd.random() < 0.5}, {}
    if roll < 0.12:
        return "POST", "/api/export", {"file": rnd.choice([f"soak-{n % 7}.txt", *NAMES]),
                                       "values": {rnd.choice(KEYS): rnd.choice(VALUES)},
                                       "overwrite": rnd.random() < 0.5}, {}
    if roll < 0.2:
        return "GET", rnd.choice(["/api/files", "/api/info", "/api/catalogue", "/static/studio.js",
                                  "/static/../web.py", "/api/nothing"]), None, {}
    body = {"file": rnd.choice(NAMES + [5, None, []]), "chip": rnd.choice(["TQ6951", "TQ9999", 5]),
            "edits": rnd.choice([{rnd.choice(KEYS): rnd.choice(VALUES)}, [], "x"]),
            "values": {rnd.choice(KEYS): rnd.choice(VALUES)}, "overwrite": True}
    path = rnd.choice(["/api/open", "/api/save", "/api/export", "/api/import", "/api/x"])
    changes = rnd.choice([{}, {}, {"X-Studio-Token": None}, {"X-Studio-Token": "wrong"},
                          {"Host": None}, {"Host": "studio.example"}, {"Origin": None},
                          {"Origin": "http://studio.example"}, {"Content-Type": "text/plain"}])
    if roll < 0.3:
        return "POST", path, rnd.choice(BODIES), changes
    if roll < 0.35:
        return rnd.choice(["PUT", "DELETE", "PATCH", "OPTIONS", "HEAD", "BREW"]), path, body, changes
    if roll < 0.37:  # announced as too long or unreadable, sent without a body
        return "POST", path, b"", {"Content-Length": rnd.choice([str(1 << 21), "x", "-1", "\u00b2"])}
    return "POST", path, body, changes


def send(conn, client, method, path, body, changes):
    data = body if isinstance(body, bytes) else (None if body is None else json.dumps(body).encode())
    headers = {**client.headers(), **changes}
    if data is not None and "Content-Length" not in changes:
        headers["Content-Length"] = str(len(data))
    conn.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
    for name, value in headers.items():
        if value is not None:
            conn.putheader(name, value.encode("utf-8"))
    conn.endheaders(data or None)
    response = conn.getresponse()
    payload = response.read()
    if response.will_close:
        conn.close()
    return response.status, payload


def test_soak(tmp_path):
    ws = make_workspace(REPO, tmp_path / "ws")
    outside = tmp_path / "outside"
    outside.mkdir()
    (outside / "secret.bin").write_bytes(b"\x78\x56\x34\x12" * 4)
    os.symlink(outside / "secret.bin", ws / "link-out.bin")
    os.symlink(outside, ws / "dir-out")
    originals = checksums(ws)
    studio = start_studio(DIST, ws, tmp_path / "run")
    client = Client(studio)
    statuses, faults = {}, []
    deadline = time.monotonic() + SECONDS
    lock = threading.Lock()

    def run(seed):
        rnd = random.Random(seed)
        conn = http.client.HTTPConnection("127.0.0.1", studio.port, timeout=60)
        for n in range(REQUESTS // THREADS):
            if time.monotonic() > deadline:
                break
            request = random_request(rnd, n)
            try:
                status, payload = send(conn, client, *request)
                fault = status >= 500 or (request[0] != "HEAD" and request[1].startswith("/api/")
                                          and not json.loads(payload))
            except Exception as e:  # a dropped connection is a fault too
                status, fault = type(e).__name__, True
                conn.close()
            with lock:
                statuses[status] = statuses.get(status, 0) + 1
                if fault:
                    faults.append((seed, n, status, repr(request)[:200]))

    try:
        started = time.monotonic()
        threads = [threading.Thread(target=run, args=(seed,)) for seed in range(THREADS)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        print(f"soak: {sum(statuses.values())} requests in {time.monotonic() - started:.1f} s: "
              f"{dict(sorted(statuses.items(), key=str))}")
        assert faults == []
        assert client.post("save", {"file": "tq6951_ddr_v5.bin", "chip": "TQ6951",
                                    "edits": {"ddr3_freq": "933"}, "overwrite": True})[0] == 200
    finally:
        assert studio.stop(signal.SIGTERM) == 0
    assert "Traceback" not in studio.stderr
    assert sorted(os.listdir(tmp_path)) == ["outside", "run", "ws"]
    assert sorted(p.name for p in (tmp_path / "run").rglob("*")) == ["cwd", "private"]
    assert os.listdir(outside) == ["secret.bin"]
    assert (outside / "secret.bin").read_bytes() == b"\x78\x56\x34\x12" * 4
    after = checksums(ws)
    assert {k: after[k] for k in originals} == originals
    assert all(p.is_file() or p.is_symlink() for p in ws.iterdir())
    for name in set(after) - set(originals):
        new = (ws / name).read_bytes()
        if name.endswith(".txt"):
            assert new.startswith(b"start tag=0x12345678\n") and new.endswith(b"end\n"), name
            continue
        assert name.endswith("_new.bin"), name
        old = (ws / (name[:-len("_new.bin")] + ".bin")).read_bytes()
        if old[:4] in (b"BOOT", b"LDR "):  # a container: the same header but the release time
            assert new[:14] + new[21:102] == old[:14] + old[21:102], name
        else:
            assert len(new) == len(old), name
