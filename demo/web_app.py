#!/usr/bin/python3
"""A small stand-in for the Quarvex web application, for the quick start.

It answers the requests Postrix makes of the real application:

  POST /analysis.asp?email_report=1&mapping_id=M&reportid=R[&format=csv]
       the report page of a favourite; the posted form (the favourite's saved
       report address after "?") says which report through its "page" key
  POST /dashboard.asp?email_report=1&dashboard_id=D
       a dashboard page
  GET  /analysis_chart.asp?chart=NAME
       a chart image (PNG) that a page refers to

The figures are made up and fixed, so every run mails the same reports.
Listens on 127.0.0.1 on a free port and writes the port to --port-file once it
accepts connections; appends one line per request to --log. Stops after
--lifetime seconds or once the process that started it is gone.
"""

import argparse
import html
import os
import struct
import sys
import time
import zlib
from urllib.parse import parse_qs, urlsplit

# The tests' local web application runs the same way; one copy of how.
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "peers"))
import local_server  # noqa: E402
from local_server import serve  # noqa: E402

# --- The demo figures -------------------------------------------------------

REGIONS = [  # region, orders, revenue, change against last week in percent
    ("North", 412, 61840, 4.2),
    ("South", 298, 40115, -1.8),
    ("East", 367, 52930, 2.7),
    ("West", 221, 30460, 6.1),
    ("Central", 184, 25105, -0.4),
]
DAILY_REVENUE = [182, 175, 198, 205, 191, 214, 223, 208, 219, 231, 226, 240, 237, 249]  # k€
MONTHS = [  # month, orders, revenue
    ("2026-01", 7412, 1081220), ("2026-02", 6985, 1012840), ("2026-03", 7830, 1143100),
    ("2026-04", 7544, 1098310), ("2026-05", 8012, 1170520), ("2026-06", 8276, 1215400),
    ("2026-07", 7105, 1040870), ("2026-08", 6890, 1004600), ("2026-09", 8120, 1190300),
    ("2026-10", 8433, 1238900), ("2026-11", 8705, 1281750),
]
CUSTOMERS = [  # customer, country, orders this year, revenue this year
    ("Alder & Finch Ltd", "United Kingdom", 312, 418200),
    ("Brightwater GmbH", "Germany", 287, 391450),
    ("Costa Verde S.A.", "Portugal", 241, 305980),
    ("Dunmore Outfitters", "Ireland", 198, 262310),
    ("Elbe Logistik AG", "Germany", 176, 240075),
]
STOCK = [  # item, on hand, reorder level
    ("Trail jacket", 140, 80), ("Rain shell", 62, 75), ("Fleece vest", 210, 90),
    ("Hiking boots", 48, 60), ("Day pack 20 l", 175, 70), ("Water bottle", 390, 150),
]
# Overdue invoices by the id of the sales representative who looks after them;
# the alert sends each representative only their own.
OVERDUE = {
    "7": [("INV-10422", "Alder & Finch Ltd", 12480, 18), ("INV-10457", "Dunmore Outfitters", 3920, 9)],
    "12": [("INV-10391", "Brightwater GmbH", 22150, 31)],
    "15": [("INV-10466", "Costa Verde S.A.", 7310, 6), ("INV-10470", "Elbe Logistik AG", 5540, 4),
           ("INV-10402", "Costa Verde S.A.", 1980, 22)],
}

# --- Chart images -----------------------------------------------------------

CHARTS = {  # name: values, bar colour
    "sales_by_region": ([r[2] for r in REGIONS], (46, 110, 184)),
    "revenue_trend": (DAILY_REVENUE, (52, 160, 110)),
    "orders_by_month": ([m[1] for m in MONTHS], (222, 128, 40)),
    "stock_levels": ([s[1] for s in STOCK], (120, 90, 170)),
}


