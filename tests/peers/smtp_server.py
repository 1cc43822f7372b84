#!/usr/bin/python3
"""A mail server for tests, built on aiosmtpd, with switches for the ways real
servers refuse or fail.

Listens on 127.0.0.1 on a free port and writes the port to --port-file once it
accepts connections. Each accepted message becomes NNNN.env (one "from ADDR"
line, one "to ADDR" line per accepted recipient, "auth USER" when the session
authenticated, "tls yes|no") and NNNN.eml (the DATA bytes after dot-unstuffing,
CRLF kept) in --mail-dir; the .eml is renamed into place last, so a reader that
sees it sees the pair complete.
Stops after --lifetime seconds or once the process that started it is gone.
"""

import argparse
import asyncio
import base64
import binascii
import hmac
import json
import logging
import os
import secrets
import ssl
import time
import warnings

PARENT = os.getppid()  # before aiosmtpd loads, which is most of the start-up time

from aiosmtpd.smtp import SMTP, AuthResult, auth_mechanism

def write_atomically(path, data):
    temporary = path + ".tmp"
    with open(temporary, "wb") as f:
        f.write(data)
    os.replace(temporary, path)


class Handler:
    def __init__(self, args):
        self.args = args
        self.refused = {a.lower() for a in args.refuse_recipient}
        self.count = 0

    def verdict(self, user, secret, expected):
        """A failed AUTH gets aiosmtpd's "535 5.7.8 Authentication credentials invalid"."""
        ok = (not self.args.refuse_auth and user == self.args.user
              and hmac.compare_digest(secret, expected))
        return AuthResult(success=ok, handled=False, auth_data=user)

    def authenticate(self, server, session, envelope, mechanism, data):  # PLAIN and LOGIN
        return self.verdict(data.login.decode("utf-8", "replace"), data.password,
                            self.args.password.encode())

    @auth_mechanism("CRAM-MD5")
    async def auth_CRAM_MD5(self, server, args):
        challenge = ("<%s.%d@localhost>" % (secrets.token_hex(8), time.time())).encode()
        answer = await server.challenge_auth(challenge)
        if not isinstance(answer, bytes):
            return AuthResult(success=False)  # the client gave up; challenge_auth replied
        user, _, digest = answer.rpartition(b" ")
        expected = hmac.new(self.args.password.encode(), challenge, "md5").hexdigest()
        return self.verdict(user.decode("utf-8", "replace"), digest.lower(), expected.encode())

    @auth_mechanism("XOAUTH2")
    async def auth_XOAUTH2(self, server, args):
        """Takes "user=U^Aauth=Bearer T^A^A" for --user and an --oauth-token; any
        other gets what the big providers send: 334 with a JSON reason, then
        535 once the client has answered with an empty line."""
        if len(args) > 1:
            try:
                blob = base64.b64decode(args[1], validate=True)
            except binascii.Error:
                return AuthResult(success=False, handled=False)
        else:
            blob = await server.challenge_auth("")
            if not isinstance(blob, bytes):
                return AuthResult(success=False, handled=True)  # challenge_auth replied
        fields = dict(part.split("=", 1) for part in blob.decode("utf-8", "replace").split("\x01")
                      if "=" in part)
        user, token = fields.get("user"), fields.get("auth", "").removeprefix("Bearer ")
        if user == self.args.user and token in self.args.oauth_token and not self.args.refuse_auth:
            return AuthResult(success=True, handled=False, auth_data=user)
        reason = json.dumps({"status": "401", "schemes": "bearer", "scope": "https://mail.test/"})
        if not isinstance(await server.challenge_auth(reason), bytes):
            return AuthResult(success=False, handled=True)
        return AuthResult(success=False, handled=False)

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname  # aiosmtpd leaves this to the hook once there is one
        if self.args.auth == "none":  # aiosmtpd would offer its (always failing) defaults
            responses = [r for r in responses if not r[4:].startswith("AUTH")]
        return responses

    async def handle_MAIL(self, server, session, envelope, address, options):
        if self.args.refuse_sender:
            return "553 5.7.1 Sender address rejected: not owned by user"
        envelope.mail_from = address
        envelope.mail_options.extend(options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, options):
        if address.lower() in self.refused:
            if self.args.refuse_reply:
                return self.args.refuse_reply.replace("\\n", "\r\n")
            return "550 5.1.1 <%s>: Recipient address rejected: User unknown" % address
        envelope.rcpt_tos.append(address)
        envelope.rcpt_options.extend(options)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.args.mail_dir, "%04d" % self.count)
        lines = ["from " + envelope.mail_from] + ["to " + a for a in envelope.rcpt_tos]
        if session.authenticated:
            lines.append("auth " + session.auth_data)
        tls = server.transport.get_extra_info("ssl_object") is not None
        lines.append("tls " + ("yes" if tls else "no"))
        lines.append("helo " + (session.host_name or ""))
        write_atomically(base + ".env", ("\n".join(lines) + "\n").encode("utf-8", "replace"))
        write_atomically(base + ".eml", envelope.original_content)
        return "250 OK"


