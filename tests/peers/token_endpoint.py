#!/usr/bin/python3
"""An OAuth 2.0 token endpoint for tests, answering POSTs on any path.

The client-credentials grant needs --client-id and either --client-secret or
a client assertion (RS256 JWT) signed with the key of --certificate, naming
it by thumbprint and this endpoint as its audience; the refresh-token grant
needs --client-id, --client-secret and --refresh-token. Good requests get
the next --token (the last one repeats) with expires_in --expires-in; bad
ones get the JSON error a real endpoint gives (401 invalid_client, 400
invalid_grant). --fail-with ERROR answers every request with that error and
--error-description instead.

Each request is one line in --requests: the path, then grant, client_id,
scope and credential (ok or wrong) as word=value, so a test can count
requests and see what was asked without any secret in the file.
Listens on 127.0.0.1 on a free port, writes it to --port-file, and stops
after --lifetime seconds or once the process that started it is gone.
"""

import argparse
import base64
import hashlib
import json
import time
from urllib.parse import parse_qs

import local_server
from local_server import serve


def b64url_decode(text):
    return base64.urlsafe_b64decode(text + "=" * (-len(text) % 4))


def assertion_is_good(args, assertion, audience):
    """Checks what the directory checks: signature, thumbprint, issuer, audience, time."""
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import padding

    try:
        header_text, payload_text, signature = assertion.split(".")
        header = json.loads(b64url_decode(header_text))
        claims = json.loads(b64url_decode(payload_text))
        with open(args.certificate, "rb") as f:
            certificate = x509.load_pem_x509_certificate(f.read())
        der = certificate.public_bytes(serialization.Encoding.DER)
        thumbprint = base64.urlsafe_b64encode(hashlib.sha1(der).digest()).rstrip(b"=").decode()
        certificate.public_key().verify(b64url_decode(signature),
                                        (header_text + "." + payload_text).encode(),
                                        padding.PKCS1v15(), hashes.SHA256())
    except Exception:
        return False
    now = time.time()
    return (header.get("alg") == "RS256" and header.get("x5t") == thumbprint
            and claims.get("iss") == args.client_id and claims.get("sub") == args.client_id
            and claims.get("aud") == audience and claims.get("nbf", now + 1) <= now + 60
            and claims.get("exp", 0) > now)


class Handler(local_server.Handler):
    server_version = "TestTokenEndpoint/1.0"

    def handle_request(self):
        args = self.server.args
        length = int(self.headers.get("Content-Length", "0"))
        form = {k: v[0] for k, v in parse_qs(self.rfile.read(length).decode("utf-8", "replace"),
                                             keep_blank_values=True).items()}
        grant = form.get("grant_type", "")
        good = self.credential_is_good(args, grant, form)
        with self.server.log_lock:
            with open(args.requests, "a") as log:
                log.write("%s grant=%s client_id=%s scope=%s credential=%s\n" % (
                    self.path, grant or "-", form.get("client_id", "-"),
                    form.get("scope", "-"), "ok" if good else "wrong"))
            issued = self.server.issued
            self.server.issued += 1
        if args.fail_with:
            return self.answer(400, {"error": args.fail_with,
                                     "error_description": args.error_description})
        if self.command != "POST" or grant not in ("client_credentials", "refresh_token"):
            return self.answer(400, {"error": "unsupported_grant_type"})
        if not good:
            wrong_grant = grant == "refresh_token" and form.get("client_secret") == args.client_secret
            if wrong_grant:
                return self.answer(400, {"error": "invalid_grant",
                                         "error_description": "Token has been expired or revoked."})
            return self.answer(401, {"error": "invalid_client",
                                     "error_description": "Invalid client secret provided."})
        token = args.token[min(issued, len(args.token) - 1)]
        self.answer(200, {"token_type": "Bearer", "expires_in": args.expires_in,
                          "access_token": token})

    def credential_is_good(self, args, grant, form):
        if form.get("client_id") != args.client_id:
            return False
        if grant == "refresh_token":
            return (form.get("client_secret") == args.client_secret
                    and form.get("refresh_token") == args.refresh_token)
        if "client_assertion" in form:
            audience = "http://%s:%d%s" % (self.server.server_address[0],
                                           self.server.server_address[1], self.path)
            return (args.certificate is not None and form.get("client_assertion_type")
                    == "urn:ietf:params:oauth:client-assertion-type:jwt-bearer"
                    and assertion_is_good(args, form["client_assertion"], audience))
        return form.get("client_secret") == args.client_secret

    def answer(self, status, document):
        body = json.dumps(document).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--requests", required=True)
    parser.add_argument("--client-id", default="app-id")
    parser.add_argument("--client-secret", default="app-secret")
    parser.add_argument("--refresh-token", default="refresh-me")
    parser.add_argument("--certificate")
    parser.add_argument("--token", action="append", default=[])
    parser.add_argument("--expires-in", type=int, default=3599)
    parser.add_argument("--fail-with")
    parser.add_argument("--error-description", default="")
    parser.add_argument("--lifetime", type=float, default=300)
    args = parser.parse_args()
    args.token = args.token or ["access-token"]
    open(args.requests, "a").close()
    serve(Handler, args.port_file, args.lifetime, args=args, issued=0)


if __name__ == "__main__":
    main()
