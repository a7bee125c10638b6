"""The HTTP layer: who may ask (token, Host, origin), how much (1 MiB), in what form (JSON).

Every request must carry the launch's token: the page sends it in a header to the API; the page
itself and its static files may also be fetched with it in the query or in the cookie set with
the page. A
request that fails a rule gets its status and a JSON message, and nothing is done.
"""
import hmac
import json
import sys
import traceback
from http.cookies import SimpleCookie
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path
from typing import Any, Callable, Dict, List, Optional, Tuple
from urllib.parse import parse_qs, urlsplit

from .operations import Conflict, Failed, Operations
from .workspace import Refused

MAX_BODY = 1 << 20
TOKEN_HEADER = "X-Studio-Token"
STATIC = Path(__file__).resolve().parent / "static"
CONTENT_TYPES = {".html": "text/html; charset=utf-8", ".css": "text/css; charset=utf-8",
                 ".js": "text/javascript; charset=utf-8", ".json": "application/json",
                 ".svg": "image/svg+xml"}
SECURITY_HEADERS = {
    "Content-Security-Policy": "default-src 'self'",
    "X-Content-Type-Options": "nosniff",
    "X-Frame-Options": "DENY",
    "Referrer-Policy": "no-referrer",
    "Cache-Control": "no-store",
}


class Reply(Exception):
    def __init__(self, status: int, message: str, **extra: Any) -> None:
        super().__init__(message)
        self.status = status
        self.body: Dict[str, Any] = {"error": message, **extra}


class Studio:
    """What the server serves: the launch's token, its names for itself, the page's data."""

    def __init__(self, ops: Operations, token: str, version: str, catalogue_json: bytes,
                 chips: List[Dict[str, str]], hosts: Tuple[str, ...]) -> None:
        self.ops = ops
        self.token = token
        self.version = version
        self.catalogue_json = catalogue_json
        self.chips = chips
        self.hosts = hosts  # host names the Host header may carry
        self.port = 0

    def info(self) -> Dict[str, Any]:
        return {"version": self.version, "workspace": str(self.ops.ws.root), "chips": self.chips}


class StudioServer(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address: Tuple[str, int], studio: Studio) -> None:
        self.studio = studio
        super().__init__(address, Handler)
        studio.port = self.server_address[1]


def _text(body: Dict[str, Any], key: str) -> str:
    value = body.get(key)
    if not isinstance(value, str):
        raise Reply(400, f"'{key}' must be text")
    return value


def _texts(body: Dict[str, Any], key: str) -> Dict[str, str]:
    value = body.get(key)
    if not isinstance(value, dict) or not all(isinstance(v, str) for v in value.values()):
        raise Reply(400, f"'{key}' must map parameter names to texts")
    return value