class Server(SMTP):
    def __init__(self, handler, **kwargs):
        super().__init__(handler, **kwargs)
        self.args = handler.args

    async def _handle_client(self):
        # Holding back the greeting is how a client's greeting time-out is exercised.
        if self.args.delay_ms > 0:
            await asyncio.sleep(self.args.delay_ms / 1000)
        await super()._handle_client()

    async def smtp_EHLO(self, hostname):
        if self.args.no_ehlo:
            return await self.push("502 5.5.1 Error: command not implemented")
        await super().smtp_EHLO(hostname)

    async def smtp_AUTH(self, arg):
        if self.args.auth == "none":
            return await self.push('500 Error: command "AUTH" not recognized')
        await super().smtp_AUTH(arg)

    async def smtp_DATA(self, arg):
        if self.args.stall_during_data and self.envelope.rcpt_tos:
            # A server that stops reading: the client's writes fill the socket buffers and stay there.
            await self.push("354 End data with <CR><LF>.<CR><LF>")
            self.transport.pause_reading()
            await asyncio.sleep(self.args.lifetime)
            return
        if not self.args.close_during_data or not self.envelope.rcpt_tos:
            return await super().smtp_DATA(arg)
        await self.push("354 End data with <CR><LF>.<CR><LF>")
        # Take in the whole message so the client sees a clean end of stream
        # where it waits for the reply, rather than a reset while still writing.
        tail = b"\r\n"
        while not tail.endswith(b"\r\n.\r\n"):
            chunk = await self._reader.read(65536)
            if not chunk:
                break
            tail = (tail + chunk)[-5:]
        self.transport.close()


def parse_args():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--mail-dir", required=True)
    parser.add_argument("--tls", choices=["none", "starttls", "implicit"], default="none")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--auth", choices=["none", "optional", "required"], default="none")
    parser.add_argument("--user", default="postrix")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--refuse-recipient", action="append", default=[])
    parser.add_argument("--refuse-reply", default="",
                        help="the reply to a refused recipient; each \\n in it starts a line")
    parser.add_argument("--refuse-sender", action="store_true")
    parser.add_argument("--refuse-auth", action="store_true")
    parser.add_argument("--oauth-token", action="append", default=[],
                        help="an access token XOAUTH2 accepts for --user (repeatable); "
                             "without one XOAUTH2 is not offered")
    parser.add_argument("--close-during-data", action="store_true")
    parser.add_argument("--delay-ms", type=int, default=0)
    parser.add_argument("--no-ehlo", action="store_true")
    parser.add_argument("--stall-during-data", action="store_true")
    parser.add_argument("--max-size", type=int, default=33554432,
                        help="largest message taken, in bytes; 0 for no limit")
    parser.add_argument("--lifetime", type=float, default=300)
    args = parser.parse_args()
    if args.tls != "none" and not (args.cert and args.key):
        parser.error("--tls %s needs --cert and --key" % args.tls)
    return args


async def serve(args):
    loop = asyncio.get_running_loop()
    context = None
    if args.tls != "none":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
    handler = Handler(args)

    def connection():
        return Server(handler, loop=loop, hostname="localhost", authenticator=handler.authenticate,
                      tls_context=context if args.tls == "starttls" else None,
                      auth_required=args.auth == "required", auth_require_tls=False,
                      auth_exclude_mechanism=[] if args.oauth_token else ["XOAUTH2"],
                      data_size_limit=args.max_size or None)

    server = await loop.create_server(connection, "127.0.0.1", 0,
                                      ssl=context if args.tls == "implicit" else None)
    write_atomically(args.port_file, str(server.sockets[0].getsockname()[1]).encode())

    deadline = time.monotonic() + args.lifetime
    while time.monotonic() < deadline and os.getppid() == PARENT:
        await asyncio.sleep(min(0.5, max(0.0, deadline - time.monotonic())))
    os._exit(0)  # open sessions need no goodbye


def main():
    args = parse_args()
    os.makedirs(args.mail_dir, exist_ok=True)
    # aiosmtpd warns about plain-text AUTH, which is intended here, and logs a client that
    # refuses the certificate as a fault; real faults still reach the client as 500 replies.
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    asyncio.run(serve(args))


if __name__ == "__main__":
    main()
