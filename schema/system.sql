-- The tables of the Quarvex system database that Postrix reads and writes.
--
-- Text columns compare without regard to case (COLLATE NOCASE), as they do
-- on Access and SQL Server, so 'yes' matches 'Yes' and 'ON' matches 'on'.
-- Yes/No columns of System hold 'Yes' or 'No'; report flags hold 'on'.

-- One row: the site-wide mail settings.
CREATE TABLE System (
  db_version          TEXT COLLATE NOCASE,
  urlorvanta          TEXT COLLATE NOCASE,
  emailsource         TEXT COLLATE NOCASE,
  emailproblemreports TEXT COLLATE NOCASE,
  smtpserver          TEXT COLLATE NOCASE,
  smtpport            INTEGER,
  char_set            TEXT COLLATE NOCASE,
  -- Authentication method; 100 is added when multiple send times are enabled.
  smtpauth            INTEGER,
  smtpssl             TEXT COLLATE NOCASE,
  smtpstarttls        TEXT COLLATE NOCASE,
  smtppass            TEXT COLLATE NOCASE,
  emailfromname       TEXT COLLATE NOCASE,
  emailskipunicode    TEXT COLLATE NOCASE,
  emailexcel          TEXT COLLATE NOCASE,
  smtptimeout         INTEGER,
  smtpuser            TEXT COLLATE NOCASE
);

-- Saved favourite reports and their schedules.
CREATE TABLE UserReports (
  report_id        INTEGER PRIMARY KEY,
  mapping_id       INTEGER,
  reporttitle      TEXT COLLATE NOCASE,
  reporturl        TEXT COLLATE NOCASE,
  format           TEXT COLLATE NOCASE,
  email            TEXT COLLATE NOCASE,
  schedule_details TEXT COLLATE NOCASE,
  sendreport       TEXT COLLATE NOCASE,
  extra_desc       TEXT COLLATE NOCASE,
  report_header    TEXT COLLATE NOCASE,
  laststatus       TEXT COLLATE NOCASE,
  emailcount       INTEGER,
  last_emailed     DATETIME
);

-- Immediate ("Email Now") requests; emailsent becomes 1 once queued.
CREATE TABLE emailReports (
  report_id        INTEGER,
  mapping_id       INTEGER,
  reporttitle      TEXT COLLATE NOCASE,
  reporturl        TEXT COLLATE NOCASE,
  format           TEXT COLLATE NOCASE,
  email            TEXT COLLATE NOCASE,
  schedule_details TEXT COLLATE NOCASE,
  extra_desc       TEXT COLLATE NOCASE,
  report_header    TEXT COLLATE NOCASE,
  company_id       INTEGER,
  emailsent        INTEGER DEFAULT 0
);

-- Alert and mass e-mail definitions; frequency 99 marks an alert.
CREATE TABLE mass_reports_to_email (
  id         INTEGER PRIMARY KEY,
  report_id  INTEGER,
  frequency  INTEGER,
  type       TEXT COLLATE NOCASE,
  toreplace  TEXT COLLATE NOCASE,
  dsn        TEXT COLLATE NOCASE,
  header     TEXT COLLATE NOCASE,
  footer     TEXT COLLATE NOCASE,
  datasource TEXT COLLATE NOCASE
);

-- Named recipient lists of alerts.
CREATE TABLE reportsemails (
  id    INTEGER,
  email TEXT COLLATE NOCASE,
  type  TEXT COLLATE NOCASE
);

-- Data sources of the favourites.
CREATE TABLE mappings (
  mapping_id        INTEGER PRIMARY KEY,
  useDSN            TEXT COLLATE NOCASE,
  dsn               TEXT COLLATE NOCASE,
  database_username TEXT COLLATE NOCASE,
  database_password TEXT COLLATE NOCASE,
  database_string   TEXT COLLATE NOCASE
);

-- CompanyReports is in company_reports.sql: only an installation that sends
-- per company has it, since with it a due favourite goes only to its companies.

CREATE TABLE Dashboards (
  dashboard_id     INTEGER PRIMARY KEY,
  dashboard_title  TEXT COLLATE NOCASE,
  extra_desc       TEXT COLLATE NOCASE,
  default_filter   TEXT COLLATE NOCASE,
  format           TEXT COLLATE NOCASE,
  email            TEXT COLLATE NOCASE,
  report_ids       TEXT COLLATE NOCASE,
  schedule_details TEXT COLLATE NOCASE,
  sendreport       TEXT COLLATE NOCASE
);

-- One row per message sent (or held back), with its recipients as one text.
CREATE TABLE Email_Log (
  report_id    INTEGER,
  origin       TEXT COLLATE NOCASE,
  emailaddress TEXT COLLATE NOCASE,
  log_date     DATETIME,
  msgstatus    TEXT COLLATE NOCASE,
  company_id   INTEGER
);
