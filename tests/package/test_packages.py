"""The packages of scripts/package.sh (VEXDRAM_PKG, default dist-pkg/ of the checkout): what they
hold, and that what they hold works where it is unpacked, from a clean environment."""
import gzip
import os
import re
import signal
import subprocess
import tarfile
import urllib.request
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
PKG = Path(os.environ.get("VEXDRAM_PKG", REPO / "dist-pkg")).resolve()
VERSION = re.search(r"project\(vexdram VERSION (\S+)", (REPO / "CMakeLists.txt").read_text()).group(1)
DEB = PKG / f"vexdram_{VERSION}_amd64.deb"
TARBALL = PKG / f"vexdram-{VERSION}-Linux-x86_64.tar.gz"
PREFIX = "/opt/vexdram"
CLEAN_ENV = {"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8"}
MULTIARCH = "x86_64-linux-gnu"

if not DEB.is_file() or not TARBALL.is_file():
    pytest.skip(f"no packages in {PKG}: run scripts/package.sh", allow_module_level=True)


def run(*args, **kw):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, check=True, **kw).stdout


def deb_files():
    """{path: link target or None} of the files and links of the .deb's data."""
    entries = {}
    for line in run("dpkg-deb", "--contents", DEB).splitlines():
        if not line.startswith("d"):
            path, _, target = line.split(None, 5)[5].partition(" -> ")
            entries[path[1:]] = target or None
    return entries


@pytest.fixture(scope="module")
def unpacked(tmp_path_factory):
    """The tarball unpacked, and the .deb extracted into a scratch root."""
    top = tmp_path_factory.mktemp("pkg")
    with tarfile.open(TARBALL) as t:
        t.extractall(top / "tar")
    run("dpkg-deb", "-x", DEB, top / "root")
    return top / "tar" / f"vexdram-{VERSION}-Linux-x86_64", top / "root"


def python_abi(tree):
    """'3.11' for a tree holding dramforge.cpython-311-....so."""
    digits = re.search(r"cpython-(\d)(\d+)", next(Path(tree).glob("dramforge.cpython-*.so")).name)
    return digits.group(1), digits.group(2)


def test_deb_control(unpacked):
    info = run("dpkg-deb", "--info", DEB)
    fields = dict(re.findall(r"^ (\w[\w-]*): (.*)$", info, re.M))
    major, minor = python_abi(unpacked[1] / PREFIX[1:])
    assert (fields["Package"], fields["Version"], fields["Architecture"]) == ("vexdram", VERSION, "amd64")
    depends = [d.strip() for d in fields["Depends"].split(",")]
    assert {f"python3 (>= {major}.{minor}~)", f"python3 (<< {major}.{int(minor) + 1})",
            "python3-pandas"} <= set(depends)
    assert "chromium" not in fields["Depends"] and "chromium" in fields["Recommends"]


def test_deb_contents_and_tarball_hold_one_tree(unpacked):
    entries = deb_files()
    expected = {
        "/usr/bin/vexdram_tool": f"{PREFIX}/resource/tools/vexdram_tool",
        "/usr/bin/imgwelder": f"{PREFIX}/resource/tools/imgwelder",
        "/usr/bin/vexdram": f"{PREFIX}/resource/tools/vexdram",
        "/usr/share/man/man1/vexdram.1.gz": None,
        "/usr/share/bash-completion/completions/vexdram": None,
        f"{PREFIX}/docs/LICENSE": None,
        "/usr/share/man/man1/vexdram_tool.1.gz": None,
        "/usr/share/man/man1/imgwelder.1.gz": None,
        "/usr/share/doc/vexdram/copyright": None,
        f"{PREFIX}/dramforge.pyi": None,
        f"{PREFIX}/examples/tq6951_ddr_v5.bin": None,
        "/usr/bin/vexdram-studio": None,
        f"{PREFIX}/vexdram_studio/__main__.py": None,
        f"{PREFIX}/vexdram_studio/_version.py": None,
        f"{PREFIX}/resource/cfg/chips.csv": None,
        f"{PREFIX}/resource/vexdram_catalogue.json": None,
        f"{PREFIX}/vexdram.pyi": None,
        f"{PREFIX}/include/vexdram/vexdram.h": None,
        f"{PREFIX}/lib/libvexdram.a": None,
        f"{PREFIX}/lib/libvexdram.so.1": "libvexdram.so.1.0.0",
        f"{PREFIX}/lib/libvexdram.so": "libvexdram.so.1",
        f"/usr/lib/{MULTIARCH}/pkgconfig/vexdram.pc": None,
        f"/usr/lib/{MULTIARCH}/cmake/vexdram/vexdramConfig.cmake": None,
        f"/usr/lib/{MULTIARCH}/cmake/vexdram/vexdramConfigVersion.cmake": None,
    }
    assert {p: entries.get(p, "missing") for p in expected} == expected
    places = (PREFIX + "/", "/usr/bin/", "/usr/share/man/man1/", "/usr/share/doc/vexdram/",
              "/usr/share/lintian/overrides/", "/usr/share/bash-completion/completions/",
              f"/usr/lib/{MULTIARCH}/pkgconfig/", f"/usr/lib/{MULTIARCH}/cmake/vexdram/")
    assert [p for p in entries if not p.startswith(places)] == []
    # the host directory of the .deb is the tarball's tree, less the manual pages moved to /usr/share
    tar_tree = {str(p.relative_to(unpacked[0])) for p in unpacked[0].rglob("*")}
    deb_tree = {str(p.relative_to(unpacked[1] / PREFIX[1:])) for p in (unpacked[1] / PREFIX[1:]).rglob("*")}
    assert deb_tree == {p for p in tar_tree if not p.startswith("share")}
    for page in ("vexdram_tool.1", "imgwelder.1", "vexdram.1"):
        shipped = gzip.decompress((unpacked[1] / "usr/share/man/man1" / (page + ".gz")).read_bytes())
        assert shipped == (REPO / "docs" / "man" / page).read_bytes() == (unpacked[0] / "share/man/man1" / page).read_bytes()


