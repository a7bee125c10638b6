"""The page's actions, each a short sequence of the module's operations.

The module works in output/ of the current directory (the launch's private working directory)
and keeps no state between calls except the files there, so one lock serialises every action.
While an action runs, a handler on the root logger collects what the module logs: the command
lines, the tools' own output (warnings included) and the module's errors.
"""
import logging
import os
import secrets
import shutil
import tempfile
import threading
from contextlib import contextmanager
from pathlib import Path
from typing import IO, Any, Callable, Dict, Iterator, List, NamedTuple, Optional, Set, Tuple

from .rules import FILE_LIMIT, FILE_TOO_LARGE, Catalogue, is_text, read_param_text, report_value
from .workspace import Refused, Workspace

STATUS_TEXT = {
    0: "chip matches the file name",
    -1: "chip does not match the file name",
    -2: "the tool refused the chip name",
    -3: "the tool is missing",
}
MODULE_FILES = ("output/gen_param.txt", "output/gen_param_new.txt")
STORED = "stored"
SHOWN_DIFFERENCES = 5
NOT_MODIFIED = "the tool did not modify the {what}: every value reads as before"
NOT_AS_EXPECTED = "the {what} does not read back as expected (the old values with the edits): {shown}"
MORE_DIFFER = ", and {count} more parameters"
NOT_SAVED = "; it was not saved"
# The module's own failure record of update_ddr_bin: a read-back cannot see that the tool found
# the binary not written whole, or not put on the disk.
MODULE_SAID = "the module reports that the tool failed: {said}"


class Failed(Exception):
    """An action that could not be done; the message says why, the log says what happened."""

    def __init__(self, message: str, log: Optional[List[Dict[str, str]]] = None) -> None:
        super().__init__(message)
        self.log = log or []


class Facts(NamedTuple):
    """What the engine says of a binary (or of a container's DDR image)."""
    version: int
    values: Dict[str, int]        # every parameter, as a number
    storage: Dict[str, str]       # "stored", or why the binary does not store it
    zero_refused: Dict[str, str]  # the skew lanes that take no 0 here, and why
    unwritable: Optional[str]     # why no edit of the block is written, or None


def read_facts(path: str, chip: str) -> Facts:
    """The engine's facts of the binary or container at path, from its Python package in process
    (what the module's operations do not tell: the block's version, every value as a number,
    where the binary stores each parameter and which edits vexdram refuses, in its words): the
    studio's one way to them. path names a file in the workspace ("workspace/...") or in the
    module's output/."""
    import vexdram  # the engine's package, installed beside the module
    try:
        img = vexdram.open(path, chip)
    except (vexdram.Error, KeyError, OSError) as e:
        raise Failed(f"vexdram: {e}") from None
    storage = {key: img.storage(key) for key in img}
    return Facts(img.version, img.as_dict(), {key: str(s) for key, s in storage.items()},
                 {key: s.zero_refused for key, s in storage.items() if s.zero_refused},
                 img.unwritable)


class Conflict(Exception):
    """A file that would be overwritten without the user's word."""


class Capture(logging.Handler):
    def __init__(self) -> None:
        super().__init__(logging.DEBUG)
        self.step = ""
        self.records: List[Dict[str, str]] = []

    def emit(self, record: logging.LogRecord) -> None:
        self.records.append({"step": self.step, "level": record.levelname.lower(),
                             "text": record.getMessage()})

    def of(self, step: str, level: str = "") -> List[str]:
        return [r["text"] for r in self.records
                if r["step"] == step and (not level or r["level"] == level)]


