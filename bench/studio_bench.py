#!/usr/bin/python3
"""How fast the studio's page answers, measured in the page with performance.now() in a headless
Chromium against a studio started from the install tree:

  open  from the click on a sample in the workspace list to the first frame after all 484
        parameter fields show its values (runs alternate between the --file samples given);
  save  from the click on Save (one edited value) to the first frame after the comparison of
        the saved binary is shown.

    /usr/bin/python3 bench/studio_bench.py [--dist DIST] [--runs N] [--file NAME ...]

Prints median, min and max in milliseconds over N runs (default 20), after one warm-up run each.
"""
import argparse
import statistics
import sys
import tempfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "scripts"))
from studio_driver import chromium, make_workspace, start_studio, wait_js  # noqa: E402

# Clicks, then polls once a frame until `done` holds; answers with the time to the frame after.
TIMED = """
const [click, done, finish] = [arguments[0], new Function(arguments[1]), arguments[arguments.length - 1]];
const t0 = performance.now();
document.querySelector(click).click();
(function poll() {
  if (done()) requestAnimationFrame(() => finish(performance.now() - t0));
  else requestAnimationFrame(poll);
})();
"""


def timed(driver, click, done):
    return driver.execute_async_script(TIMED, click, done)


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--dist", default=str(REPO / "dist"))
    p.add_argument("--runs", type=int, default=20)
    p.add_argument("--file", nargs="+", default=["tq6951_ddr_v5.bin", "tq6583_ddr_v2.bin"])
    args = p.parse_args()
    with tempfile.TemporaryDirectory(prefix="studio-bench-") as tmp:
        ws = make_workspace(REPO, Path(tmp, "ws"))
        studio = start_studio(Path(args.dist).resolve(), ws, Path(tmp))
        driver = chromium(Path(tmp, "profile"))
        try:
            driver.set_script_timeout(60)
            driver.get(studio.page())
            wait_js(driver, "document.body.dataset.ready")
            opened = "return document.body.dataset.opened === '{n}' && " \
                     "document.querySelectorAll('#params input[name]').length === 484"
            open_ms = []
            for i in range(args.runs + 1):
                click = f'button[data-file="{args.file[i % len(args.file)]}"]'
                open_ms.append(timed(driver, click, opened.format(n=i + 1)))
            open_ms = open_ms[1:]
            timed(driver, f'button[data-file="{args.file[0]}"]', opened.format(n=args.runs + 2))
            save_ms = []
            for i in range(args.runs + 1):
                driver.execute_script("""
                    const f = document.querySelector('input[name="ddr3_freq"]');
                    f.value = String(arguments[0]); f.dispatchEvent(new Event('input', {bubbles: true}));""",
                                      900 + i)
                save_ms.append(timed(driver, "#save",
                                     f"return document.body.dataset.saved === '{i + 1}' && "
                                     "!!document.getElementById('changes')"))
            save_ms = save_ms[1:]
        finally:
            driver.quit()
            studio.stop()
    for name, ms in (("open", open_ms), ("save", save_ms)):
        print(f"{name}: median {statistics.median(ms):.1f} ms, min {min(ms):.1f} ms, "
              f"max {max(ms):.1f} ms over {len(ms)} runs")
    return 0


if __name__ == "__main__":
    sys.exit(main())
