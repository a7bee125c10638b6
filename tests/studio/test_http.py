"""The studio over real HTTP: who gets in, which names it resolves, each action, and failures."""
import http.client
import json
import os
import shlex
import shutil
import signal
import subprocess
import threading

import pytest

from conftest import DIST, REPO, Client, checksums, start_studio, studio_workspace

SAVE = {"file": "tq6951_ddr_v5.bin", "chip": "TQ6951", "edits": {"ddr3_freq": "933"}}


def report(binary, chip, tmp_path):
    """The tool's own report of a binary, as a dictionary."""
    out = tmp_path / "report.txt"
    subprocess.run([DIST / "resource/tools/vexdram_tool", chip, "-g", out, binary],
                   stdout=subprocess.DEVNULL, check=True)
    return dict(line.split("=", 1) for line in out.read_text().splitlines() if "=" in line)


def unpacked(container, tmp_path):
    """The images of a container, unpacked by imgwelder into tmp_path/unpacked."""
    out = tmp_path / "unpacked"
    subprocess.run([DIST / "resource/tools/imgwelder", "unpack", "-i", container, "-o", out],
                   stdout=subprocess.DEVNULL, check=True)
    return out


@pytest.mark.parametrize("method,path,headers,token", [
    ("GET", "/api/files", {}, False),
    ("GET", "/api/files", {"X-Studio-Token": "wrong"}, False),
    ("GET", "/?token=wrong", {}, False),
    ("GET", "/api/files?token={token}", {}, False),
    ("GET", "/api/files", {"Host": "studio.example:{port}"}, True),
    ("GET", "/api/files", {"Host": "127.0.0.1:1"}, True),
    ("GET", "/api/files", {"Host": None}, True),
    ("POST", "/api/save", {"Origin": None}, True),
    ("POST", "/api/save", {"Origin": "http://studio.example"}, True),
    ("POST", "/api/save", {"Origin": "http://127.0.0.1:1"}, True),
    ("POST", "/api/save", {"Cookie": "vexdram_studio_{port}={token}"}, False),
])
def test_refused_requests_do_nothing(client, studio, workspace, method, path, headers, token):
    headers = {k: v.format(port=studio.port, token=studio.token) if v else v for k, v in headers.items()}
    body = SAVE if method == "POST" else None
    response, payload = client.request(method, path.format(token=studio.token), body,
                                       headers=headers, token=token)
    assert response.status == 403 and "error" in json.loads(payload)
    assert response.getheader("Access-Control-Allow-Origin") is None
    assert not (workspace / "tq6951_ddr_v5_new.bin").exists()


@pytest.mark.parametrize("method,path,headers", [
    ("POST", "/api/open", {"X-Studio-Token": "wrong"}),
    ("POST", "/api/open", {"Origin": "http://studio.example"}),
    ("POST", "/api/open", {"Content-Type": "text/plain"}),
    ("POST", "/api/nothing", {}),
    ("GET", "/api/files", {}),
    ("BREW", "/api/open", {}),
], ids=["token", "origin", "content-type", "unknown-path", "get-with-body", "unknown-method"])
def test_the_next_request_on_a_connection_is_read_from_its_own_start(client, studio, method, path,
                                                                     headers):
    conn = http.client.HTTPConnection("127.0.0.1", studio.port, timeout=20)
    _, first = client.request(method, path, {"file": "tq6951_ddr_v5.bin", "chip": "TQ6951"},
                              headers=headers, conn=conn)
    second, info = client.request("GET", "/api/info", conn=conn)
    conn.close()
    assert json.loads(first) and second.status == 200 and json.loads(info)["version"]


def test_page_and_headers(client, studio):
    response, page = client.request("GET", f"/?token={studio.token}", token=False,
                                    headers={"Host": f"localhost:{studio.port}"})
    assert response.status == 200 and studio.token.encode() in page
    assert response.getheader("Content-Security-Policy") == "default-src 'self'"
    assert response.getheader("X-Content-Type-Options") == "nosniff"
    cookie = response.getheader("Set-Cookie").split(";")[0]
    response, _ = client.request("GET", "/static/studio.js", token=False, headers={"Cookie": cookie})
    assert response.status == 200 and response.getheader("Content-Type").startswith("text/javascript")
    response, _ = client.request("OPTIONS", "/api/save", headers={"Origin": "http://studio.example"})
    assert response.status == 405 and not any(h.startswith("Access-Control") for h, _ in response.getheaders())


