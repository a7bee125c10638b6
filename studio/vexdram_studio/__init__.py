"""vexdram studio: a local web page for editing the DDR parameters of binaries and loader
containers, a host over the dramforge module."""
import re
from pathlib import Path


def _version() -> str:
    try:
        from ._version import version  # type: ignore[import]  # written by the build
        return str(version)
    except ImportError:  # running from the source tree: the one version of the build
        top = Path(__file__).resolve().parents[2] / "CMakeLists.txt"
        found = re.search(r"project\(vexdram VERSION ([0-9.]+)", top.read_text()) if top.exists() else None
        return found.group(1) if found else "unknown"


__version__ = _version()
