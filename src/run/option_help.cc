#include "run/option_help.h"

#include "util/failure.h"
#include "util/text.h"

namespace postrix {

const std::vector<OptionGroup>& optionHelp() {
  static const std::vector<OptionGroup> groups = {
      {"System database",
       {
           {"-dsn", "NAME|relativemdb|STRING",
            "ODBC data source name, the installation's own qx_data/system33.mdb beside the "
            "program folder, or a connection string"},
           {"-issqlserver", "", "the system database is a SQL Server database"},
           {"-dbwait", "SECONDS", "wait for a busy system database (60)"},
       }},
      {"Mail server and sender (override the System table)",
       {
           {"-server", "HOST", "SMTP server"},
           {"-port", "N", "SMTP port"},
           {"-user", "NAME", "SMTP user name (the mailbox with -auth 6)"},
           {"-pass", "PASSWORD", "SMTP password (never written to the log)"},
           {"-auth", "N",
            "authentication method: 0 none, 1 PLAIN, 2 LOGIN, 3 CRAM-MD5, 4 NTLM, 5 MSN, "
            "6 OAuth 2.0 (XOAUTH2); with -cdo 0 to 2"},
           {"-oauthfile", "PATH", "the OAuth 2.0 secrets used with -auth 6"},
           {"-ssl", "", "connect with SSL"},
           {"-starttls", "", "use STARTTLS"},
           {"-plainauthok", "", "no warning for a login over a connection without TLS"},
           {"-smtptimeout", "N", "SMTP time-out in seconds"},
           {"-insecuretls", "", "accept any certificate of the mail server"},
           {"-cdo", "", "use the CDO-style mail component"},
           {"-emailsource", "ADDRESS", "sender address"},
           {"-fromname", "\"NAME\"", "sender display name"},
           {"-bcc", "ADDRESS", "blind copy of every message"},
           {"-oemail", "ADDRESS", "send every message to this address instead"},
           {"-c", "CHARSET", "character set of messages"},
           {"-url", "URL", "base URL of the Quarvex web application"},
           {"-heloname", "NAME", "name said in EHLO (the host's full name)"},
       }},
      {"What is sent",
       {
           {"-id", "LIST", "favourite ids (1,2,3 or a range 5:9)"},
           {"-excludeid", "LIST", "favourite ids to leave out"},
           {"-reportid", "LIST", "report ids"},
           {"-mappingid", "LIST", "mapping ids"},
           {"-dashboardid", "LIST", "dashboard ids"},
           {"-dashboardsonly", "", "dashboards only"},
           {"-reportsonly", "", "reports only"},
           {"-connectionstring", "\"TEXT\"", "favourites whose data source contains TEXT"},
           {"-emailnow", "", "send the immediate (\"Email Now\") reports"},
           {"-alerts", "", "send alerts and mass e-mails"},
           {"-ignoreschedule", "", "send regardless of schedules"},
           {"-multitime", "", "honour multiple send times a day"},
           {"-ignoremultitime", "", "ignore the send times of the day"},
           {"-interval", "N",
            "run interval N (0-47) of multiple send times; checked always, used only with them"},
           {"-date", "DATE", "run as if today were DATE"},
           {"-fsend", "", "send even reports without matching records"},
           {"-dryrun", "", "print what this run would send; send and change nothing"},
       }},
      {"Message content and attachments",
       {
           {"-format", "FORMAT", "mail format of every report"},
           {"-fileformat", "csv", "attachment format"},
           {"-excel", "", "allow Excel attachments"},
           {"-excelformat", "EXT", "Excel file extension (.xlsx)"},
           {"-easyxls", "", "build Excel files with the EasyXLS-style builder"},
           {"-clearxlformatting", "", "clear the formatting of Excel attachments"},
           {"-imageincluded", "", "include images in Excel attachments"},
           {"-generatepdf", "", "make PDFs with generatepdf instead of wkhtmltopdf"},
           {"-wkarg", "A B", "extra arguments of the PDF converter"},
           {"-wkhtmltopdfauth", "A B", "authentication arguments of the PDF converter"},
           {"-pdftimeout", "SECONDS", "end a PDF converter that runs longer (300)"},
           {"-attachfile", "PATH", "attach this file to every message"},
           {"-suppress", "\"TEXT\"", "remove TEXT from report bodies (repeatable)"},
           {"-nounicode", "", "skip the Unicode handling of report bodies"},
           {"-skip", "", "no reformatting of report bodies"},
           {"-delta", "", "show the report date one day back"},
       }},
      {"Files",
       {
           {"-location", "FOLDER", "export report files to FOLDER instead of mailing"},
           {"-archive", "", "export into the Reports folder"},
           {"-filename", "NAME", "base name of output files"},
           {"-reportname", "", "name output files after their report"},
           {"-includedate", "", "add the date to file names"},
           {"-includetime", "", "add the time to file names"},
           {"-deletefile", "", "delete attachment files after sending"},
       }},
      {"Status and logging",
       {
           {"-laststatus", "", "record the last send status of each report"},
           {"-emailcount", "", "count the messages sent for each report"},
           {"-lastemailed", "", "record when each report was last mailed"},
           {"-emaillog", "",
            "write a row per message to Email_Log, with its recipients as one text"},
           {"-failstatus", "",
            "end with status 6 when a report or saved message of the run failed"},
           {"-problemdigest", "",
            "mail one digest of the run's failures to the System table's emailproblemreports "
            "address"},
           {"-nolog", "", "write nothing to the run log"},
           {"-debug", "", "extra diagnostics in the run log"},
           {"-sleep", "N", "pause N seconds after each report"},
       }},
      {"Web application",
       {
           {"-reporttimeout", "", "on a failed fetch restart the application pool once"},
           {"-apppoolname", "NAME", "application pool to restart"},
           {"-maxpagesize", "N", "largest report page in MB (200); larger fails"},
       }},
      {"Saved messages",
       {
           {"-savemessage", "", "save every message into Sent or Failed"},
           {"-sendfailed", "", "resend the messages saved in Failed"},
           {"-sendmessage", "", "pick saved messages to send"},
       }},
      {"One run at a time",
       {
           {"-lockwait", "MINUTES", "wait for another run of the installation (30)"},
           {"-sendagain", "", "send again what this period sent already"},
       }},
      {"Maintenance (end the program when done)",
       {
           {"-enablemultitime", "", "enable multiple send times in the System table"},
           {"-convertschedules", "HH:MM", "convert every schedule to multiple send times"},
           {"-configure", "", "open the mail settings form"},
       }},
      {"",
       {
           {"-h, -help, --help", "", "show this text"},
           {"--version", "", "show the version"},
       }},
  };
  return groups;
}

std::vector<std::string> namesOf(const OptionHelp& entry) {
  std::vector<std::string> names;
  for (const auto& name : split(std::string(entry.names), ",")) names.push_back(trimBlanks(name));
  return names;
}

const std::vector<ExitStatusHelp>& exitStatusHelp() {
  namespace x = exit_status;
  static const std::vector<ExitStatusHelp> statuses = {
      {x::kOk, "the run did its work; some reports may have failed (see -failstatus)"},
      {x::kNoSystemDatabase, "the system database could not be opened or its settings read"},
      {x::kRejectedCommandLine, "the command line was rejected; nothing was read or sent"},
      {x::kLockNotHad, "another run of the installation held the run lock past -lockwait"},
      {x::kNoTerminal, "-configure was started without a terminal"},
      {x::kCannotStart, "the program folder cannot be written (run log, saved messages, run lock)"},
      {x::kSomeFailed, "with -failstatus: a report or saved message of the run failed"},
      {x::kMailServerUnusable,
       "messages were tried and none went out: the mail server could not be reached, refused "
       "the login, or no access token could be had"},
  };
  return statuses;
}

}  // namespace postrix