@pytest.fixture(scope="module")
def outside(workspace, tmp_path_factory):
    out = tmp_path_factory.mktemp("outside")
    (out / "secret.bin").write_bytes(b"\x78\x56\x34\x12" * 4)
    os.symlink(out / "secret.bin", workspace / "link-out.bin")
    os.symlink(out, workspace / "dir-out")
    return out


@pytest.mark.parametrize("name,why", [
    ("../tq6951_ddr_v5.bin", "'..' is refused"),
    ("sub/../../tq6951_ddr_v5.bin", "'..' is refused"),
    ("/etc/passwd", "absolute paths are refused"),
    ("a\0b.bin", "NUL"),
    ("x" * 300 + ".bin", "too long"),
    ("link-out.bin", "leads out of the workspace"),
    ("dir-out/secret.bin", "leads out of the workspace"),
    ("missing.bin", "no such file"),
])
def test_names_are_confined(client, outside, name, why):
    for action, body in (("open", {"file": name, "chip": "TQ6951"}),
                         ("save", {**SAVE, "file": name}), ("import", {"file": name}),
                         ("export", {"file": name.replace(".bin", ".txt"), "values": {}})):
        if action == "export" and name in ("link-out.bin", "missing.bin"):
            continue  # a new name beside them is fine
        status, body = client.post(action, body)
        assert status == 400 and why in body["error"], (action, body)
    assert sorted(p.name for p in outside.iterdir()) == ["secret.bin"]


def test_writes_never_go_through_a_symlink(client, workspace, outside):
    os.symlink(outside / "secret.bin", workspace / "tq6420_ddr_v1_new.bin")
    try:
        status, body = client.post("save", {"file": "tq6420_ddr_v1.bin", "chip": "TQ6420",
                                            "edits": {"ddr3_freq": "800"}})
        assert status == 400 and "symlink" in body["error"]
        status, body = client.post("export", {"file": "dir-out/x.txt", "values": {}})
        assert status == 400
    finally:
        os.unlink(workspace / "tq6420_ddr_v1_new.bin")
    assert (outside / "secret.bin").read_bytes() == b"\x78\x56\x34\x12" * 4


@pytest.mark.parametrize("raw,content_type,status", [
    (b"{}", "application/json", 413),  # announced as one byte over 1 MiB
    (b"{not json", "application/json", 400),
    (b"\xff\xfe", "application/json", 400),
    (b"[1, 2]", "application/json", 400),
    (b'{"file": 5, "chip": "TQ6951"}', "application/json", 400),
    (b'{"file": "tq6951_ddr_v5.bin", "chip": "TQ9999"}', "application/json", 400),
    (b'{"file": "tq6951_ddr_v5.bin"}', "text/plain", 415),
], ids=["over-1MiB", "not-json", "not-utf8", "not-object", "name-not-text", "unknown-chip", "not-json-type"])
def test_bad_bodies(client, raw, content_type, status):
    headers = {"Content-Type": content_type}
    if status == 413:
        headers["Content-Length"] = str((1 << 20) + 1)
    response, payload = client.request("POST", "/api/open", raw=raw, headers=headers)
    assert response.status == status
    assert "Traceback" not in payload.decode() and json.loads(payload)["error"]


@pytest.mark.parametrize("file,chip,kind,version,status,status_text", [
    ("tq6951_ddr_v5.bin", "TQ6951", "ddr", 5, 0, "chip matches the file name"),
    ("tq6583_ddr_v2.bin", "TQ6951", "ddr", 2, -1, "chip does not match the file name"),
    ("tq6420_ddr_v1.bin", "TQ6420", "ddr", 1, 0, "chip matches the file name"),
    ("tq6951_loader.bin", "TQ6951", "loader", 5, 0, "chip matches the file name of the container"),
    ("tq6951_loader.bin", "TQ6583", "loader", 5, -1,
     "chip does not match the file name of the container"),
])
def test_open(client, file, chip, kind, version, status, status_text):
    code, body = client.post("open", {"file": file, "chip": chip})
    assert code == 200, body
    assert (body["kind"], body["version"], body["status"]) == (kind, version, status)
    assert body["status_text"] == status_text
    assert len(body["params"]) == 484 and body["params"]["start tag"] == "0x12345678"
    if kind == "loader":
        assert body["header"]["emSupportChip"] == "6951" and body["ddr_image"] == "ddr.bin"


