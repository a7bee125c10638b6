"""The two references run as they are written: docs/python.md as doctest, and the C++ example of
docs/library.md built against the install tree by an outside CMake project (find_package) and
with pkg-config, run, and its output compared with the one shown."""
import doctest
import os
import re
import shutil
import subprocess

import pytest

from conftest import DIST, EXAMPLES, REPO


@pytest.fixture()
def samples(tmp_path, monkeypatch):
    shutil.copytree(EXAMPLES, tmp_path / "examples")
    monkeypatch.chdir(tmp_path)
    return tmp_path


def test_python_reference(samples):
    failed, tried = doctest.testfile(str(REPO / "docs" / "python.md"), module_relative=False,
                                     optionflags=doctest.ELLIPSIS, verbose=False)
    assert (failed, tried > 40) == (0, True)


def blocks(kind):
    return re.findall(rf"```{kind}\n(.*?)```", (REPO / "docs" / "library.md").read_text(), re.S)


def run(*args, **kw):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, check=True, **kw).stdout


def test_library_example_builds_and_runs(samples):
    (cmake_text,), (source,), (shown,) = blocks("cmake"), blocks("cpp"), blocks("text")
    project = samples / "project"
    project.mkdir()
    (project / "CMakeLists.txt").write_text(cmake_text)
    (project / "board_freq.cpp").write_text(source)
    run("cmake", "-S", project, "-B", project / "build", f"-DCMAKE_PREFIX_PATH={DIST}")
    run("cmake", "--build", project / "build")
    assert run(project / "build" / "board_freq") == shown
    # the same with pkg-config: the shared library, found through the run path it names
    os.remove("board_tq6951.bin")
    flags = run("pkg-config", "--cflags", "--libs", "vexdram",
                env={**os.environ, "PKG_CONFIG_PATH": str(DIST / "lib" / "pkgconfig")}).split()
    run("g++", "-std=c++17", project / "board_freq.cpp", "-o", "by_pkg_config", *flags)
    assert run(samples / "by_pkg_config") == shown
    assert "libvexdram.so.1 => " + str(DIST / "lib") in run("ldd", samples / "by_pkg_config").replace(
        "/lib/pkgconfig/../../lib", "/lib")