def report_of_sample(tool, sample, work):
    out = run(tool, "tq6951", "-g", work / "report.txt", sample, env=CLEAN_ENV, cwd=work)
    assert out.endswith("generate info from bin file ok.\n"), out
    lines = (work / "report.txt").read_text().splitlines()
    assert (len(lines), lines[0], lines[-1]) == (485, "start tag=0x12345678", "end")


def test_tarball_works_from_a_clean_shell(unpacked, tmp_path):
    tree = unpacked[0]
    report_of_sample(tree / "resource/tools/vexdram_tool", tree / "examples/tq6951_ddr_v5.bin", tmp_path)
    # the module imports from the unpacked tree and drives its tools: the demo host checks the change
    out = run("/usr/bin/python3", tree / "examples/demo_host.py", env=CLEAN_ENV, cwd=tmp_path)
    assert "update_ddr_bin wrote" in out
    assert run("/usr/bin/python3", "-c", "import dramforge; print(dramforge.dramforge.__qualname__)",
               env={**CLEAN_ENV, "PYTHONPATH": str(tree)}, cwd=tmp_path) == "dramforge\n"
    # the Python package from the unpacked tree: a sample's values as vexdram shows them
    sample = tree / "examples/tq6951_ddr_v5.bin"
    shown = run(tree / "resource/tools/vexdram", "show", "--json", sample, env=CLEAN_ENV)
    assert run("/usr/bin/python3", "-c", "import json, sys, vexdram; print(vexdram.open(sys.argv[1]).as_dict() == "
               "json.loads(sys.stdin.read())['parameters'])", sample, input=shown,
               env={**CLEAN_ENV, "PYTHONPATH": str(tree)}, cwd=tmp_path) == "True\n"


@pytest.mark.parametrize("which", ["tarball", "deb"])
def test_the_library_builds_an_outside_program(unpacked, tmp_path, which):
    """From the unpacked tree (the tarball's, or the .deb's host directory), an outside CMake
    project with find_package(vexdram) and vexdram::core builds and runs; so does a program
    compiled with pkg-config's flags. The .deb's own vexdram.pc and CMake package, where
    pkg-config and CMake look, lead to /opt/vexdram."""
    tree = unpacked[0] if which == "tarball" else unpacked[1] / PREFIX[1:]
    (tmp_path / "CMakeLists.txt").write_text(
        "cmake_minimum_required(VERSION 3.18)\nproject(outside CXX)\nfind_package(vexdram CONFIG REQUIRED)\n"
        "add_executable(outside outside.cpp)\ntarget_link_libraries(outside PRIVATE vexdram::core)\n")
    (tmp_path / "outside.cpp").write_text(
        "#include <iostream>\n#include <vexdram/vexdram.h>\nint main(int, char** argv) {\n"
        "  auto img = vexdram::image::open(argv[1]);\n"
        "  std::cout << vexdram::version() << ' ' << img.value(vexdram::parameter_named(\"ddr3_freq\")) << '\\n';\n}\n")
    run("cmake", "-S", tmp_path, "-B", tmp_path / "b", f"-DCMAKE_PREFIX_PATH={tree}", env={**os.environ, **CLEAN_ENV})
    run("cmake", "--build", tmp_path / "b")
    sample = tree / "examples/tq6951_ddr_v5.bin"
    assert run(tmp_path / "b" / "outside", sample, env=CLEAN_ENV) == f"{VERSION} 1056\n"
    flags = run("pkg-config", "--cflags", "--libs", "vexdram",
                env={**CLEAN_ENV, "PKG_CONFIG_PATH": str(tree / "lib/pkgconfig")}).split()
    run("g++", "-std=c++17", tmp_path / "outside.cpp", "-o", tmp_path / "by_pc", *flags)
    assert run(tmp_path / "by_pc", sample, env=CLEAN_ENV) == f"{VERSION} 1056\n"
    if which == "deb":
        arch = unpacked[1] / "usr/lib" / MULTIARCH
        assert f"prefix={PREFIX}\n" in (arch / "pkgconfig/vexdram.pc").read_text()
        assert f'include("{PREFIX}/lib/cmake/vexdram/vexdramConfig.cmake")' in (
            arch / "cmake/vexdram/vexdramConfig.cmake").read_text()


