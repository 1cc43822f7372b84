-- The per-company recipients of an installation that sends per company.
--
-- Create this table only where reports go to companies: once it exists, a
-- due favourite or dashboard is sent once per row listed for it here, and
-- one without a row is not sent at all. scripts/initdb --companies adds it.

-- Type 1 for favourites, type 2 for dashboards.
CREATE TABLE CompanyReports (
  company_id INTEGER,
  email      TEXT COLLATE NOCASE,
  type       INTEGER,
  report_id  INTEGER
);
-- Selection looks up the companies of every due favourite and dashboard.
CREATE INDEX CompanyReports_report ON CompanyReports (report_id, type);
