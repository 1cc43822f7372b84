-- The quick start's demo favourites, dashboard, immediate report and alert,
-- loaded into a system database made by scripts/initdb. scripts/quickstart
-- then points the System row at its own web application and mail catcher
-- and sets the alert's data source to the demo's sales database.
--
-- Every schedule is 'daily', so a run on any day sends them.

-- This demo installation does not send per company, so it has no
-- CompanyReports table (scripts/initdb leaves it out unless --companies).

-- emailexcel: favourites in the "excel" format are mailed with a workbook.
UPDATE System SET emailsource = 'reports@quarvex.example', emailfromname = 'Quarvex Reports',
  emailexcel = 'Yes';

-- reporturl is the saved report address; Postrix posts the part after "?" as
-- the form, and the demo web application picks the report by its "page" key.
INSERT INTO UserReports (report_id, mapping_id, reporttitle, reporturl, format, email,
                         schedule_details, sendreport, extra_desc) VALUES
  -- An HTML body with two charts, which Postrix embeds as image parts.
  (1, 1, 'Daily sales by region', 'analysis.asp?page=sales&period=today', 'html',
   'sales-team@example.com;ceo@example.com', 'daily', 'on', NULL),
  -- A CSV attachment: the application answers the "&format=csv" address with CSV text.
  (2, 1, 'Monthly orders', 'analysis.asp?page=orders&year=2026', 'csv',
   'finance@example.com', 'daily', 'on', NULL),
  -- An extra description, shown above the report.
  (3, 1, 'Top customers', 'analysis.asp?page=customers&top=5', 'html',
   'account-managers@example.com', 'daily', 'on',
   'Good morning! These are this year''s five largest customers.'),
  -- The page says "No Matching Records": logged, not mailed.
  (4, 1, 'Returns this week', 'analysis.asp?page=returns&week=current', 'html',
   'quality@example.com', 'daily', 'on', NULL),
  -- A portrait PDF attachment (format "pdf" + p), made by wkhtmltopdf from the
  -- report page with its chart, attached as Stock_levels.pdf.
  (5, 1, 'Stock levels', 'analysis.asp?page=stock', 'pdfp',
   'warehouse@example.com', 'daily', 'on', NULL),
  -- Sent only through the alert below (sendreport is off). The alert replaces
  -- the form key SALESREP with each recipient's id, and %%alertid%% in the
  -- message with the same id.
  -- A workbook of the report's table, attached as Orders_by_month.xlsx.
  (7, 1, 'Orders by month', 'analysis.asp?page=orders&year=2026&view=table', 'excel',
   'finance@example.com', 'daily', 'on', NULL),
  (6, 1, 'Overdue invoices', 'analysis.asp?page=overdue&SALESREP=1', 'html',
   'collections@example.com', 'daily', 'off',
   'Sales representative %%alertid%%: please follow up on these invoices.');

INSERT INTO Dashboards (dashboard_id, dashboard_title, extra_desc, default_filter, format, email,
                        report_ids, schedule_details, sendreport) VALUES
  (1, 'Sales dashboard', NULL, NULL, 'html', 'management@example.com', '1,2', 'daily', 'on');

-- An "Email Now" request from the web application, sent by `postrix -emailnow`.
INSERT INTO emailReports (report_id, mapping_id, reporttitle, reporturl, format, email,
                          schedule_details, extra_desc, company_id, emailsent) VALUES
  (3, 1, 'Top customers', 'analysis.asp?page=customers&top=5', 'html',
   'ceo@example.com', 'daily', NULL, NULL, 0);

-- An alert (frequency 99) on favourite 6, sent by `postrix -alerts`: one message
-- per row of the recipient query, run against the alert's own data source.
INSERT INTO mass_reports_to_email (id, report_id, frequency, type, toreplace, dsn, header,
                                   footer, datasource) VALUES
  (1, 6, 99, 'custom', 'SALESREP', 'set by scripts/quickstart',
   '<tr><td><b>Payment reminder</b></td></tr>',
   '<tr><td>You receive this alert as the sales representative of these accounts.</td></tr>',
   'select rep_id as ID, email as Email from salesreps where active = 1');
