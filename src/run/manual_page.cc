// The manual page, postrix(1), made from the option help: the options and
// the exit statuses are the ones --help shows, from the same entries.
#include <sstream>

#include "run/option_help.h"
#include "util/text.h"

namespace postrix {
namespace {

// Text as roff reads it: backslashes and dashes escaped, and a line never
// starting with a control character.
std::string roff(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
  return out;
}

void writeOption(std::ostringstream& out, const OptionHelp& option) {
  out << ".TP\n";
  std::vector<std::string> names = namesOf(option);
  for (size_t i = 0; i < names.size(); ++i)
    out << (i ? ", " : "") << "\\fB" << roff(names[i]) << "\\fR";
  if (!option.argument.empty()) out << " \\fI" << roff(option.argument) << "\\fR";
  out << "\n" << roff(option.meaning) << ".\n";
}

void writeOptions(std::ostringstream& out) {
  out << ".SH OPTIONS\n"
      << "Option names are case\\-sensitive (but for the maintenance commands, "
         "\\fB\\-multitime\\fR and \\fB\\-configure\\fR); a value follows its option. "
         "Put values with blanks in double quotes. A word starting with \\(lq\\-\\(rq that is "
         "no option and no option's value stops the run before anything is read or sent. "
         "Options given on the command line override the mail settings of the "
         "\\fBSystem\\fR table.\n";
  for (const auto& group : optionHelp()) {
    out << ".SS " << (group.title.empty() ? "Help" : roff(group.title)) << "\n";
    for (const auto& option : group.options) writeOption(out, option);
  }
}

void writeExitStatus(std::ostringstream& out) {
  out << ".SH EXIT STATUS\n";
  for (const auto& status : exitStatusHelp())
    out << ".TP\n.B " << status.status << "\n" << roff(status.meaning) << ".\n";
  out << ".PP\nA run whose reports failed in part ends with 0 unless \\fB\\-failstatus\\fR "
         "is given; a run in which every message failed at the mail server ends with 7 "
         "either way. The run log says why in every case.\n";
}

constexpr std::string_view kHead = R"(.SH NAME
postrix \- mail the due reports and dashboards of a Quarvex installation
.SH SYNOPSIS
.B postrix
.RI [ options ]
.SH DESCRIPTION
.B postrix
is started by a timer every half hour (or once a day).
It reads the favourite reports and dashboards that are due from the Quarvex
system database, fetches each one's page from the web application and mails
it to its recipients, as an HTML body or as a CSV, HTML, Excel or PDF
attachment with its charts embedded.
Every step and decision of a run is written to the run log; errors and
warnings also go to standard error and to the system log (ident
.BR postrix ,
with the process id).
.SH RUN MODES
.TP
.B ordinary run
Without a mode option: one selection\-and\-send cycle, or with
\fB\-multitime\fR one per half hour up to the current one.
\fB\-emailnow\fR sends the immediate reports and \fB\-alerts\fR the alerts,
each in a run of its own.
.TP
.B \-sendfailed
Resends every message saved in the \fIFailed\fR folder.
.TP
.B \-sendmessage
Lets an operator pick saved messages to send.
.TP
.B \-dryrun
Prints what an ordinary run would send, and sends and changes nothing.
.TP
.B \-configure
Opens the mail settings form on the terminal.
.TP
.BR \-enablemultitime ", " \-convertschedules
Change the system database and end.
)";

constexpr std::string_view kTail = R"(.SH AUTHENTICATION
With \fB\-auth 6\fR the login is SMTP AUTH XOAUTH2 with an OAuth 2.0 access token
for the mailbox given as the user (\fB\-user\fR or the \fBsmtpuser\fR column):
Microsoft 365 by the client\-credentials grant, Google by a stored refresh token.
The secrets are never kept in the \fBSystem\fR table but in a text file of
\fIkey\fR = \fIvalue\fR lines (a line starting with # is a comment):
.TP
.B provider
\fBmicrosoft\fR or \fBgoogle\fR.
.TP
.B tenant
Microsoft: the directory id or domain.
.TP
.B client_id
The application's client id.
.TP
.B client_secret
Its secret; for Microsoft instead \fBcertificate\fR and \fBprivate_key\fR, two
PEM files (the key file, too, readable by its owner only).
.TP
.B refresh_token
Google: the stored refresh token.
.TP
.B scope
Microsoft: default \fIhttps://outlook.office365.com/.default\fR.
.TP
.B token_url
Another token endpoint than the provider's.
.PP
The file is \fB\-oauthfile\fR \fIPATH\fR when given; otherwise
\fI$CREDENTIALS_DIRECTORY/postrix\-oauth\fR when the service is given it as a
systemd credential (\fBLoadCredential=postrix\-oauth:/etc/postrix/oauth.conf\fR);
otherwise \fIoauth.conf\fR in the program folder.
It must be its owner's only (mode 0600 or 0400): a file other accounts may read
or write is refused. \fBpostrix \-configure\fR writes it when the method is chosen.
Access tokens are cached between runs in \fIoauth_token.cache\fR in the program
folder (mode 0600) until 5 minutes before they expire; a token the server refuses
is replaced once. Neither tokens nor secrets are ever written to a log. A token
that cannot be had is logged with the endpoint's error text and fails the
messages with code 117.
.PP
TLS is \fB\-ssl\fR (implicit TLS) or \fB\-ssl\fR with \fB\-starttls\fR (STARTTLS), or the
\fBsmtpssl\fR and \fBsmtpstarttls\fR columns; the mail component uses it only with
a login. A login without TLS logs a warning on every run, unless
\fB\-plainauthok\fR is given. A run asked for TLS that will not have it
(\fB\-starttls\fR without \fB\-ssl\fR, \fB\-ssl\fR without a password) says so in a
warning; a server that does not offer the TLS asked for is sent nothing.
.SH FILES
The program folder is the folder named by \fBPOSTRIX_HOME\fR, or else the folder
of the executable. The Debian package sets it to \fI/var/lib/postrix/home\fR.
.TP
.I postrix.log
The run log, one line per entry, only ever appended to (mode 0640).
.TP
.IR Sent/ ", " Failed/
Copies of sent and refused messages (\fB\-savemessage\fR); \fB\-sendfailed\fR
resends what \fIFailed\fR holds.
.TP
.I Reports/
Exported report files (\fB\-archive\fR).
.TP
.IR postrix.lock ", " postrix_runs.db
The run lock and the record of what each period sent.
.TP
.I ../qx_data/system33.mdb
The embedded system database of \fB\-dsn relativemdb\fR, beside the program
folder (mode 0600: its \fBSystem\fR row holds the mail password).
.TP
.IR GeneratePDF/generatepdf ", " wkhtmltopdf
The PDF converters (wkhtmltopdf is also looked for on the \fBPATH\fR).
.SH ENVIRONMENT
.TP
.B POSTRIX_HOME
The program folder.
.TP
.B CREDENTIALS_DIRECTORY
Where systemd puts the service's credentials (see AUTHENTICATION).
.TP
.B POSTRIX_CHROMIUM
The Chromium that generatepdf starts (default: chromium on the \fBPATH\fR).
.SH EXAMPLES
A half\-hourly run on the embedded database, recording each report's status:
.PP
.RS
postrix \-dsn relativemdb \-multitime \-emaillog \-laststatus
.RE
.PP
What that run would send, without sending:
.PP
.RS
postrix \-dsn relativemdb \-multitime \-dryrun
.RE
.PP
A run on a SQL Server system database through the ODBC data source
\fIquarvex\fR, ending with status 6 when a report failed and mailing a
digest of the failures:
.PP
.RS
postrix \-dsn quarvex \-issqlserver \-failstatus \-problemdigest
.RE
.SH SEE ALSO
.BR systemctl (1),
.BR journalctl (1),
.BR odbc.ini (5)
)";

}  // namespace

std::string manPage() {
  std::ostringstream out;
  out << ".TH POSTRIX 1 \"\" \"postrix " << POSTRIX_VERSION << "\" \"User Commands\"\n" << kHead;
  writeOptions(out);
  writeExitStatus(out);
  out << kTail;
  return out.str();
}

}  // namespace postrix
