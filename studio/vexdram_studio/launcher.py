"""Starting and stopping: arguments, the install's resource/, the private working directory, the
server, the start line, the browser, and a clean exit on SIGINT or SIGTERM.

    python3 -m vexdram_studio [--port N] [--host H] [--no-browser] WORKSPACE
"""
import argparse
import json
import os
import secrets
import shutil
import signal
import socket
import sys
import tempfile
import threading
import webbrowser
from pathlib import Path
from types import FrameType
from typing import List, Optional, Tuple

from . import __version__
from .operations import Failed, Operations
from .rules import Catalogue
from .web import Studio, StudioServer
from .workspace import Workspace

LOOPBACK = ("127.0.0.1", "localhost", "[::1]")
CHIPS_CSV = "resource/cfg/chips.csv"
CATALOGUE = "vexdram_catalogue.json"


def _arguments(argv: Optional[List[str]]) -> argparse.Namespace:
    p = argparse.ArgumentParser(prog="python3 -m vexdram_studio",
                                description="Edit the DDR parameters of the binaries and loader "
                                            "containers in WORKSPACE from a local web page.")
    p.add_argument("workspace", metavar="WORKSPACE", help="the folder whose files the page edits")
    p.add_argument("--port", type=int, default=0, help="port to listen on (0, the default: a free one)")
    p.add_argument("--host", default="127.0.0.1",
                   help="address to listen on (default 127.0.0.1; anything else is reachable by others)")
    p.add_argument("--no-browser", action="store_true", help="do not open a browser")
    return p.parse_args(argv)


def _fail(message: str) -> int:
    print(f"vexdram studio: {message}", file=sys.stderr)
    return 2


class _Server6(StudioServer):
    address_family = socket.AF_INET6


def _host_names(host: str) -> Tuple[str, str]:
    """The name the start line uses and the one the Host header carries."""
    named = f"[{host}]" if ":" in host else host
    return named, named.lower()


def main(argv: Optional[List[str]] = None) -> int:
    args = _arguments(argv)
    install = Path(__file__).resolve().parent.parent
    resource = install / "resource"
    if not (resource / "tools" / "vexdram_tool").is_file():
        return _fail(f"{resource}/tools/vexdram_tool is missing: run from an install directory")
    workspace = (Path.cwd() / args.workspace).resolve()
    if not workspace.is_dir():
        return _fail(f"{args.workspace}: no such folder")
    if str(install) not in sys.path:
        sys.path.insert(0, str(install))
    try:
        import dramforge  # the extension module installed beside the package
    except ImportError as e:
        return _fail(f"the dramforge module cannot be loaded from {install}: {e}")

    # The module works relative to the current directory: output/ and resource/tools/.
    private = Path(tempfile.mkdtemp(prefix="vexdram-studio-"))
    stop = threading.Event()
    try:
        (private / "resource").symlink_to(resource)
        ws = Workspace(workspace)
        (private / ws.link).symlink_to(workspace)
        os.chdir(private)
        catalogue_json = (resource / CATALOGUE).read_bytes()
        ops = Operations(dramforge.dramforge, ws, Catalogue(json.loads(catalogue_json)))
        try:
            chips = ops.chips(CHIPS_CSV)
        except Failed as e:
            print(f"vexdram studio: warning: the chip table could not be read ({e})", file=sys.stderr)
            chips = ops.bare_chips()
        named, header_name = _host_names(args.host)
        studio = Studio(ops, secrets.token_urlsafe(24), __version__, catalogue_json, chips,
                        tuple(sorted(set(LOOPBACK) | {header_name})))
        server_class = _Server6 if ":" in args.host else StudioServer
        try:
            server = server_class((args.host, args.port), studio)
        except OSError as e:
            return _fail(f"cannot listen on {args.host}:{args.port}: {e.strerror}")

        def on_signal(signum: int, frame: Optional[FrameType]) -> None:
            stop.set()

        signal.signal(signal.SIGINT, on_signal)
        signal.signal(signal.SIGTERM, on_signal)
        if header_name not in LOOPBACK:
            print(f"vexdram studio: warning: listening on {args.host}, not on the loopback "
                  "address: whoever reaches it with the token can change your files",
                  file=sys.stderr)
        url = f"http://{named}:{studio.port}/?token={studio.token}"
        print(f"vexdram studio: {url}", flush=True)
        serving = threading.Thread(target=server.serve_forever, name="http", daemon=True)
        serving.start()
        if not args.no_browser:
            threading.Thread(target=webbrowser.open, args=(url,), daemon=True).start()
        while not stop.wait(3600):
            pass
        server.shutdown()
        server.server_close()
        # An action still running finishes before its working directory goes.
        ops.lock.acquire(timeout=60)
        return 0
    finally:
        os.chdir("/")
        shutil.rmtree(private, ignore_errors=True)