def png(width, height, rows):
    """A PNG file of 8-bit RGB rows (each a bytes of width * 3)."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\x00" + row for row in rows)  # filter type 0 on every row
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def bar_chart(values, colour, width=420, height=200):
    """A plain bar chart: grid lines, one bar per value, scaled to the largest."""
    white, grid, axis = (255, 255, 255), (225, 228, 232), (110, 110, 110)
    pixels = [[white] * width for _ in range(height)]
    left, right, top, bottom = 30, width - 10, 12, height - 20
    for step in range(5):  # horizontal grid lines
        y = bottom - step * (bottom - top) // 4
        for x in range(left, right):
            pixels[y][x] = grid
    slot = (right - left) / len(values)
    largest = max(values)
    for i, value in enumerate(values):
        x0 = int(left + i * slot + slot * 0.15)
        x1 = int(left + (i + 1) * slot - slot * 0.15)
        y0 = bottom - int((bottom - top) * value / largest)
        for y in range(y0, bottom):
            for x in range(x0, x1):
                pixels[y][x] = colour
    for y in range(top, bottom + 1):  # axes
        pixels[y][left] = axis
    for x in range(left, right):
        pixels[bottom][x] = axis
    return png(width, height, [bytes(c for p in row for c in p) for row in pixels])


# --- Pages ------------------------------------------------------------------

STYLE_TABLE = 'style="border-collapse:collapse;font-family:Arial,sans-serif;font-size:13px"'
STYLE_TH = 'style="background:#2e6eb8;color:#fff;padding:4px 10px;text-align:left"'
STYLE_TD = 'style="border-bottom:1px solid #dde;padding:4px 10px"'


def table(headings, rows):
    head = "".join("<th %s>%s</th>" % (STYLE_TH, html.escape(h)) for h in headings)
    body = "".join("<tr>%s</tr>" % "".join("<td %s>%s</td>" % (STYLE_TD, html.escape(str(c)))
                                           for c in row) for row in rows)
    return "<table %s><tr>%s</tr>%s</table>" % (STYLE_TABLE, head, body)


def chart(name, caption):
    # Postrix embeds images whose tag is written exactly like this: the address
    # relative to the application, starting "analysis_", then " border=".
    return ('<p style="font-family:Arial,sans-serif;font-size:12px;color:#555">%s<br>'
            '<img src="analysis_chart.asp?chart=%s" border=0></p>' % (html.escape(caption), name))


def page(title, inner):
    # A plain "<body>" tag: Postrix puts a favourite's extra description right after it.
    return ('<html><head><meta charset="utf-8"><title>%s</title></head>'
            '<body><h2 style="font-family:Arial,sans-serif;color:#234">%s</h2>%s'
            '<p style="font-family:Arial,sans-serif;font-size:11px;color:#888">'
            'Quarvex demo data, generated %s.</p></body></html>'
            % (html.escape(title), html.escape(title), inner, time.strftime("%Y-%m-%d %H:%M")))


def money(value):
    return "€ {:,}".format(value)


def sales_page(title, form):
    rows = [(r, o, money(v), "%+.1f %%" % c) for r, o, v, c in REGIONS]
    rows.append(("Total", sum(r[1] for r in REGIONS), money(sum(r[2] for r in REGIONS)), ""))
    return page(title, table(["Region", "Orders", "Revenue", "vs. last week"], rows)
                + chart("sales_by_region", "Revenue by region")
                + chart("revenue_trend", "Revenue per day, last 14 days (k€)"))


def orders_csv():
    lines = ["Month,Orders,Revenue"] + ["%s,%d,%d" % m for m in MONTHS]
    return "\r\n".join(lines)


def orders_page(title, form):
    return page(title, table(["Month", "Orders", "Revenue"],
                             [(m, o, money(v)) for m, o, v in MONTHS]))


def customers_page(title, form):
    return page(title, table(["Customer", "Country", "Orders", "Revenue"],
                             [(c, n, o, money(v)) for c, n, o, v in CUSTOMERS]))


def returns_page(title, form):
    # The application's answer when a report's filters select nothing.
    return page(title, "<p>No Matching Records</p>")


def stock_page(title, form):
    rows = [(i, n, r, "reorder" if n < r else "ok") for i, n, r in STOCK]
    return page(title, table(["Item", "On hand", "Reorder level", "Status"], rows)
                + chart("stock_levels", "Units on hand"))


def overdue_page(title, form):
    # The favourite's form holds the key SALESREP; an alert replaces that key
    # with each recipient's id, so the id arrives as a form key of digits.
    rep = next((key for key in form if key.isdigit()), None)
    invoices = OVERDUE.get(rep, []) if rep else [i for rep_invoices in OVERDUE.values()
                                                   for i in rep_invoices]
    if not invoices:
        return page(title, "<p>No Matching Records</p>")
    rows = [(n, c, money(a), "%d days" % d) for n, c, a, d in invoices]
    return page(title, table(["Invoice", "Customer", "Amount", "Overdue by"], rows))


REPORT_PAGES = {
    "sales": sales_page,
    "orders": orders_page,
    "customers": customers_page,
    "returns": returns_page,
    "stock": stock_page,
    "overdue": overdue_page,
}


def dashboard_page(dashboard_id):
    if dashboard_id != "1":
        return None
    revenue = sum(r[2] for r in REGIONS)
    tiles = table(["Revenue today", "Orders today", "Items to reorder", "Overdue invoices"],
                  [(money(revenue), sum(r[1] for r in REGIONS),
                    sum(1 for _, n, r in STOCK if n < r),
                    sum(len(v) for v in OVERDUE.values()))])
    return page("Sales dashboard", tiles
                + chart("sales_by_region", "Revenue by region")
                + chart("revenue_trend", "Revenue per day, last 14 days (k€)")
                + chart("orders_by_month", "Orders per month"))


def error_page(text):
    # Postrix does not mail a page that carries the application's error class.
    return page("Error", '<div class="errorMessage">%s</div>' % html.escape(text))


# --- The server -------------------------------------------------------------

class Handler(local_server.Handler):
    server_version = "QuarvexDemo/1.0"

    def answer(self, status, body, content_type="text/html; charset=utf-8"):
        if isinstance(body, str):
            body = body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def handle_request(self):
        url = urlsplit(self.path)
        query = {k: v[0] for k, v in parse_qs(url.query).items()}
        length = int(self.headers.get("Content-Length", "0") or 0)
        posted = self.rfile.read(length).decode("utf-8", "replace") if length > 0 else ""
        form = {k: v[0] for k, v in parse_qs(posted, keep_blank_values=True).items()}
        with self.server.log_lock, open(self.server.log_file, "a") as log:
            log.write("%s %s %s%s\n" % (time.strftime("%H:%M:%S"), self.command, self.path,
                                        "  form: " + posted if posted else ""))

        if url.path == "/analysis.asp":
            render = REPORT_PAGES.get(form.get("page", ""))
            if render is None:
                self.answer(200, error_page("Unknown report"))
            elif query.get("format") == "csv" and form.get("page") == "orders":
                self.answer(200, orders_csv(), "text/csv; charset=utf-8")
            else:
                title = form.get("r_title") or form.get("page").title()
                body = render(title, form)
                if query.get("email_now") == "true":  # an immediate ("Email Now") request
                    body = body.replace("</h2>", "</h2><p style=\"font-family:Arial,sans-serif\">"
                                        "Sent on request (Email Now).</p>", 1)
                self.answer(200, body)
        elif url.path == "/dashboard.asp":
            body = dashboard_page(query.get("dashboard_id", ""))
            self.answer(200, body if body else error_page("Unknown dashboard"))
        elif url.path == "/analysis_chart.asp" and query.get("chart") in CHARTS:
            values, colour = CHARTS[query["chart"]]
            self.answer(200, bar_chart(values, colour), "image/png")
        else:
            self.answer(404, page("Not found", ""))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--lifetime", type=float, default=300)
    args = parser.parse_args()

    open(args.log, "a").close()
    serve(Handler, args.port_file, args.lifetime, log_file=args.log)


if __name__ == "__main__":
    main()
