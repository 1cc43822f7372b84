#!/usr/bin/python3
"""A stand-in for the reporting web application, for tests.

Listens on 127.0.0.1 on a free port, writes the port to --port-file and
appends one JSON line per request to --requests. The path, Content-Type and
body are hex-encoded there ("path_hex", ...) so that any bytes survive and a
reader needs no JSON parser; the headers are there in plain JSON for people.
Stops after --lifetime seconds or once the process that started it is gone.
"""

import argparse
import html
import json
import struct
import threading
import time
import zlib
from urllib.parse import parse_qs, urlsplit

import local_server
from local_server import serve

LATIN1_TEXT = b"Caf\xe9 na\xefve \xc9t\xe9"
STOPPING = threading.Event()


def png(name):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", 1, 1, 8, 2, 0, 0, 0)  # 1x1, 8-bit RGB
    pixels = zlib.compress(b"\x00\xff\x80\x00")
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"tEXt", b"Title\x00" + name.encode("latin-1", "replace"))
            + chunk(b"IDAT", pixels) + chunk(b"IEND", b""))


def page(inner):
    return ("<html><body>%s</body></html>" % inner).encode("utf-8")


class Handler(local_server.Handler):
    server_version = "TestWebApp/1.0"

    def record(self, body):
        entry = {
            "method": self.command,
            "path_hex": self.path.encode("latin-1", "replace").hex(),
            "content_type_hex": self.headers.get("Content-Type", "").encode(
                "latin-1", "replace").hex(),
            "body_hex": body.hex(),
            "headers": dict(self.headers.items()),
        }
        with self.server.log_lock, open(self.server.requests_file, "a") as log:
            log.write(json.dumps(entry) + "\n")

    def answer(self, status, body, content_type="text/html; charset=utf-8", headers=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def handle_request(self):
        url = urlsplit(self.path)
        query = {k: v[0] for k, v in parse_qs(url.query).items()}
        if url.path == "/stall":
            # Neither the body is read nor an answer given: the client must give up.
            self.record(b"")
            STOPPING.wait()
            return
        length = int(self.headers.get("Content-Length", "0") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        self.record(body)
        route = url.path

        if route in ("/analysis.asp", "/dashboard.asp", "/report"):
            self.report(url.query, body)
        elif route == "/error-page":
            self.answer(200, page('<div class="errorMessage">Something failed</div>'))
        elif route == "/no-records":
            self.answer(200, page("<p>No Matching Records</p>"))
        elif route == "/status":
            self.answer(int(query.get("code", "500")), page("Internal error"))
        elif route == "/redirect":
            self.answer(int(query.get("code", "302")), b"",
                        headers=[("Location", query.get("to", "/report"))])
        elif route == "/slow":
            time.sleep(int(query.get("ms", "1000")) / 1000)
            self.report(url.query, body)
        elif route == "/trickle":
            self.trickle(int(query.get("chunks", "5")), int(query.get("ms", "100")))
        elif route in ("/exact", "/endless", "/gzip-bomb"):
            self.sized_page(route, dict(query, **{k: v[0] for k, v in parse_qs(
                body.decode("utf-8", "replace")).items()}))
        elif route == "/latin1":
            self.answer(200, b"<html><body>" + LATIN1_TEXT + b"</body></html>",
                        "text/html; charset=ISO-8859-1")
        elif route == "/latin1-meta":
            self.answer(200, b'<html><head><meta http-equiv="Content-Type" '
                        b'content="text/html; charset=iso-8859-1"></head><body>'
                        + LATIN1_TEXT + b"</body></html>", "text/html")
        elif route == "/utf8":
            self.answer(200, page("Caf\u00e9 \u20ac5 \U0001F600"))
        elif route == "/analysis_chart.asp":
            self.chart(query.get("name", ""))
        else:
            self.answer(404, page("Not found"))

    def chart(self, name):
        if name == "missing":
            self.answer(404, page("Not found"))
        else:
            self.answer(200, png(name), "image/png")

    def report(self, query, body):
        """A report page; the posted form's "page" key chooses which:
        norecords, fail (status 500), charts (the charts key lists the chart
        names, each drawn as an image the application serves), chartscript
        (the same with the charting library loaded), sized (kb= kilobytes of
        table rows), sales (a small sales table below empty rows). Any other page echoes the address's query and the form."""
        text = body.decode("utf-8", "replace")
        form = {k: v[0] for k, v in parse_qs(text).items()}
        kind = form.get("page", "")
        echo = ("<table><tr><td>Report</td><td>%s</td></tr><tr><td>%s</td></tr></table>"
                % (html.escape(query), html.escape(text)))
        if kind == "norecords":
            self.answer(200, page("<p>No Matching Records</p>"))
        elif kind == "fail":
            self.answer(500, page("Internal error"))
        elif kind in ("charts", "chartscript"):
            head = ('<script src="https://charts.quarvex.com/qxcharts.js"></script>'
                    if kind == "chartscript" else "")
            images = "".join('<img src="analysis_chart.asp?name=%s" border=0>' % name
                             for name in form.get("charts", "").split(",") if name)
            self.answer(200, ("<html><head>%s</head><body>%s%s</body></html>"
                              % (head, echo, images)).encode("utf-8"))
        elif kind == "sales":  # a report table below two empty rows, as pages with a logo have
            self.answer(200, page("<table><tr><td></td></tr><tr><td>&ensp;</td></tr></table>"
                                  "<table><tr><th>Region</th><th>Umsatz</th></tr>"
                                  "<tr><td>K\u00f6ln</td><td>1,234.50</td></tr>"
                                  "<tr><td>\u041c\u043e\u0441\u043a\u0432\u0430</td>"
                                  "<td>-3</td></tr></table>"))
        elif kind == "sized":
            row = "<tr><td>Region %06d</td><td>" + "y" * 60 + "</td></tr>"
            rows, size = [], 0
            while size < int(form.get("kb", "20")) * 1024:
                rows.append(row % len(rows))
                size += len(rows[-1])
            self.answer(200, page(echo + "<table>" + "".join(rows) + "</table>"))
        else:
            self.answer(200, page(echo))

    def trickle(self, chunks, ms):
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.end_headers()  # no length: the answer ends when the connection closes
        self.wfile.flush()
        for i in range(chunks):
            if i:
                time.sleep(ms / 1000)
            self.wfile.write(b"<p>%d</p>" % i)
            self.wfile.flush()

    def sized_page(self, route, params):
        """Pages for the size limit. The keys come from the address or the
        posted form alike. /exact: a page of exactly bytes= bytes, sent with
        its length, chunked (mode=chunked) or gzip-compressed and chunked
        (mode=gzip). /endless: a chunked page that never ends. /gzip-bomb: a
        small gzip stream that inflates without end."""
        if route == "/exact":
            mode, total = params.get("mode", "length"), int(params.get("bytes", "1024"))
        else:
            mode, total = ("gzip" if route == "/gzip-bomb" else "chunked"), None
        head, tail = b"<html><body><pre>", b"</pre></body></html>"
        if mode == "length":
            fill = b"x" * (total - len(head) - len(tail))
            self.answer(200, head + fill + tail)
            return
        self.protocol_version = "HTTP/1.1"  # chunked framing is HTTP/1.1's
        self.close_connection = True
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Connection", "close")
        self.send_header("Transfer-Encoding", "chunked")
        if mode == "gzip":
            self.send_header("Content-Encoding", "gzip")
        self.end_headers()
        packer = zlib.compressobj(9, zlib.DEFLATED, 31) if mode == "gzip" else None

        def chunk(data, last=False):
            if packer:
                data = packer.compress(data) + (packer.flush() if last else b"")
            if data:
                self.wfile.write(b"%x\r\n%s\r\n" % (len(data), data))

        block = b"<p>" + b"y" * 65530 + b"</p>\n"
        try:
            chunk(head)
            left = None if total is None else total - len(head) - len(tail)
            while (left is None or left > 0) and not STOPPING.is_set():
                piece = block if left is None else block[:left]
                chunk(piece)
                if left is not None:
                    left -= len(piece)
            chunk(tail, last=True)
            self.wfile.write(b"0\r\n\r\n")
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client gave up on the page, as it should


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--requests", required=True)
    parser.add_argument("--lifetime", type=float, default=300)
    args = parser.parse_args()

    open(args.requests, "a").close()
    serve(Handler, args.port_file, args.lifetime, on_stop=STOPPING.set,
          requests_file=args.requests)


if __name__ == "__main__":
    main()
