"""The workspace: the one folder whose files the page may name, read and add to.

Every name from the page is a path relative to the workspace, with "/" between its parts. It is
resolved here, symlinks included, and refused unless it stays inside. Files are written only
beside files that resolved inside, never through a symlink.
"""
import os
import stat
from pathlib import Path
from typing import Dict, List, Optional

MAX_NAME_BYTES = 1024
MAX_PART_BYTES = 255
MAX_LISTED = 2000


class Refused(ValueError):
    """A name the workspace will not resolve; the text says why."""


class Workspace:
    def __init__(self, root: Path, link: str = "workspace") -> None:
        self.root = root.resolve()
        # The module works relative to the private working directory, where `link` names root.
        self.link = link

    def _parts(self, name: object) -> List[str]:
        if not isinstance(name, str):
            raise Refused("a file name must be text")
        if "\0" in name:
            raise Refused("a file name must not contain NUL bytes")
        try:
            name.encode("utf-8", "surrogateescape")
        except UnicodeEncodeError:  # a lone surrogate names no file
            raise Refused("a file name must be valid Unicode") from None
        if len(name.encode("utf-8", "surrogateescape")) > MAX_NAME_BYTES or any(
                len(p.encode("utf-8", "surrogateescape")) > MAX_PART_BYTES for p in name.split("/")):
            raise Refused("the file name is too long")
        if name.startswith("/") or name.startswith("\\") or (len(name) > 1 and name[1] == ":"):
            raise Refused(f"{name!r}: absolute paths are refused; name a file in the workspace")
        parts = [p for p in name.split("/") if p not in ("", ".")]
        if ".." in parts:
            raise Refused(f"{name!r}: '..' is refused; name a file in the workspace")
        if not parts:
            raise Refused("no file name given")
        return parts

    def _inside(self, real: Path) -> bool:
        return real == self.root or self.root in real.parents

    def file(self, name: object) -> Path:
        """The real path of an existing regular file named inside the workspace."""
        parts = self._parts(name)
        real = self.root.joinpath(*parts).resolve()
        if not self._inside(real):
            raise Refused(f"{name!r} leads out of the workspace")
        try:
            mode = real.stat().st_mode
        except OSError:
            raise Refused(f"{name!r}: no such file in the workspace") from None
        if not stat.S_ISREG(mode):
            raise Refused(f"{name!r} is not a regular file")
        return real

    def target(self, real: Path) -> Path:
        """A path to be written: its folder inside the workspace, itself no symlink, no folder."""
        real = Path(os.path.abspath(real))
        if not self._inside(real.parent.resolve()):
            raise Refused(f"{self.name(real)!r} would be written out of the workspace")
        if real.is_symlink():
            raise Refused(f"{self.name(real)!r} is a symlink; it is not written through")
        if real.is_dir():
            raise Refused(f"{self.name(real)!r} is a folder")
        if real.exists() and not real.is_file():
            raise Refused(f"{self.name(real)!r} exists and is not a regular file")
        return real

    def new_file(self, name: object) -> Path:
        """A file to be written in the workspace under the name given."""
        parts = self._parts(name)
        parent = self.root.joinpath(*parts[:-1]).resolve()
        if not self._inside(parent):
            raise Refused(f"{name!r} leads out of the workspace")
        return self.target(parent / parts[-1])

    def parameter_file(self, name: object) -> Path:
        """A parameter file to be written: a name that ends in .txt and names no folder."""
        parts = self._parts(name)
        assert isinstance(name, str)
        if name.split("/")[-1] != parts[-1]:  # "x/", "x/." or "x//"
            raise Refused(f"{name!r} names a folder; a parameter file's name ends in .txt")
        if not parts[-1].endswith(".txt") or parts[-1] == ".txt":
            raise Refused(f"{name!r}: a parameter file's name ends in .txt")
        return self.new_file(name)

    def name(self, real: Path) -> str:
        """The name the page shows: relative to the workspace."""
        try:
            return Path(os.path.abspath(real)).relative_to(self.root).as_posix()
        except ValueError:
            return str(real)

    def module_path(self, real: Path) -> str:
        """The path the module is given for a file inside the workspace."""
        return f"{self.link}/{self.name(real)}"

    def regular_files(self) -> List[Dict[str, object]]:
        """Every regular file under the workspace (symlinks only where they stay inside), sorted
        by name; at most MAX_LISTED."""
        found: List[Dict[str, object]] = []
        for folder, dirs, files in os.walk(self.root):
            dirs[:] = sorted(d for d in dirs if not d.startswith(".")
                             and not os.path.islink(os.path.join(folder, d)))
            for f in sorted(files):
                path = Path(folder, f)
                entry = self._listed(path)
                if entry is not None:
                    found.append(entry)
                if len(found) >= MAX_LISTED:
                    break
            if len(found) >= MAX_LISTED:
                break
        found.sort(key=lambda e: str(e["name"]))
        return found

    def _listed(self, path: Path) -> Optional[Dict[str, object]]:
        try:
            real = path.resolve()
            st = real.stat()
        except OSError:
            return None
        if not self._inside(real) or not stat.S_ISREG(st.st_mode):
            return None
        return {"name": self.name(path), "size": st.st_size, "real": real}
