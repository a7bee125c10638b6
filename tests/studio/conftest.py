"""The studio started from the install tree (VEXDRAM_DIST) on a workspace of the bundled samples,
as `python3 -m vexdram_studio` from another directory, and spoken to over real HTTP."""
import hashlib
import http.client
import json
import os
import signal
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "support"))
DIST = Path(os.environ.get("VEXDRAM_DIST", REPO / "dist")).resolve()
sys.path.insert(0, str(REPO / "scripts"))
sys.path.insert(0, str(DIST))
from ddr_binaries import overlapping, skew_in_section  # noqa: E402
from studio_driver import make_workspace, start_studio  # noqa: E402

# The one table of value rules: the command line, the server and the page all run it.
VALUE_RULES = json.loads((REPO / "tests" / "value_rules.json").read_text(encoding="utf-8"))["cases"]
# The one table of the chip a file's name gives: vexdram and the page's first guess.
CHIP_NAME_RULES = json.loads((REPO / "tests" / "chip_name_rules.json").read_text(encoding="utf-8"))["cases"]
# The one table of what kind of file a file is: vexdram, the module's check and the listing.
FILE_KIND_RULES = json.loads((REPO / "tests" / "file_kind_rules.json").read_text(encoding="utf-8"))["cases"]
# The one table of how a parameter file is read strictly: vexdram apply and the studio's Import.
PARAM_FILE_RULES = json.loads((REPO / "tests" / "param_file_rules.json").read_text(encoding="utf-8"))

if not (DIST / "vexdram_studio").is_dir():
    pytest.skip(f"no studio installed in {DIST}", allow_module_level=True)


def checksums(folder: Path):
    return {p.relative_to(folder).as_posix(): hashlib.sha256(p.read_bytes()).hexdigest()
            for p in sorted(folder.rglob("*")) if p.is_file() and not p.is_symlink()}


class Client:
    def __init__(self, studio):
        self.studio = studio
        self.host = f"127.0.0.1:{studio.port}"

    def headers(self, token=True):
        """What the page sends with every request."""
        h = {"Host": self.host, "Origin": f"http://{self.host}", "Content-Type": "application/json"}
        if token:
            h["X-Studio-Token"] = self.studio.token
        return h

    def request(self, method, path, body=None, headers=None, token=True, raw=None, conn=None):
        """One request, on a connection of its own or on conn, kept open unless the server closes."""
        h = {**self.headers(token), **(headers or {})}
        h = {k: v for k, v in h.items() if v is not None}
        data = raw if raw is not None else (json.dumps(body).encode() if body is not None else None)
        own = conn is None
        conn = conn or http.client.HTTPConnection("127.0.0.1", self.studio.port, timeout=60)
        conn.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
        for k, v in h.items():
            conn.putheader(k, v)
        if data is not None and "Content-Length" not in h:
            conn.putheader("Content-Length", str(len(data)))
        conn.endheaders()
        if data is not None:
            conn.send(data)
        response = conn.getresponse()
        payload = response.read()
        if own or response.will_close:
            conn.close()
        return response, payload

    def post(self, action, body, **kw):
        response, payload = self.request("POST", f"/api/{action}", body, **kw)
        return response.status, json.loads(payload)


def studio_workspace(into: Path) -> Path:
    """The bundled samples, and two blocks vexdram does not write: sections that overlap, a skew
    section that begins inside LPDDR3."""
    make_workspace(REPO, into)
    (into / "tq6951_overlap_v5.bin").write_bytes(overlapping())
    (into / "tq6951_skewword_v5.bin").write_bytes(skew_in_section())
    return into


@pytest.fixture(scope="module")
def workspace(tmp_path_factory):
    return studio_workspace(tmp_path_factory.mktemp("ws"))


@pytest.fixture(scope="module")
def studio(workspace, tmp_path_factory):
    """One studio per test module; on the way out SIGTERM ends it with status 0 and its private
    working directory gone, and the samples it was given are unchanged."""
    before = checksums(workspace)
    running = start_studio(DIST, workspace, tmp_path_factory.mktemp("studio"))
    yield running
    assert running.stop(signal.SIGTERM) == 0
    assert list(running.tmp.iterdir()) == []
    after = checksums(workspace)
    assert {k: after[k] for k in before} == before
    # besides the new binaries and the parameter files asked for, only what the tests wrote
    assert all(n.endswith(("_new.bin", ".txt")) or n == "notes.bin" for n in set(after) - set(before))


@pytest.fixture(scope="module")
def client(studio):
    return Client(studio)