class Operations:
    def __init__(self, df: Any, workspace: Workspace, catalogue: Catalogue) -> None:
        self.df = df
        self.ws = workspace
        self.catalogue = catalogue
        self.lock = threading.Lock()
        self.written: Set[Path] = set()  # files this launch wrote: saving again needs no word

    @contextmanager
    def _session(self) -> Iterator[Capture]:
        with self.lock:
            root = logging.getLogger()
            capture = Capture()
            level = root.level
            root.addHandler(capture)
            root.setLevel(logging.DEBUG)
            try:
                yield capture
            except Failed as e:
                e.log = capture.records
                raise
            finally:
                root.removeHandler(capture)
                root.setLevel(level)

    def _call(self, capture: Capture, name: str, *args: Any, **kwargs: Any) -> Any:
        capture.step = name
        try:
            return getattr(self.df, name)(*args, **kwargs)
        except Exception as e:  # the module passes the interpreter's exceptions on as raised
            raise Failed(f"{name}: {type(e).__name__}: {e}") from None

    # -- reading ---------------------------------------------------------------------------

    def chips(self, csv_path: str) -> List[Dict[str, str]]:
        with self._session() as cap:
            table = self._call(cap, "get_cfg_file", csv_path)
        if table is None:
            return self.bare_chips()
        return [{str(k): str(v) for k, v in row.items()} for row in table.to_dict("records")]

    def bare_chips(self) -> List[Dict[str, str]]:
        """The chip list without the table: the tool's names alone."""
        return [{"chip": c.upper()} for c in self.catalogue.chips]

    def listing(self) -> List[Dict[str, object]]:
        files = self.ws.regular_files()
        with self._session() as cap:
            for f in files:
                real = f.pop("real")
                assert isinstance(real, Path)
                f["kind"] = self._kind(cap, real)
        return files

    def _kind(self, cap: Capture, real: Path) -> str:
        """"loader", "text" (a parameter file), or a binary: "ddr" when named .bin, else "other"."""
        try:
            if self._is_loader(cap, self.ws.module_path(real)):
                return "loader"
            if is_text(real):
                return "text"
        except (Failed, OSError):
            pass
        return "ddr" if real.suffix.lower() == ".bin" else "other"

    def _read_ddr(self, cap: Capture, path: str, chip: str, shown: str = "") -> Dict[str, Any]:
        params, status = self._call(cap, "get_ddr_params", path, chip)
        if status in (-2, -3):
            raise Failed(STATUS_TEXT[status])
        if not params:
            raise Failed(f"no parameters read from {shown or os.path.basename(path)}: "
                         "the tool found no parameter block")
        return {"params": params, "status": status, "status_text": STATUS_TEXT.get(status, "")}

    def _clear_output(self) -> None:
        # Images of an earlier unpack must never be packed into another container.
        shutil.rmtree("output", ignore_errors=True)

    def _unpack(self, cap: Capture, path: str, chip: str) -> Dict[str, str]:
        self._clear_output()
        images = self._call(cap, "loader_unpack", path, chip)
        if images is None:
            raise Failed("imgwelder could not unpack the container")
        ddr = images.get("loader_471", "null")
        if ddr == "null":
            raise Failed("the container holds no DDR initialisation image (471)")
        if any(v in MODULE_FILES for v in images.values()):
            raise Failed("the container holds an image named like the module's work files")
        return dict(images)

    def _is_loader(self, cap: Capture, path: str) -> bool:
        # check_if_loadr_file needs five bytes to read
        return os.stat(path).st_size >= 5 and bool(self._call(cap, "check_if_loadr_file", path))

    def open(self, name: object, chip: str) -> Dict[str, Any]:
        real = self.ws.file(name)
        path = self.ws.module_path(real)
        with self._session() as cap:
            if self._is_loader(cap, path):
                header = self._call(cap, "get_loader_param", path)
                images = self._unpack(cap, path, chip)
                result = self._read_ddr(cap, images["loader_471"], chip)
                # The module tests the chip against the path it was given, here the unpacked
                # image's; the container is judged by its own name, by the module's rule.
                status = 0 if chip.lower() in path else -1
                result.update(kind="loader", header=header, status=status,
                              status_text=f"{STATUS_TEXT[status]} of the container",
                              ddr_image=os.path.basename(images["loader_471"]))
            else:
                result = self._read_ddr(cap, path, chip, self.ws.name(real))
                result["kind"] = "ddr"
            facts = read_facts(path, chip)
        result.update(file=self.ws.name(real), chip=chip, log=cap.records, version=facts.version,
                      storage=facts.storage, zero_refused=facts.zero_refused,
                      unwritable=facts.unwritable)
        return result

    # -- saving ----------------------------------------------------------------------------

    def _edits(self, params: Dict[str, str], edits: Dict[str, str], facts: Facts,
               chip: str) -> Dict[str, str]:
        """The edits checked as vexdram set checks them, refused in its words: a block whose
        sections overlap takes none; a parameter the binary does not store keeps its own value
        (a value equal to it is no change, wherever the parameter lives); a skew lane that holds
        a value takes no 0."""
        checked: Dict[str, str] = {}
        bad: List[str] = [facts.unwritable] if facts.unwritable else []
        for key, text in edits.items():
            value, reason = self.catalogue.check(key, str(text), facts.version, chip)
            if not reason and facts.storage.get(key, STORED) != STORED and \
                    report_value(value) != report_value(params.get(key, "")):
                reason = facts.storage[key]
            elif not reason and report_value(value) == 0 and key in facts.zero_refused:
                reason = facts.zero_refused[key]
            if reason:
                bad.append(f"{key}: {reason}")
            checked[key] = value
        if bad:
            raise Failed("refused: " + "; ".join(bad))
        params.update(checked)
        return checked

    def _read_back(self, cap: Capture, path: str, chip: str, facts: Facts, edits: Dict[str, str],
                   what: str) -> None:
        """Every parameter of the binary written at path against the old values with the edits
        (and its block version against the old one); Failed, naming the differences, if any, or
        the module's failure record of the update (a binary that reads right but may not be on
        the disk)."""
        failed = cap.of("update_ddr_bin", "error")
        if failed:
            raise Failed(MODULE_SAID.format(said=failed[0]))
        expected = dict(facts.values)
        for key, value in edits.items():
            number = report_value(value)
            assert number is not None  # a checked value
            expected[key] = number
        back = read_facts(path, chip)
        differ = [k for k in expected if back.values[k] != expected[k]]
        if back.version != facts.version:
            differ.insert(0, "block version")
        if not differ:
            return
        if back.values == facts.values:
            raise Failed(NOT_MODIFIED.format(what=what))

        def reads(key: str) -> str:
            if key == "block version":
                return f"the block version reads {back.version} instead of {facts.version}"
            return (f"{key} reads {self.catalogue.canonical(key, back.values[key])} instead of "
                    f"{self.catalogue.canonical(key, expected[key])}")
        listed = ", ".join(reads(k) for k in differ[:SHOWN_DIFFERENCES])
        if len(differ) > SHOWN_DIFFERENCES:
            listed += MORE_DIFFER.format(count=len(differ) - SHOWN_DIFFERENCES)
        raise Failed(NOT_AS_EXPECTED.format(what=what, shown=listed))

    def save(self, name: object, chip: str, edits: Dict[str, str], overwrite: bool) -> Dict[str, Any]:
        """The module writes the new file beside a copy of the original in a folder of its own
        under the private working directory, and names it; once it reads back as asked, it is
        published beside the original under that name. Nothing reaches the workspace before."""
        real = self.ws.file(name)
        if not edits:
            raise Failed("nothing to save: no value was changed")
        with self._session() as cap, _staging() as folder:
            staged = f"{folder}/{real.name}"
            try:
                shutil.copyfile(real, staged)
            except OSError as e:
                raise Failed(f"{self.ws.name(real)} cannot be read: {e.strerror}") from None
            if self._is_loader(cap, staged):
                result, new = self._save_loader(cap, staged, chip, edits)
            else:
                result, new = self._save_ddr(cap, staged, chip, edits)
            # Asked and recorded under the lock: a save running beside this one may be writing it.
            target = self.ws.target(real.parent / os.path.basename(new))
            replace = target.exists()
            if replace and not overwrite and target not in self.written:
                raise Conflict(f"{self.ws.name(target)} exists; overwrite it?")
            with open(new, "rb") as source:
                _publish(target, self.ws.name(target), lambda f: shutil.copyfileobj(source, f),
                         replace)
            self.written.add(target)
        result.update(saved=self.ws.name(target), log=cap.records,
                      tool_output="\n".join(cap.of("update_ddr_bin", "debug")[1:]))
        return result

    def _check_new(self, cap: Capture, new: str, chip: str, facts: Facts, edits: Dict[str, str],
                   what: str) -> None:
        """The read-back of the module's new file, which is not saved unless it passes."""
        try:
            self._read_back(cap, new, chip, facts, edits, what)
        except Failed as e:
            raise Failed(str(e) + NOT_SAVED) from None

    def _written_beside(self, new: object, staged: str, what: str) -> str:
        """The file the module says it wrote: a new regular file beside the staged copy."""
        if not isinstance(new, str) or os.path.dirname(new) != os.path.dirname(staged) or \
                new == staged or not os.path.isfile(new) or os.path.islink(new):
            raise Failed(f"{what} wrote no new file beside the one it was given ({new!r})")
        return new

    def _save_ddr(self, cap: Capture, path: str, chip: str,
                  edits: Dict[str, str]) -> Tuple[Dict[str, Any], str]:
        params = self._read_ddr(cap, path, chip)["params"]
        facts = read_facts(path, chip)
        checked = self._edits(params, edits, facts, chip)
        new = self._written_beside(self._call(cap, "update_ddr_bin", params, path, chip), path,
                                   "the module")
        self._check_new(cap, new, chip, facts, checked, "new binary")
        changes, text = self._call(cap, "cpmpare_ddr_param")
        return {"changes": changes, "change_text": text, "edits": checked}, new

    def _save_loader(self, cap: Capture, path: str, chip: str,
                     edits: Dict[str, str]) -> Tuple[Dict[str, Any], str]:
        images = self._unpack(cap, path, chip)
        ddr = images["loader_471"]
        params = self._read_ddr(cap, ddr, chip)["params"]
        facts = read_facts(path, chip)
        checked = self._edits(params, edits, facts, chip)
        self._call(cap, "update_ddr_bin", params, ddr, chip, ddr_bin_path_rename=False)
        # The edited image is checked before it is packed.
        self._read_back(cap, ddr, chip, facts, checked, "DDR image")
        changes, text = self._call(cap, "cpmpare_ddr_param")
        new = self._written_beside(self._call(cap, "loader_pack", images), path, "imgwelder")
        if not self._call(cap, "check_if_loadr_file", new):
            raise Failed("imgwelder did not write a container")
        self._check_new(cap, new, chip, facts, checked, "new container")
        return {"changes": changes, "change_text": text, "edits": checked,
                "ddr_image": os.path.basename(ddr)}, new

    # -- parameter files -------------------------------------------------------------------

    def export(self, name: object, values: Dict[str, str], overwrite: bool) -> Dict[str, Any]:
        target = self.ws.parameter_file(name)
        bad = [k for k in values if k not in self.catalogue.by_key]
        if bad:
            raise Failed("not parameters: " + ", ".join(sorted(bad)[:5]))
        lines = [f"start tag={self.catalogue.start_tag}"]
        for key in self.catalogue.keys()[1:]:
            if key in values:
                value, reason = self.catalogue.check(key, str(values[key]), None, "")
                if reason:
                    raise Failed(f"{key}: {reason}")
                lines.append(f"{key}={value}")
        data = "\n".join(lines + ["end", ""]).encode("ascii")
        with self._session() as cap:
            replace = target.exists()
            if replace:
                # No word from the user replaces a binary or a container, whoever wrote it.
                if self._kind(cap, target) != "text":
                    raise Refused(f"{self.ws.name(target)} is not a parameter file: export "
                                  "replaces only text files, never a binary or a container")
                if not overwrite and target not in self.written:
                    raise Conflict(f"{self.ws.name(target)} exists; overwrite it?")
            _publish(target, self.ws.name(target), lambda f: f.write(data), replace)
            self.written.add(target)
        return {"saved": self.ws.name(target), "count": len(lines) - 1}


    def import_(self, name: object) -> Dict[str, Any]:
        real = self.ws.file(name)
        with open(real, "rb") as f:
            data = f.read(FILE_LIMIT + 1)
        if len(data) > FILE_LIMIT:
            raise Refused(f"{self.ws.name(real)}: {FILE_TOO_LARGE}")
        found, refused = read_param_text(data, self.catalogue)
        # The start tag is fixed: a line that gives it, rightly, is no value to take.
        return {"file": self.ws.name(real), "values": [p._asdict() for p in found if p.key != "start tag"],
                "refused": [r._asdict() for r in refused]}


