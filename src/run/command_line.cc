#include "run/command_line.h"

#include <algorithm>

namespace postrix {

std::string joinArguments(const std::vector<std::string>& arguments) {
  std::string line;
  for (const auto& arg : arguments) {
    if (!line.empty()) line += ' ';
    bool quote = arg.empty() || arg.find_first_of(" \t") != std::string::npos;
    line += quote ? "\"" + arg + "\"" : arg;
  }
  return line;
}

bool asksForHelp(const std::vector<std::string>& arguments) {
  return std::any_of(arguments.begin(), arguments.end(), [](const std::string& a) {
    return a == "--help" || a == "-help" || a == "-h";
  });
}

bool asksForVersion(const std::vector<std::string>& arguments) {
  return std::find(arguments.begin(), arguments.end(), "--version") != arguments.end();
}

std::string usageText() {
  return R"(Usage: postrix [options]

Postrix mails the due favourite reports and dashboards of a Quarvex
installation. Every run is written to postrix.log in the program's folder.
Option names are case-sensitive; values follow their option. Put values
with blanks in double quotes. A word starting with "-" that is no option
(and no option's value) stops the run before anything is read or sent.

System database
  -dsn NAME|relativemdb|STRING  ODBC data source name, the installation's own
                                 qx_data/system33.mdb, or a connection string
  -issqlserver                   the system database is a SQL Server database

Mail server and sender (override the System table)
  -server HOST                   SMTP server
  -port N                        SMTP port
  -user NAME                     SMTP user name
  -pass PASSWORD                 SMTP password (never written to the log)
  -auth N                        authentication method, 0 to 5 (with -cdo 0 to 2)
  -ssl                           connect with SSL
  -starttls                      use STARTTLS
  -smtptimeout N                 SMTP time-out in seconds
  -insecuretls                   accept any certificate of the mail server
  -cdo                           use the CDO-style mail component
  -emailsource ADDRESS           sender address
  -fromname "NAME"               sender display name
  -bcc ADDRESS                   blind copy of every message
  -oemail ADDRESS                send every message to this address instead
  -c CHARSET                     character set of messages
  -url URL                       base URL of the Quarvex web application
  -heloname NAME                 name said in EHLO (the host's full name)

What is sent
  -id LIST                       favourite ids (1,2,3 or a range 5:9)
  -excludeid LIST                favourite ids to leave out
  -reportid LIST                 report ids
  -mappingid LIST                mapping ids
  -dashboardid LIST              dashboard ids
  -dashboardsonly                dashboards only
  -reportsonly                   reports only
  -connectionstring "TEXT"       favourites whose data source contains TEXT
  -emailnow                      send the immediate ("Email Now") reports
  -alerts                        send alerts and mass e-mails
  -ignoreschedule                send regardless of schedules
  -multitime                     honour multiple send times a day
  -ignoremultitime               ignore the send times of the day
  -interval N                    run interval N (0-47) of multiple send times;
                                 checked always, used only with them
  -date DATE                     run as if today were DATE
  -fsend                         send even reports without matching records
  -dryrun                        print what this run would send; send and change nothing

Message content and attachments
  -format FORMAT                 mail format of every report
  -fileformat csv                attachment format
  -excel                         allow Excel attachments
  -excelformat EXT               Excel file extension (.xlsx)
  -easyxls                       build Excel files with the EasyXLS-style builder
  -clearxlformatting             clear the formatting of Excel attachments
  -imageincluded                 include images in Excel attachments
  -generatepdf                   make PDFs with generatepdf instead of wkhtmltopdf
  -wkarg A B                     extra arguments of the PDF converter
  -wkhtmltopdfauth A B           authentication arguments of the PDF converter
  -pdftimeout SECONDS            end a PDF converter that runs longer (300)
  -attachfile PATH               attach this file to every message
  -suppress "TEXT"               remove TEXT from report bodies (repeatable)
  -nounicode                     skip the Unicode handling of report bodies
  -skip                          no reformatting of report bodies
  -delta                         show the report date one day back

Files
  -location FOLDER               export report files to FOLDER instead of mailing
  -archive                       export into the Reports folder
  -filename NAME                 base name of output files
  -reportname                    name output files after their report
  -includedate                   add the date to file names
  -includetime                   add the time to file names
  -deletefile                    delete attachment files after sending

Status and logging
  -laststatus                    record the last send status of each report
  -emailcount                    count the messages sent for each report
  -lastemailed                   record when each report was last mailed
  -emaillog                      write a row per message to Email_Log, with its
                                 recipients as one text
  -nolog                         write nothing to the run log
  -debug                         extra diagnostics in the run log
  -sleep N                       pause N seconds after each report

Web application
  -reporttimeout                 on a failed fetch restart the application pool once
  -apppoolname NAME              application pool to restart
  -maxpagesize N                 largest report page in MB (200); larger fails

Saved messages
  -savemessage                   save every message into Sent or Failed
  -sendfailed                    resend the messages saved in Failed
  -sendmessage                   pick saved messages to send

One run at a time
  -lockwait MINUTES              wait for another run of the installation (30)
  -sendagain                     send again what this period sent already
  -dbwait SECONDS                wait for a busy system database (60)

Maintenance (end the program when done)
  -enablemultitime               enable multiple send times in the System table
  -convertschedules HH:MM        convert every schedule to multiple send times
  -configure                     open the mail settings form

  -h, -help, --help              show this text
  --version                      show the version

Exit status: 0 done; 1 the system database could not be opened or used;
2 the command line was rejected.
)";
}

}  // namespace postrix