class Handler(BaseHTTPRequestHandler):
    server: StudioServer
    protocol_version = "HTTP/1.1"
    server_version = "vexdram-studio"
    sys_version = ""
    body_read = False
    # The headers and the body leave in two writes: with Nagle's algorithm the second waits for
    # the client's delayed acknowledgement, 40 ms on Linux, on every kept-alive answer.
    disable_nagle_algorithm = True

    def handle_one_request(self) -> None:
        self.body_read = False  # each request on a kept-alive connection has its own body
        super().handle_one_request()

    def log_message(self, format: str, *args: Any) -> None:  # noqa: A002 (the base's name)
        pass  # the terminal shows the start line and failures only

    # -- the rules ---------------------------------------------------------------------------

    @property
    def studio(self) -> Studio:
        return self.server.studio

    def _host(self) -> str:
        host = self.headers.get("Host", "")
        allowed = {f"{h}:{self.studio.port}" for h in self.studio.hosts}
        if self.studio.port == 80:  # browsers leave the default port out
            allowed |= set(self.studio.hosts)
        if host.lower() not in allowed:
            raise Reply(403, "this server answers only to its own loopback address")
        return host

    def _token_ok(self, query: Dict[str, Any], page: bool) -> bool:
        given = self.headers.get(TOKEN_HEADER)
        if given is None and page:
            given = (query.get("token") or [None])[0]
            if given is None:
                cookie: SimpleCookie[str] = SimpleCookie(self.headers.get("Cookie", ""))
                morsel = cookie.get(self._cookie_name())
                given = morsel.value if morsel else None
        return given is not None and hmac.compare_digest(given.encode(), self.studio.token.encode())

    def _cookie_name(self) -> str:
        return f"vexdram_studio_{self.studio.port}"

    def _checked(self, page: bool) -> Tuple[str, Dict[str, Any]]:
        url = urlsplit(self.path)
        query = parse_qs(url.query)
        host = self._host()
        if not self._token_ok(query, page):
            raise Reply(403, "the token is missing or wrong: open the address the studio printed")
        if self.command == "POST" and self.headers.get("Origin") != f"http://{host}":
            raise Reply(403, "requests that change something must come from the studio's page")
        return url.path, query

    def _length(self) -> Optional[int]:
        """The body's announced length; None when it cannot be known or exceeds 1 MiB."""
        length = self.headers.get("Content-Length")
        if self.headers.get("Transfer-Encoding") is not None:
            return None
        if length is None:
            return 0  # a request without either header has no body
        if not length.isdigit() or not length.isascii() or int(length) > MAX_BODY:
            return None
        return int(length)

    def _body(self) -> Dict[str, Any]:
        if self.headers.get("Content-Type", "").split(";")[0].strip() != "application/json":
            raise Reply(415, "the body must be JSON")
        length = self.headers.get("Content-Length", "")
        if not length.isdigit() or not length.isascii():
            raise Reply(411, "the body needs a length")
        if int(length) > MAX_BODY:
            raise Reply(413, "the body is larger than 1 MiB")
        raw = self.rfile.read(int(length))
        self.body_read = True
        try:
            body = json.loads(raw)
        except (ValueError, UnicodeDecodeError, RecursionError):  # RecursionError: deep nesting
            raise Reply(400, "the body is not valid JSON") from None
        if not isinstance(body, dict):
            raise Reply(400, "the body must be a JSON object")
        return body

    # -- answers -----------------------------------------------------------------------------

    def _finish_body(self) -> None:
        """Before any answer, the rest of the request's body leaves the connection, so that the
        next request on it is read from its own first byte; a body that cannot be read (no
        length, chunked, over 1 MiB) closes the connection instead."""
        if self.body_read or self.close_connection:
            return
        self.body_read = True
        length = self._length()
        if length is None:
            self.close_connection = True
        elif length:
            self.rfile.read(length)

    def _send(self, status: int, data: bytes, content_type: str,
              extra: Optional[Dict[str, str]] = None) -> None:
        self._finish_body()
        self.send_response(status)
        for name, value in {**SECURITY_HEADERS, **(extra or {})}.items():
            self.send_header(name, value)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        if self.close_connection:
            self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

    def _json(self, status: int, body: Any) -> None:
        self._send(status, json.dumps(body).encode(), "application/json")

    def _answer(self, work: Callable[[], None]) -> None:
        try:
            work()
        except Reply as r:
            self._json(r.status, r.body)
        except Refused as r:
            self._json(400, {"error": str(r)})
        except Conflict as c:
            self._json(409, {"error": str(c), "conflict": True})
        except Failed as f:
            self._json(422, {"error": str(f), "log": f.log})
        except Exception as e:  # a fault of ours: say what, never how (no stack trace to the page)
            traceback.print_exc(file=sys.stderr)
            self._json(500, {"error": f"internal error: {type(e).__name__}"})

    def send_error(self, code: int, message: Optional[str] = None,
                   explain: Optional[str] = None) -> None:
        """http.server's own refusals (a request line or headers it cannot read, a method with no
        handler), in the form of every other answer; the connection is closed after them."""
        self.close_connection = True
        if code == 501:  # a method nobody handles
            self._json(405, {"error": "method not allowed"})
        else:
            self._json(code, {"error": message or "bad request"})

    def do_GET(self) -> None:
        self._answer(self._get)

    def do_POST(self) -> None:
        self._answer(self._post)

    def _refuse_method(self) -> None:
        self.close_connection = True
        self._json(405, {"error": "method not allowed"})

    do_PUT = do_DELETE = do_PATCH = do_OPTIONS = do_HEAD = _refuse_method

    def _get(self) -> None:
        # The page and its files may come by the address's token or the cookie; the API
        # answers only the page's header.
        path, _ = self._checked(page=not urlsplit(self.path).path.startswith("/api/"))
        if path == "/":
            page = (STATIC / "index.html").read_text(encoding="utf-8")
            page = page.replace("@TOKEN@", self.studio.token)
            cookie = f"{self._cookie_name()}={self.studio.token}; Path=/; HttpOnly; SameSite=Strict"
            self._send(200, page.encode(), CONTENT_TYPES[".html"], {"Set-Cookie": cookie})
        elif path.startswith("/static/"):
            name = path[len("/static/"):]
            file = STATIC / name
            if "/" in name or name.startswith(".") or name == "index.html" or not file.is_file():
                raise Reply(404, "no such page")
            self._send(200, file.read_bytes(), CONTENT_TYPES.get(file.suffix, "application/octet-stream"))
        elif path == "/api/catalogue":
            self._send(200, self.studio.catalogue_json, CONTENT_TYPES[".json"])
        elif path == "/api/info":
            self._json(200, self.studio.info())
        elif path == "/api/files":
            self._json(200, {"files": self.studio.ops.listing()})
        else:
            raise Reply(404, "no such page")

    def _post(self) -> None:
        path, _ = self._checked(page=False)
        body = self._body()
        ops = self.studio.ops
        if path == "/api/open":
            result = ops.open(_text(body, "file"), self._chip(body))
        elif path == "/api/save":
            result = ops.save(_text(body, "file"), self._chip(body), _texts(body, "edits"),
                              body.get("overwrite") is True)
        elif path == "/api/export":
            result = ops.export(_text(body, "file"), _texts(body, "values"),
                                body.get("overwrite") is True)
        elif path == "/api/import":
            result = ops.import_(_text(body, "file"))
        else:
            raise Reply(404, "no such action")
        self._json(200, result)

    def _chip(self, body: Dict[str, Any]) -> str:
        chip = _text(body, "chip")
        if chip.lower() not in self.studio.ops.catalogue.chips:
            raise Reply(400, f"{chip!r} is not a chip the tool knows")
        return chip
