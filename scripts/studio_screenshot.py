#!/usr/bin/python3
"""Regenerates docs/studio.png: the studio's page on the bundled tq6951 sample in a headless
Chromium, after two edits were saved and while a third value is refused.

    /usr/bin/python3 scripts/studio_screenshot.py [DIST [OUT]]     (defaults: dist/, docs/studio.png)

The chip table's Chinese descriptions need a CJK font (Debian: fonts-wqy-microhei).
"""
import sys
import tempfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "scripts"))
from studio_driver import chromium, make_workspace, start_studio, type_into, wait_js  # noqa: E402


def main(argv):
    dist = Path(argv[1] if len(argv) > 1 else REPO / "dist").resolve()
    out = Path(argv[2] if len(argv) > 2 else REPO / "docs" / "studio.png").resolve()
    with tempfile.TemporaryDirectory(prefix="studio-shot-") as tmp:
        ws = make_workspace(REPO, Path(tmp, "ws"))
        studio = start_studio(dist, ws, Path(tmp))
        driver = chromium(Path(tmp, "profile"), 1280, 1200)
        try:
            driver.get(studio.page("tq6951_ddr_v5.bin"))
            wait_js(driver, "document.body.dataset.ready")
            type_into(driver, "ddr3_freq", "933")
            type_into(driver, "ddr3_ca0_skew", "0x21")
            driver.find_element("id", "save").click()
            wait_js(driver, "document.body.dataset.saved === '1'")
            driver.find_element("id", "filter").send_keys("ddr3")
            type_into(driver, "ddr3_f1_freq_mhz", "5000")
            driver.execute_script("window.scrollTo(0, 0);")
            driver.save_screenshot(str(out))
        finally:
            driver.quit()
            studio.stop()
    print(f"wrote {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
