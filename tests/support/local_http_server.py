#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A local HTTP server for the network tests, on 127.0.0.1 only.

Prints its port on the first line of standard output, then serves until
killed. Routes:
  /hello                      "hello" (text/plain)
  /echo-headers               the request's headers, one per line
  /redirect?to=URL            302 to URL
  /loop                       302 to itself
  /slow, /slow/...            headers, then silence for 30 s
  /trickle, /trickle/...      headers announcing 512 KiB, then 2 bytes every
                              half second (fast enough for a read time-out)
                              until the client leaves or 60 s pass
  /big, /big-chunked          100 MB, with and without Content-Length
  /status/N                   HTTP status N
  /picture.jpg, /images/*     a small JPEG-like body
  .../~cddb/cddb.cgi          a CDDB server (the prefix before it picks answers;
                              /controls answers with control characters)
  /store-NAME/onca/xml        the recorded answer NAME.xml from --data, its
                              IMAGE_URL replaced by this server's address
  /mb*/ws/2/...               a MusicBrainz stand-in (see musicbrainz())
  /caa*/release/ID/front      a Cover Art Archive stand-in (see cover_art())
  /lrclib*/api/get            an LRCLIB stand-in (see lrclib())
  /requests                   "User-Agent path" of every request before it
Requests whose target is an absolute URL (through a proxy) are answered
"proxied URL" plus the Proxy-Authorization header they carried.
"""
import argparse
import os
import sys
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

BIG = 100 * 1024 * 1024
CHUNK = 64 * 1024

# The CDDB answers by disc id and category.
CDDB_READ = {
    ("rock", "1a026c03"): (
        "210 rock 1a026c03 CD database entry follows (until terminating `.')\r\n"
        "# xmcd\r\n"
        "DISCID=1a026c03\r\n"
        "DTITLE=Artist / Album\r\n"
        "DYEAR=1999\r\n"
        "DGENRE=Rock\r\n"
        "TTITLE0=Guest / Song\r\n"
        "TTITLE1=Song 2\r\n"
        "TTITLE2=Song 3\r\n"
        "EXTD=a / b\r\n"
        ".\r\n").encode(),
    ("misc", "1a026c03"): (
        "210 misc 1a026c03 CD database entry follows\r\n"
        "DTITLE=Greatest Hits\r\n"
        "DYEAR=2001\r\n"
        "TTITLE0=First\r\n"
        ".\r\n").encode(),
    ("jazz", "1a026c03"): (
        "210 jazz 1a026c03 CD database entry follows\r\n"
        "DTITLE=Bj\xf6rk / Caf\xe9\r\n"
        "TTITLE0=\xc9t\xe9\r\n"
        ".\r\n").encode("latin-1"),
    # Control characters a server may send: ESC sequences, DEL, C1 (NEL,
    # CSI), the line and paragraph separators and a right-to-left override.
    ("data", "1a026c03"): (
        "210 data 1a026c03 CD database entry follows\r\n"
        "DTITLE=Ev\x1b[31mil\x7f / Al\u202ebum\u2029Two\r\n"
        "DYEAR=19\x0799\r\n"
        "DGENRE=Ro\u0085ck\r\n"
        "TTITLE0=Gu\u009b2Jest / So\u2028ng\u2066\r\n"
        "TTITLE1=\u202aSecond\r\n"
        ".\r\n").encode(),
    ("blues", "1a026c03"): (
        "210 blues 1a026c03 CD database entry follows\r\n"
        "DTITLE=Bj\u00f6rk / Caf\u00e9\r\n"
        "TTITLE0=\u00c9t\u00e9\r\n"
        ".\r\n").encode(),
}


JPEG = b"\xff\xd8\xff\xe0" + b"picture" * 10 + b"\xff\xd9"
NOT_FOUND_JSON = b'{"error": "Not Found", "help": "recorded"}'


def recorded(data, name):
    try:
        with open(os.path.join(data, name), "rb") as f:
            return f.read()
    except OSError:
        return None


def musicbrainz(server, prefix, rest, params, agent):
    """MusicBrainz web service 2 by the prefix: /mb answers from the
    recordings; /mb-busy answers 503 with Retry-After: 2 to the first
    request of each address; /mb-busy-long asks for an hour; /mb-busy-always
    never stops; /mb-garbage sends HTML; /mb-huge 5 MiB; /mb-wrong a release
    search of wrong types."""
    if params.get("fmt", [""])[0] != "json" or not agent.startswith("Sondrel/") \
            or not agent.endswith(" )"):
        return 400, b'{"error": "fmt=json and a meaningful User-Agent wanted"}', []
    if prefix == "/mb-busy":
        key = rest + "?" + urllib.parse.urlencode(params, doseq=True)
        if key not in server.seen:
            server.seen.add(key)
            return 503, b"busy", [("Retry-After", "2")]
    if prefix == "/mb-busy-long":
        return 503, b"busy", [("Retry-After", "3600")]
    if prefix == "/mb-busy-always":
        return 503, b"busy", [("Retry-After", "1")]
    if prefix == "/mb-garbage":
        return 200, b"<html><body>Service Temporarily Unavailable</body></html>", []
    if prefix == "/mb-huge":
        return 200, b"[" + b" " * (5 << 20) + b"]", []
    if rest == "/ws/2/release":
        if "query" not in params:
            return 400, b'{"error": "query wanted"}', []
        name = "mb-wrong.json" if prefix == "/mb-wrong" else "mb-search.json"
        return 200, recorded(server.data, name), []
    if rest.startswith("/ws/2/release/"):
        body = recorded(server.data, "mb-release-%s.json" % rest[len("/ws/2/release/"):])
        return (200, body, []) if body is not None else (404, NOT_FOUND_JSON, [])
    if rest == "/ws/2/discid/-":
        toc = params.get("toc", [""])[0].split(" ")
        # The recording holds discs of three tracks.
        if len(toc) >= 3 and toc[0] == "1" and toc[1] == "3" and len(toc) == 6:
            return 200, recorded(server.data, "mb-discid.json"), []
        return 404, NOT_FOUND_JSON, []
    return 404, NOT_FOUND_JSON, []


def cover_art(server, prefix, release):
    """The Cover Art Archive: /caa redirects to the stored front cover of
    the release whose recording mb-release-ID.json exists (404 for others);
    /caa-text answers text; /caa-big 100 MB; /caa-away redirects to a plain
    http address that is not this machine's loopback name; /caa-decodable
    serves the recorded caa-front.jpg, a picture that decodes."""
    here = server.server_address[1]
    if prefix == "/caa-text":
        return 200, b"<html>not a picture</html>", []
    if prefix == "/caa-big":
        return 307, b"", [("Location", "/big")]
    if prefix == "/caa-away":
        return 307, b"", [("Location", "http://0.0.0.0:%d/picture.jpg" % here)]
    if recorded(server.data, "mb-release-%s.json" % release) is None:
        return 404, b"Not Found", []
    if prefix == "/caa-decodable":
        return 307, b"", [("Location", "/caa-store/decodable.jpg")]
    return 307, b"", [("Location", "/caa-store/%s-front.jpg" % release)]


def lrclib(server, prefix, params):
    """LRCLIB /api/get: the recording lrclib-TITLE.json (the title in lower
    case, other characters than letters and digits as "-"), else 404."""
    artist = params.get("artist_name", [""])[0]
    title = params.get("track_name", [""])[0]
    if not artist or not title:
        return 400, b'{"code": 400, "name": "QueryParamsError"}'
    if "duration" in params and not params["duration"][0].isdigit():
        return 400, b'{"code": 400, "name": "QueryParamsError"}'
    if prefix == "/lrclib-garbage":
        return 200, b"\x00\x01 not json"
    if prefix == "/lrclib-huge":
        return 200, b'{"plainLyrics": "' + b"x" * (5 << 20) + b'"}'
    slug = "".join(c if c.isalnum() else "-" for c in title.lower())
    body = recorded(server.data, "lrclib-%s.json" % slug)
    if body is None:
        return 404, b'{"code": 404, "name": "TrackNotFound", "message": "Failed to find"}'
    return 200, body


def cddb_answer(prefix, params):
    cmd = params.get("cmd", [""])[0].split(" ")
    hello = params.get("hello", [""])[0].split(" ")
    if params.get("proto", [""])[0] != "6" or len(hello) != 4 or "" in hello:
        return 500, b"500 Command syntax error: hello and proto=6 wanted\r\n"
    if cmd[:2] == ["cddb", "query"]:
        if prefix == "/exact":
            return 200, b"200 rock 1a026c03 Artist / Album\r\n"
        if prefix == "/inexact":
            return 200, (b"211 close matches found\r\n"
                         b"rock 1a026c03 Artist / Album\r\n"
                         b"misc 1a026c03 Greatest Hits\r\n"
                         b"ab\r\n"
                         b".\r\n")
        if prefix == "/many":
            lines = "".join("misc %08x Disc %d\r\n" % (k, k) for k in range(400))
            return 200, ("210 found exact matches\r\n" + lines + ".\r\n").encode()
        if prefix == "/controls":
            return 200, "200 data 1a026c03 Ev\x1b]0;title\x07il \u202eDisc\u0085\r\n".encode()
        if prefix == "/none":
            return 200, b"202 No match found\r\n"
        if prefix == "/broken":
            return 500, b"Internal error\r\n"
        if prefix == "/echo":
            return 200, ("200 misc 00000000 " + " ".join(cmd) + "\r\n").encode()
        return 200, b"403 Database entry is corrupt\r\n"
    if cmd[:2] == ["cddb", "read"] and len(cmd) == 4:
        body = CDDB_READ.get((cmd[2], cmd[3]))
        if body is None:
            return 200, b"401 Specified CDDB entry not found.\r\n"
        return 200, body
    return 200, b"500 Unrecognized command\r\n"


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send(self, status, body, ctype="text/plain", extra=()):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        for k, v in extra:
            self.send_header(k, v)
        self.end_headers()
        try:
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):
            # A client past its size cap hangs up mid-answer.
            self.close_connection = True

    def trickle(self):
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(512 << 10))
        self.end_headers()
        try:
            for _ in range(120):
                self.wfile.write(b"  ")
                self.wfile.flush()
                time.sleep(0.5)
        except (BrokenPipeError, ConnectionResetError):
            pass
        self.close_connection = True

    def do_GET(self):
        if self.path.startswith("http://"):
            auth = self.headers.get("Proxy-Authorization", "")
            return self.send(200, ("proxied %s %s" % (self.path, auth)).encode())
        url = urllib.parse.urlsplit(self.path)
        params = urllib.parse.parse_qs(url.query)
        path = url.path
        agent = self.headers.get("User-Agent", "")
        if path == "/requests":
            return self.send(200, "".join(self.server.log).encode())
        self.server.log.append("%s %s\n" % (agent, self.path))
        if path == "/trickle" or path.startswith("/trickle/"):
            return self.trickle()
        if path.startswith("/mb") and "/ws/2/" in path:
            prefix = path[: path.index("/ws/2/")]
            status, body, extra = musicbrainz(self.server, prefix, path[len(prefix):],
                                              params, agent)
            return self.send(status, body, "application/json", extra)
        if path == "/caa-store/decodable.jpg":
            return self.send(200, recorded(self.server.data, "caa-front.jpg"), "image/jpeg")
        if path.startswith("/caa-store/"):
            return self.send(200, JPEG, "image/jpeg")
        if path.startswith("/caa") and "/release/" in path and path.endswith("/front"):
            prefix, release = path[: -len("/front")].split("/release/", 1)
            status, body, extra = cover_art(self.server, prefix, release)
            return self.send(status, body, "text/plain", extra)
        if path.startswith("/lrclib") and path.endswith("/api/get"):
            status, body = lrclib(self.server, path[: -len("/api/get")], params)
            return self.send(status, body, "application/json")
        if path == "/hello":
            return self.send(200, b"hello")
        if path == "/echo-headers":
            return self.send(200, str(self.headers).encode())
        if path == "/redirect":
            return self.send(302, b"", extra=[("Location", params["to"][0])])
        if path == "/loop":
            return self.send(302, b"", extra=[("Location", "/loop")])
        if path == "/slow" or path.startswith("/slow/"):
            self.send_response(200)
            self.send_header("Content-Length", "10")
            self.end_headers()
            self.wfile.flush()
            time.sleep(30)
            return
        if path in ("/big", "/big-chunked"):
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            if path == "/big":
                self.send_header("Content-Length", str(BIG))
            else:
                self.send_header("Connection", "close")
            self.end_headers()
            block = b"x" * CHUNK
            try:
                for _ in range(BIG // CHUNK):
                    self.wfile.write(block)
            except (BrokenPipeError, ConnectionResetError):
                pass
            self.close_connection = True
            return
        if path.startswith("/status/"):
            return self.send(int(path[len("/status/"):]), b"status")
        if path == "/picture.jpg" or path.startswith("/images/"):
            return self.send(200, JPEG, "image/jpeg")
        if path.endswith("/~cddb/cddb.cgi"):
            status, body = cddb_answer(path[: -len("/~cddb/cddb.cgi")], params)
            return self.send(status, body)
        if path.startswith("/store-") and path.endswith("/onca/xml"):
            name = path[len("/store-"): -len("/onca/xml")]
            try:
                with open(os.path.join(self.server.data, name + ".xml"), "rb") as f:
                    body = f.read()
            except OSError:
                return self.send(404, b"no such recording")
            # Cover addresses point back at this server.
            here = "http://127.0.0.1:%d" % self.server.server_address[1]
            return self.send(200, body.replace(b"IMAGE_URL", here.encode()), "text/xml")
        return self.send(404, b"not found")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--data", default=".")
    args = parser.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.data = args.data
    server.seen = set()
    server.log = []
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