def test_deb_root_reports_a_bundled_sample(unpacked, tmp_path):
    root = unpacked[1]
    link = os.readlink(root / "usr/bin/vexdram_tool")  # absolute: resolve it inside the scratch root
    sample = root / PREFIX[1:] / "examples/tq6951_ddr_v5.bin"
    report_of_sample(root / link[1:], sample, tmp_path)
    vexdram = root / os.readlink(root / "usr/bin/vexdram")[1:]
    assert run(vexdram, "show", sample, env=CLEAN_ENV) == (tmp_path / "report.txt").read_text()
    # MIT, in the machine-readable copyright file
    assert "License: Expat" in (root / "usr/share/doc/vexdram/copyright").read_text()


def test_studio_launcher_serves_the_page(unpacked, tmp_path):
    root = unpacked[1]
    launcher = (root / "usr/bin/vexdram-studio").read_text()
    assert f"PYTHONPATH={PREFIX} exec /usr/bin/python3" in launcher
    (tmp_path / "work").mkdir()
    script = tmp_path / "launcher"
    script.write_text(launcher.replace(PREFIX, str(root / PREFIX[1:])))
    # started from elsewhere with a relative workspace
    studio = subprocess.Popen(["sh", str(script), "--no-browser", "--port", "0", "work"], cwd=tmp_path,
                              env=CLEAN_ENV, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        url = studio.stdout.readline().strip()
        assert url.startswith("vexdram studio: http://127.0.0.1:"), url + studio.stderr.read()
        with urllib.request.urlopen(url.split(": ", 1)[1], timeout=10) as page:
            assert page.status == 200
    finally:
        studio.send_signal(signal.SIGTERM)
        assert studio.wait(timeout=10) == 0


def test_lintian_finds_no_errors_or_warnings(tmp_path):
    # lintian leaves its caches in TMPDIR
    out = subprocess.run(["lintian", "--no-tag-display-limit", DEB], capture_output=True, text=True,
                         env={**os.environ, "TMPDIR": str(tmp_path)})
    assert not [line for line in out.stdout.splitlines() if line[:2] in ("E:", "W:")], out.stdout
    # every override says why, in the comment above it
    lines = (REPO / "packaging" / "lintian-overrides").read_text().splitlines()
    for i, line in enumerate(lines):
        if line and not line.startswith("#"):
            assert i > 0 and lines[i - 1].startswith("#"), line


WINDOWS_ZIP = PKG / f"vexdram-{VERSION}-windows-x86_64.zip"


@pytest.mark.skipif(not WINDOWS_ZIP.is_file(), reason=f"no {WINDOWS_ZIP.name}: scripts/package.sh makes it")
def test_windows_zip():
    """The Windows host directory as the module looks for its programs (resource\\tools\\*.exe),
    with the examples, the guide, the manual pages of the programs it holds, as text, and the licence."""
    import zipfile
    top = f"vexdram-{VERSION}-windows-x86_64/"
    with zipfile.ZipFile(WINDOWS_ZIP) as z:
        names = set(z.namelist())
        assert all(n.startswith(top) for n in names)
        tools = {n[len(top) + len("resource/tools/"):] for n in names if n.startswith(top + "resource/tools/")}
        assert tools == {"vexdram_tool.exe", "vexdram.exe", "imgwelder.exe"}
        for exe in tools:
            assert z.read(top + "resource/tools/" + exe)[:2] == b"MZ"
        pages = {n[len(top) + len("docs/man/"):] for n in names if n.startswith(top + "docs/man/")}
        assert pages == {exe[:-len(".exe")] + ".txt" for exe in tools}
        assert b"vexdram_tool" in z.read(top + "docs/man/vexdram_tool.txt")
        assert {top + p for p in ("LICENSE", "docs/vexdram_tool_user_guide.txt", "examples/tq6951_ddr_v5.bin",
                                  "examples/vexdram_param.txt", "resource/cfg/chips.csv")} <= names
        assert not any(n.endswith((".py", ".so", ".pyd", ".1")) for n in names)
        # the C++ library for MinGW-w64 programs: static, its headers, its CMake package
        assert z.read(top + "lib/libvexdram.a")[:8] == b"!<arch>\n"
        assert {top + p for p in ("include/vexdram/vexdram.h", "include/vexdram/export.h",
                                  "lib/cmake/vexdram/vexdramConfig.cmake", "lib/pkgconfig/vexdram.pc")} <= names