def test_listing_tells_containers_from_binaries(client):
    response, payload = client.request("GET", "/api/files")
    kinds = {f["name"]: f["kind"] for f in json.loads(payload)["files"]}
    assert kinds["tq6951_loader.bin"] == "loader" and kinds["tq6951_ddr_v5.bin"] == "ddr"


def test_module_failures_are_messages(client, workspace):
    (workspace / "notes.bin").write_bytes(b"no parameter block here")
    status, body = client.post("open", {"file": "notes.bin", "chip": "TQ6951"})
    assert status == 422 and "no parameters read" in body["error"]
    assert any("get version fail" in r["text"] for r in body["log"])


def test_save_reads_back_and_leaves_the_original(client, workspace, tmp_path):
    status, body = client.post("save", {**SAVE, "edits": {"ddr3_freq": "0x3a5", "ddr3_ca0_skew": "0x21"}})
    assert status == 200, body
    assert body["saved"] == "tq6951_ddr_v5_new.bin"
    assert body["changes"] == {"ddr3_freq": "933", "ddr3_ca0_skew": "0x21"}
    assert "ddr3_freq: 1056 => 933" in body["change_text"] and "modify end" in body["tool_output"]
    new = report(workspace / "tq6951_ddr_v5_new.bin", "tq6951", tmp_path)
    old = report(REPO / "examples/tq6951_ddr_v5.bin", "tq6951", tmp_path)
    assert {k for k in new if new[k] != old[k]} == {"ddr3_freq", "ddr3_ca0_skew"}


@pytest.mark.parametrize("edits,why", [
    ({"ddr3_freq": "4096"}, "does not fit its 12-bit field (largest 4095)"),
    ({"ddr3_ca0_skew": "0x100"}, "does not fit its 8-bit field"),
    ({"ddr3_freq": "0800"}, "octal"),
    ({"ddr3_freq": "93.3"}, "not a whole number"),
    ({"no_such_key": "1"}, "not a parameter"),
    ({}, "nothing to save"),
])
def test_save_refuses_values_the_field_cannot_hold(client, workspace, edits, why):
    status, body = client.post("save", {"file": "tq6583_ddr_v2.bin", "chip": "TQ6951", "edits": edits})
    assert status == 422 and why in body["error"]
    assert not (workspace / "tq6583_ddr_v2_new.bin").exists()


OVERLAP = "the block's DDR2 and LPDDR2 sections overlap: vexdram does not write it"


@pytest.mark.parametrize("file,chip,edits,key,why", [
    ("tq6583_ddr_v2.bin", "TQ6583", {"ddr3_freq": "800", "ddr3_dq_vref_when_odten": "5"},
     "ddr3_dq_vref_when_odten", "not stored in this binary: block version 2 has no place for it"),
    ("tq6583_ddr_v2.bin", "TQ6583", {"ddr3_ca0_skew": "1"},
     "ddr3_ca0_skew", "not stored for chip tq6583: the skew section is read for chip tq6951 only"),
    ("tq6420_ddr_v1.bin", "TQ6420", {"dis_train_print": "1"},
     "dis_train_print", "not stored in a version 1 block: written, it always reads back as 0"),
    ("tq6951_ddr_v5.bin", "TQ6951", {"ddr3_freq": "800", "ddr3_ca0_skew": "0x0"},
     "ddr3_ca0_skew", "0 keeps a skew lane as it is (0x69 here); it cannot be set to 0"),
    ("tq6951_overlap_v5.bin", "TQ6951", {"lp2_f1_freq_mhz": "800"}, None, OVERLAP),
    ("tq6951_overlap_v5.bin", "TQ6951", {"lp2_f1_freq_mhz": "3302"}, None, OVERLAP),  # even its own value
    ("tq6951_skewword_v5.bin", "TQ6951", {"lp3_f2_freq_mhz": "1"}, None,
     "the block's LPDDR3 and skew sections overlap: vexdram does not write it"),
])
def test_an_edit_vexdram_refuses_is_refused_in_its_words(client, workspace, file, chip, edits, key, why):
    """Refused before anything is written, with the reason vexdram set gives."""
    before = checksums(workspace)
    status, body = client.post("save", {"file": file, "chip": chip, "edits": edits})
    assert status == 422 and body["error"] == f"refused: {key + ': ' if key else ''}{why}"
    assert checksums(workspace) == before
    said = subprocess.run([str(DIST / "resource/tools/vexdram"), "set", str(workspace / file),
                           *(f"{k}={v}" for k, v in edits.items()), "--dry-run", "--chip", chip],
                          capture_output=True, text=True)
    assert said.returncode == 2 and why in said.stderr


