#!/usr/bin/env python3
"""A small host application for dramforge: read the DDR parameters of a bundled sample, change
ddr3_freq, write the change into a copy and print what changed.

    python3 demo_host.py [INSTALL_DIR]

INSTALL_DIR is the directory laid out by `cmake --install` (dramforge<suffix>, resource/tools/,
examples/); by default the parent of this script's directory, which is right when the script runs
from INSTALL_DIR/examples/. The host works in a fresh temporary directory that links
INSTALL_DIR/resource, so the install tree itself is left as it was. Exits 0 when the comparison
shows exactly the one change.
"""
import logging
import os
import shutil
import sys
import tempfile
from typing import List

SAMPLE = "tq6951_ddr_v5.bin"
CHIP = "TQ6951"


def main(argv: List[str]) -> int:
    install = os.path.abspath(argv[1] if len(argv) > 1 else
                              os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir))
    sys.path.insert(0, install)
    import dramforge  # the host's import: from the install tree

    # The host owns logging; dramforge logs its failures through the root logger.
    logging.basicConfig(level=logging.INFO, format="%(levelname)s %(message)s")

    df = dramforge.dramforge
    with tempfile.TemporaryDirectory(prefix="dramforge-demo-") as work:
        os.symlink(os.path.join(install, "resource"), os.path.join(work, "resource"))
        os.chdir(work)
        os.mkdir("bins")
        ddr_bin = os.path.join("bins", SAMPLE)
        shutil.copy(os.path.join(install, "examples", SAMPLE), ddr_bin)

        params, status = df.get_ddr_params(ddr_bin, CHIP)
        print(f"get_ddr_params({ddr_bin!r}, {CHIP!r}): status {status}, {len(params)} parameters")
        if status != 0 or not params:
            return 1
        old = params["ddr3_freq"]
        new = "933" if old != "933" else "800"
        print(f"ddr3_freq = {old}; changing it to {new}")
        params["ddr3_freq"] = new

        new_bin = df.update_ddr_bin(params, ddr_bin, CHIP)
        print(f"update_ddr_bin wrote {new_bin}")

        diff, text = df.cpmpare_ddr_param()
        print(text)
        check, _ = df.get_ddr_params(new_bin, CHIP)
        os.chdir(install)  # leave the temporary directory before it is removed
    return 0 if diff == {"ddr3_freq": new} and check.get("ddr3_freq") == new else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
