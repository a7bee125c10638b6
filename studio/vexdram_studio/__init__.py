"""vexdram studio: a local web page for editing the DDR parameters of binaries and loader
containers, a host over the dramforge module."""
import importlib
import re
from pathlib import Path


def _version() -> str:
    try:
        return str(importlib.import_module("._version", __name__).version)  # written by the build
    except ImportError:  # running from the source tree: the one version of the build
        top = Path(__file__).resolve().parents[2] / "CMakeLists.txt"
        found = re.search(r"project\(vexdram VERSION ([0-9.]+)", top.read_text()) if top.exists() else None
        return found.group(1) if found else "unknown"


__version__ = _version()
