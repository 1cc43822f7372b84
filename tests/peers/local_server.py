"""Runs an HTTP handler on a free port of 127.0.0.1, for the local web
applications (tests/peers/web_app.py, demo/web_app.py).

The port is written to port_file once the server accepts connections (by a
rename, so a reader never sees half a number). The server stops after
lifetime seconds or as soon as the process that started it is gone.
"""

import os
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class Handler(BaseHTTPRequestHandler):
    """A handler that answers GET and POST alike through handle_request and
    keeps quiet on standard error."""

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.handle_request()

    def do_POST(self):
        self.handle_request()


def serve(handler, port_file, lifetime, on_stop=None, **attributes):
    """attributes are set on the server for the handler to read; on_stop
    runs just before the process ends."""
    parent = os.getppid()
    server = ThreadingHTTPServer(("127.0.0.1", 0), handler)
    server.daemon_threads = True
    server.log_lock = threading.Lock()
    for name, value in attributes.items():
        setattr(server, name, value)
    threading.Thread(target=server.serve_forever, daemon=True).start()

    temporary = port_file + ".tmp"
    with open(temporary, "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(temporary, port_file)

    deadline = time.monotonic() + lifetime
    while time.monotonic() < deadline and os.getppid() == parent:
        time.sleep(min(0.5, max(0.0, deadline - time.monotonic())))
    if on_stop:
        on_stop()
    os._exit(0)
