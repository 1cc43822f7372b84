"""Prints what a mail reader sees in a saved or received message.

Usage: mail_parts.py FILE [--text]

One line each: the defects found, the subject, the recipients' headers, the
HTML body (as text, escaped), and every attachment as name, content id and
SHA-256 of its decoded bytes. Two messages that print the same lines look
the same to a reader.

With --text: the defects, the body's content type and the subject, one line
each, then the body's text exactly as the reader shows it.
"""
import email
import hashlib
import sys
from email import policy

with open(sys.argv[1], "rb") as f:
    message = email.message_from_binary_file(f, policy=policy.default)

defects = list(message.defects)
for part in message.walk():
    defects += part.defects
print("defects", len(defects))
if sys.argv[2:] == ["--text"]:
    body = message.get_body(("plain", "html"))
    print("type", body.get_content_type() if body is not None else None)
    print("subject", message["subject"])
    sys.stdout.flush()
    sys.stdout.buffer.write((body.get_content() if body is not None else "").encode("utf-8"))
    sys.exit(0)
print("subject", repr(message["subject"]))
for name in ("from", "to", "cc", "bcc"):
    print(name, repr(message[name]))
body = message.get_body(("html",))
print("html", repr(body.get_content() if body is not None else None))
for part in message.walk():
    if part.is_multipart() or part is body:
        continue
    data = part.get_payload(decode=True) or b""
    print("part", part.get_filename(), part["content-id"], hashlib.sha256(data).hexdigest())
