"""Drives the studio the way a person does: starts it from an install tree on a workspace, and
starts a headless Chromium for its page. Shared by the studio tests, the benchmark and the
screenshot script (bench/studio_bench.py, scripts/studio_screenshot.py)."""
import os
import re
import shutil
import signal
import subprocess
import sys
from pathlib import Path
from typing import Any, Optional

START_LINE = re.compile(r"vexdram studio: (http://127\.0\.0\.1:(\d+)/\?token=([A-Za-z0-9_-]+))\n")
AXE = Path(".deps/node/node_modules/axe-core/axe.min.js")  # in the checkout, by scripts/setup.sh
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync"]


class Studio:
    """A running studio: its process, address and token; stop() ends it as a person would."""

    def __init__(self, proc: "subprocess.Popen[str]", line: str, tmp: Path, workspace: Path) -> None:
        found = START_LINE.fullmatch(line)
        if not found:
            proc.kill()
            raise RuntimeError(f"unexpected start line {line!r}: {proc.stderr.read() if proc.stderr else ''}")
        self.proc, self.tmp, self.workspace = proc, tmp, workspace
        self.url, self.port, self.token = found.group(1), int(found.group(2)), found.group(3)
        self.stderr = ""  # what it printed on standard error, once stopped

    def page(self, file: Optional[str] = None) -> str:
        return self.url + (f"&file={file}" if file else "")

    def stop(self, sig: int = signal.SIGTERM) -> int:
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        try:
            return self.proc.wait(timeout=20)
        finally:
            if self.proc.stderr and self.proc.poll() is not None:
                self.stderr = self.proc.stderr.read()
            for stream in (self.proc.stdout, self.proc.stderr):
                if stream:
                    stream.close()


def start_studio(dist: Path, workspace: Path, tmp: Path, *args: str) -> Studio:
    """Starts `python3 -m vexdram_studio --port 0 --no-browser WORKSPACE` with the install tree on
    sys.path, from the directory tmp/cwd, with its temporary files under tmp/private."""
    cwd, private = tmp / "cwd", tmp / "private"
    cwd.mkdir(parents=True, exist_ok=True)
    private.mkdir(parents=True, exist_ok=True)
    env = dict(os.environ, PYTHONPATH=str(dist), TMPDIR=str(private))
    proc = subprocess.Popen([sys.executable, "-m", "vexdram_studio", "--port", "0", "--no-browser",
                             *args, str(workspace)], cwd=cwd, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, universal_newlines=True)
    assert proc.stdout is not None
    return Studio(proc, proc.stdout.readline(), private, workspace)


def make_workspace(repo: Path, into: Path) -> Path:
    """A workspace with the bundled samples and the bundled loader container."""
    into.mkdir(parents=True, exist_ok=True)
    for sample in ("tq6951_ddr_v5.bin", "tq6583_ddr_v2.bin", "tq6420_ddr_v1.bin", "tq6951_loader.bin"):
        shutil.copy(repo / "examples" / sample, into / sample)
    return into


def chromium(user_data: Path, width: int = 1400, height: int = 1000) -> Any:
    """A headless Chromium under Selenium, with a fresh profile in user_data."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for flag in CHROMIUM_FLAGS + [f"--user-data-dir={user_data}", f"--window-size={width},{height}"]:
        options.add_argument(flag)
    service = Service(shutil.which("chromedriver") or "/usr/bin/chromedriver")
    return webdriver.Chrome(service=service, options=options)


def wait_js(driver: Any, condition: str, timeout: float = 20) -> Any:
    """Waits until the JavaScript expression is truthy; returns its value."""
    from selenium.webdriver.support.ui import WebDriverWait
    return WebDriverWait(driver, timeout, poll_frequency=0.02).until(
        lambda d: d.execute_script(f"return {condition};"))


def type_into(driver: Any, key: str, text: str) -> Any:
    """Types text into the editor of parameter key, in place of its value; returns the field."""
    field = driver.find_element("name", key)
    field.clear()
    field.send_keys(text)
    return field


def axe_violations(driver: Any, repo: Path) -> Any:
    """What axe-core finds wrong on the page as it stands, any impact: [[rule, impact, [node]]]."""
    driver.execute_script((repo / AXE).read_text(encoding="utf-8"))
    return driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        axe.run(document, {resultTypes: ["violations"]}).then(
          r => done(r.violations.map(v => [v.id, v.impact, v.nodes.map(n => n.target.join(" "))])),
          e => done([["axe failed", String(e), []]]));""")