def test_a_parameter_not_stored_keeps_its_own_value(client):
    edits = {"ddr3_freq": "801", "ddr3_dq_vref_when_odten": "0"}  # reads as 0 in version 2
    status, body = client.post("save", {"file": "tq6583_ddr_v2.bin", "chip": "TQ6583", "edits": edits,
                                        "overwrite": True})
    assert status == 200, body


def test_overwriting_a_file_not_written_here_needs_a_word(client, workspace):
    (workspace / "tq6420_ddr_v1_new.bin").write_bytes(b"mine")
    body = {"file": "tq6420_ddr_v1.bin", "chip": "TQ6420", "edits": {"ddr3_freq": "800"}}
    status, answer = client.post("save", body)
    assert status == 409 and (workspace / "tq6420_ddr_v1_new.bin").read_bytes() == b"mine"
    assert client.post("save", {**body, "overwrite": True})[0] == 200


def test_loader_save_packs_a_new_container(client, workspace, tmp_path):
    body = {"file": "tq6951_loader.bin", "chip": "TQ6951", "edits": {"ddr3_freq": "800"}}
    status, answer = client.post("save", body)
    assert status == 200 and answer["saved"] == "tq6951_loader_new.bin"
    out = unpacked(workspace / "tq6951_loader_new.bin", tmp_path)
    assert report(out / "ddr.bin", "tq6951", tmp_path)["ddr3_freq"] == "800"
    assert (out / "FlashData.bin").read_bytes() == (out / "ddr.bin").read_bytes()


