"""Zips the Windows host directory (scripts/build_windows.sh's dist-win/) as the module expects it:
    vexdram-VERSION-windows-x86_64/resource/tools/*.exe, resource/ data, examples/, docs/ (the user
    guide, the references, the manual pages as text), LICENSE
Usage: windows_zip.py DIST_WIN MAN_TEXT_DIR OUT_ZIP. Entries in a fixed order with a fixed time,
so the same tree gives the same zip."""
import sys
import zipfile
from pathlib import Path

dist, man_text, out = (Path(a) for a in sys.argv[1:4])
top = out.name[:-len(".zip")]
tools = {p.stem for p in (dist / "resource" / "tools").glob("*.exe")}
# no module for Windows yet: nothing that needs it (the demo host), no page of a program not built
entries = [(p, p.relative_to(dist).as_posix()) for p in sorted(dist.rglob("*"))
           if p.is_file() and not p.relative_to(dist).as_posix().startswith(("share/", "docs/LICENSE"))
           and p.suffix != ".py"]
entries += [(p, f"docs/man/{p.name}") for p in sorted(man_text.glob("*.txt")) if p.stem in tools]
entries.append((dist / "docs" / "LICENSE", "LICENSE"))
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
    for path, name in entries:
        info = zipfile.ZipInfo(f"{top}/{name}", date_time=(2024, 1, 17, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        z.writestr(info, path.read_bytes())
