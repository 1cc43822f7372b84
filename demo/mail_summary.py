#!/usr/bin/python3
"""Says in a few lines what each received message is.

Usage: mail_summary.py NNNN.eml...

For each message (with the NNNN.env the mail catcher wrote beside it): its
number, subject, the recipients the server accepted, and what a reader sees:
an HTML body with its embedded images, and each attachment with its type and
size. Exits 1 when a message cannot be read.
"""

import email
import os
import sys
from email import policy


def envelope_recipients(eml_path):
    env_path = os.path.splitext(eml_path)[0] + ".env"
    try:
        with open(env_path) as f:
            return [line[3:].strip() for line in f if line.startswith("to ")]
    except OSError:
        return []


def sheet_rows(data, name):
    """The rows of a workbook's first sheet, as a spreadsheet reader finds them."""
    import io
    try:
        if name.endswith(".xlsx"):
            import openpyxl
            return openpyxl.load_workbook(io.BytesIO(data), read_only=True).active.max_row
        if name.endswith(".xls"):
            import xlrd
            return xlrd.open_workbook(file_contents=data).sheet_by_index(0).nrows
    except Exception as error:  # a reader missing, or a workbook it cannot read
        return "unreadable: %s" % error
    return None


def pdf_pages(data):
    """The page count poppler's pdfinfo finds in a PDF."""
    import subprocess
    try:
        info = subprocess.run(["pdfinfo", "-"], input=data, capture_output=True, timeout=30)
    except (OSError, subprocess.TimeoutExpired) as error:
        return "unreadable: %s" % error
    for line in info.stdout.decode("utf-8", "replace").splitlines():
        if line.startswith("Pages:"):
            return line.split()[1]
    return "unreadable: %s" % info.stderr.decode("utf-8", "replace").strip()


def contents(data, name):
    """What a reader finds inside a workbook or a PDF, or None."""
    if name.endswith(".pdf"):
        return ", %s PDF page(s)" % pdf_pages(data)
    rows = sheet_rows(data, name)
    return None if rows is None else ", %s sheet rows" % rows


def describe(path):
    with open(path, "rb") as f:
        message = email.message_from_binary_file(f, policy=policy.default)
    body = message.get_body(("html", "plain"))
    html = body.get_content() if body is not None else ""
    embedded, attached = [], []
    for part in message.walk():
        if part.is_multipart() or part is body:
            continue
        size = len(part.get_payload(decode=True) or b"")
        content_id = (part["content-id"] or "").strip("<>")
        if content_id and "cid:" + content_id in html:
            embedded.append(content_id)
        else:
            name = part.get_filename() or "unnamed"
            inside = contents(part.get_payload(decode=True) or b"", name)
            attached.append("%s (%s, %d bytes%s)" % (name, part.get_content_type(), size,
                                                     inside or ""))
    recipients = envelope_recipients(path) or [str(message["to"])]
    text = "HTML body" if body is not None and body.get_content_type() == "text/html" else "body"
    if "<" not in html and len(html.strip()) <= 60:  # a short note, not a report page
        text += ' "%s"' % html.strip()
    if embedded:
        text += " with %d embedded chart%s" % (len(embedded), "" if len(embedded) == 1 else "s")
    lines = ["%s  %s" % (os.path.basename(path)[:-4], message["subject"]),
             "      to %s; %s" % (", ".join(recipients), text)
             + "".join("; attachment " + a for a in attached)]
    return lines


def main():
    failed = False
    for path in sys.argv[1:]:
        try:
            print("\n".join(describe(path)))
        except (OSError, ValueError, LookupError) as error:
            print("%s  cannot be read: %s" % (path, error))
            failed = True
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