@contextmanager
def _staging() -> Iterator[str]:
    """A folder of its own in the private working directory, named relative to it as the module
    names its files, and gone afterwards."""
    folder = os.path.relpath(tempfile.mkdtemp(prefix="save-", dir="."))
    try:
        yield folder
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def _publish(target: Path, shown: str, fill: Callable[[IO[bytes]], Any], replace: bool) -> None:
    """Puts a file at target whole or not at all: written and synced in a temporary file beside
    it, then renamed over it when replace is true, else linked to its name, which fails on a file
    that appeared there meanwhile (Conflict). Where the file system has no hard links, the file
    is created exclusively at its name and written there."""
    temporary = target.with_name(f".{target.name}.{secrets.token_hex(4)}.tmp")
    file = open(temporary, "xb")  # never an existing file, nor through a symlink
    try:
        with file:
            fill(file)
            file.flush()
            os.fsync(file.fileno())
        if replace:
            os.replace(temporary, target)
            return
        try:
            os.link(temporary, target, follow_symlinks=False)
        except FileExistsError:
            raise Conflict(f"{shown} exists; overwrite it?") from None
        except OSError:  # no hard links here (FAT, some network shares)
            _create_exclusively(target, shown, temporary)
    finally:
        if temporary.exists():
            temporary.unlink()


def _create_exclusively(target: Path, shown: str, source: Path) -> None:
    try:
        out = open(target, "xb")
    except FileExistsError:
        raise Conflict(f"{shown} exists; overwrite it?") from None
    try:
        with out, open(source, "rb") as data:
            shutil.copyfileobj(data, out)
            out.flush()
            os.fsync(out.fileno())
    except BaseException:
        target.unlink()
        raise