def test_two_saves_at_once(client, workspace):
    bodies = [{**SAVE, "edits": {"ddr3_freq": "700"}},
              {"file": "tq6951_loader.bin", "chip": "TQ6951", "edits": {"ddr3_freq": "701"}}]
    results = [None, None]

    def save(i):
        results[i] = client.post("save", bodies[i])

    threads = [threading.Thread(target=save, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert [(s, b["changes"]) for s, b in results] == [(200, {"ddr3_freq": "700"}), (200, {"ddr3_freq": "701"})]


def test_export_and_import(client, workspace):
    status, body = client.post("export", {"file": "mine.txt", "values": {"ddr3_freq": "933", "uart id": "2"}})
    assert status == 200 and (workspace / "mine.txt").read_text() == (
        "start tag=0x12345678\nddr3_freq=933\nuart id=2\nend\n")
    (workspace / "theirs.txt").write_text("kept")
    assert client.post("export", {"file": "theirs.txt", "values": {}})[0] == 409
    assert (workspace / "theirs.txt").read_text() == "kept"
    (workspace / "edits.txt").write_text(
        "start tag=0x12345678\n/* a comment */\nddr3_freq = 0x320 /* MHz */\nuart id=\n"
        "lp4_freq=0800\nbogus=1\nddr4_freq\nddr3_ca0_skew=33\nend\n")
    status, body = client.post("import", {"file": "edits.txt"})
    assert status == 200
    assert [(v["line"], v["key"], v["value"]) for v in body["values"]] == [
        (3, "ddr3_freq", "800"), (8, "ddr3_ca0_skew", "0x21")]
    assert [(r["line"], r["reason"]) for r in body["refused"]] == [
        (5, "lp4_freq=0800: a leading 0 makes the tool read 0800 as octal: write 800 or 0x320"),
        (6, "no parameter 'bogus'; nearest: boot_fsp, ddr_2t, uart id"), (7, "no '=' in 'ddr4_freq'")]


@pytest.fixture(scope="module")
def firmware_named_txt(client, workspace):
    """A new binary this launch saved, a DDR binary and a container named like parameter files,
    and a folder named so."""
    save = {"file": "tq6583_ddr_v2.bin", "chip": "TQ6583", "edits": {"ddr3_freq": "802"}}
    assert client.post("save", save)[0] == 200
    shutil.copy(workspace / "tq6951_ddr_v5.bin", workspace / "fw.txt")
    shutil.copy(workspace / "tq6951_loader.bin", workspace / "box.txt")
    (workspace / "folder.txt").mkdir()


@pytest.mark.parametrize("name,why", [
    ("tq6420_ddr_v1.bin", "a parameter file's name ends in .txt"),
    ("tq6951_loader.bin", "a parameter file's name ends in .txt"),
    ("tq6583_ddr_v2_new.bin", "a parameter file's name ends in .txt"),
    ("missing.bin", "a parameter file's name ends in .txt"),
    ("\u00e9.bin", "a parameter file's name ends in .txt"),
    (".txt", "a parameter file's name ends in .txt"),
    ("dir/", "names a folder"),
    ("params.txt/", "names a folder"),
    ("params.txt/.", "names a folder"),
    ("folder.txt", "is a folder"),
    ("fw.txt", "is not a parameter file"),
    ("box.txt", "is not a parameter file"),
])
def test_export_writes_nothing_but_parameter_files(client, workspace, firmware_named_txt, name, why):
    before = checksums(workspace), sorted(os.listdir(workspace))
    status, body = client.post("export", {"file": name, "values": {"ddr3_freq": "800"},
                                          "overwrite": True})
    assert status == 400 and why in body["error"], body
    assert (checksums(workspace), sorted(os.listdir(workspace))) == before


def install(into, package=None, module=None, **programs):
    """An install of the studio over DIST's, whose named tools are the shell scripts given ("$REAL"
    runs the real one), and whose package vexdram and module dramforge are the Python texts given
    (REAL: the real one's path)."""
    shutil.copytree(DIST / "vexdram_studio", into / "vexdram_studio")
    for f in DIST.glob("dramforge*"):
        if module and f.suffix == ".so":
            (into / "dramforge.py").write_text(f"REAL = {str(f)!r}\n{module}")
        else:
            os.symlink(f, into / f.name)
    for f in DIST.glob("vexdram.*.so"):
        if package:
            (into / "vexdram.py").write_text(f"REAL = {str(f)!r}\n{package}")
        else:
            os.symlink(f, into / f.name)
    tools = into / "resource" / "tools"
    tools.mkdir(parents=True)
    for f in ("cfg", "vexdram_catalogue.json"):
        os.symlink(DIST / "resource" / f, into / "resource" / f)
    for f in ("imgwelder", "vexdram", "vexdram_tool"):
        real = DIST / "resource/tools" / f
        if f in programs:
            (tools / f).write_text(f"#!/bin/sh\nREAL={shlex.quote(str(real))}\n{programs[f]}\n")
            (tools / f).chmod(0o755)
        else:
            os.symlink(real, tools / f)
    return into


# vexdram_tool reporting like the real one and never modifying
NEVER_MODIFIES = 'if [ "$2" = -g ]; then exec "$REAL" "$@"; fi\necho "read param file fail"'
# vexdram_tool doing the real work with false text: another version line, no "modify end"
FALSE_TEXT = 'if [ "$2" = -g ]; then "$REAL" "$@"; echo "version 3"; exit; fi\n"$REAL" "$@" | grep -v "modify end"'
# the package vexdram saying no edit is refused: the studio's up-front checks let every edit through
NO_REFUSALS = """
import importlib.util, sys
_me = sys.modules[__name__]
_spec = importlib.util.spec_from_file_location("vexdram", REAL)
_real = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(_real)
sys.modules[__name__] = _me  # the real one put itself there
Error = _real.Error

class _Storage:
    zero_refused = None
    def __init__(self, s): self._s = s
    def __str__(self): return str(self._s)

class _Image:
    unwritable = None
    def __init__(self, img): self._img = img
    def __getattr__(self, name): return getattr(self._img, name)
    def __iter__(self): return iter(self._img)
    def storage(self, key): return _Storage(self._img.storage(key))

def open(path, chip=None):
    return _Image(_real.open(path, chip))
"""


# the module dramforge naming its new files "edited-NAME" and writing over whatever is there
EDITED_NAMES = """
import importlib.util, os, shutil
_spec = importlib.util.spec_from_file_location("dramforge", REAL)
_real = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(_real)

def _edited(path):
    return os.path.join(os.path.dirname(path), "edited-" + os.path.basename(path))

class _Module:
    def __getattr__(self, name): return getattr(_real.dramforge, name)
    def update_ddr_bin(self, params, path, chip="NULL", other="NULL", ddr_bin_path_rename=True):
        if ddr_bin_path_rename is True:
            shutil.copyfile(path, _edited(path))
            path = _edited(path)
        return _real.dramforge.update_ddr_bin(params, path, chip, other, False)
    def loader_pack(self, images, loader_file_rename=True):
        images = {**images, "loader_file_path": _edited(images["loader_file_path"])}
        return _real.dramforge.loader_pack(images, False)

dramforge = _Module()
"""


def test_the_module_names_the_new_file(tmp_path):
    """The studio saves under the name the module gives its new file, without predicting it: an
    existing file of that name is kept until the user says overwrite."""
    ws = studio_workspace(tmp_path / "ws")
    (ws / "edited-tq6583_ddr_v2.bin").write_bytes(b"mine")
    studio = start_studio(install(tmp_path / "install", module=EDITED_NAMES), ws, tmp_path / "run")
    try:
        client = Client(studio)
        ddr = {"file": "tq6583_ddr_v2.bin", "chip": "TQ6583", "edits": {"ddr3_freq": "804"}}
        status, body = client.post("save", ddr)
        assert status == 409 and (ws / "edited-tq6583_ddr_v2.bin").read_bytes() == b"mine", body
        for body, new in ((dict(ddr, overwrite=True), "edited-tq6583_ddr_v2.bin"),
                          ({"file": "tq6951_loader.bin", "chip": "TQ6951",
                            "edits": {"ddr3_freq": "800"}}, "edited-tq6951_loader.bin")):
            status, answer = client.post("save", body)
            assert (status, answer.get("saved")) == (200, new), answer
        assert report(ws / "edited-tq6583_ddr_v2.bin", "tq6583", tmp_path)["ddr3_freq"] == "804"
        out = unpacked(ws / "edited-tq6951_loader.bin", tmp_path)
        assert report(out / "ddr.bin", "tq6951", tmp_path)["ddr3_freq"] == "800"
        assert not list(ws.glob("*_new.bin"))
    finally:
        assert studio.stop(signal.SIGINT) == 0


@pytest.fixture(scope="module")
def unchecked(tmp_path_factory):
    """A studio whose checks before writing let every edit through, on a workspace of its own."""
    ws = studio_workspace(tmp_path_factory.mktemp("ws"))
    studio = start_studio(install(tmp_path_factory.mktemp("install"), package=NO_REFUSALS), ws,
                          tmp_path_factory.mktemp("run"))
    yield Client(studio), ws
    assert studio.stop(signal.SIGINT) == 0


@pytest.mark.parametrize("file,edits,why", [
    # writing LPDDR2 back writes over DDR2
    ("tq6951_overlap_v5.bin", {"lp2_f1_freq_mhz": "800"},
     "the new binary does not read back as expected (the old values with the edits): "
     "ddr2_f3_freq_mhz reads 800 instead of 3302; it was not saved"),
    # writing LPDDR3 back makes the skew section of sub-version 1: 87 more parameters read otherwise
    ("tq6951_skewword_v5.bin", {"lp3_f2_freq_mhz": "1"}, ", and 82 more parameters; it was not saved"),
    # 0 keeps the lane: the file is the original's copy
    ("tq6951_ddr_v5.bin", {"ddr3_ca0_skew": "0x0"},
     "the tool did not modify the new binary: every value reads as before; it was not saved"),
])
def test_a_saved_binary_is_checked_parameter_by_parameter(unchecked, file, edits, why):
    """Any parameter that does not read back as the old value with the edits refuses the save and
    removes the new file, whatever the checks before writing let through."""
    client, workspace = unchecked
    status, body = client.post("save", {"file": file, "chip": "TQ6951", "edits": edits})
    assert status == 422 and body["error"].endswith(why), body["error"]
    assert not (workspace / file.replace(".bin", "_new.bin")).exists()


@pytest.mark.parametrize("tool", [NEVER_MODIFIES, FALSE_TEXT], ids=["never-modifies", "false-text"])
def test_the_binary_not_the_tools_text_says_what_was_written(tmp_path, tool):
    """The block's version comes from the binary, not from the tool's text (another version line
    changes nothing); a tool that never modifies, or one that does not say the binary reached the
    disk (no "modify end", which the module records as a failure), leaves no new binary behind."""
    ws = tmp_path / "ws"
    ws.mkdir()
    shutil.copy(REPO / "examples/tq6583_ddr_v2.bin", ws)
    studio = start_studio(install(tmp_path / "install", vexdram_tool=tool), ws, tmp_path / "run")
    try:
        client = Client(studio)
        status, body = client.post("open", {"file": "tq6583_ddr_v2.bin", "chip": "TQ6583"})
        assert (status, body["version"]) == (200, 2)
        status, body = client.post("save", {"file": "tq6583_ddr_v2.bin", "chip": "TQ6583", "edits": {"ddr3_freq": "804"}})
        assert status == 422 and "did not modify" in body["error"], body
        assert sorted(p.name for p in ws.iterdir()) == ["tq6583_ddr_v2.bin"]
    finally:
        assert studio.stop(signal.SIGINT) == 0
