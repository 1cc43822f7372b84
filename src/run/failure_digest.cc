// When the failure digest is sent, to whom, and through which server.
#include "run/failure_digest.h"

#include <unistd.h>

#include <memory>
#include <string_view>
#include <vector>

#include "config/settings.h"
#include "mail/email.h"
#include "mail/mailbee_smtp.h"
#include "platform/smtp/host_name.h"
#include "platform/smtp/smtp_client.h"
#include "run/run_failures.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {
namespace {

std::string hostName() {
  std::string name = smtp::hostDomainName();
  if (!name.empty()) return name;
  char text[256] = {};
  if (gethostname(text, sizeof text - 1) != 0) return "(unknown host)";
  return text;
}

// One plain address: something before and after a single "@", no blank, no
// control character, no character that would make it more than one address.
bool isPlainAddress(std::string_view address) {
  std::size_t at = address.find('@');
  if (at == 0 || at == std::string_view::npos || at + 1 == address.size()) return false;
  if (address.find('@', at + 1) != std::string_view::npos) return false;
  for (char c : address)
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F ||
        std::string_view("<>()[],;:\"\\").find(c) != std::string_view::npos)
      return false;
  return true;
}

// The problem address as the System table holds it, one address or several
// separated by "," or ";" (as recipient lists are written elsewhere); empty
// when any of them is unusable, for a digest to only some of them would
// look like one to all.
std::vector<std::string> problemAddresses(const std::string& text) {
  std::vector<std::string> addresses;
  for (const std::string& piece : split(replaceAll(text, ";", ","), ",")) {
    std::string address = trimBlanks(piece);
    if (address.empty()) continue;
    if (!isPlainAddress(address)) return {};
    addresses.push_back(address);
  }
  return addresses;
}

std::string joined(const std::vector<std::string>& addresses) {
  std::string out;
  for (const std::string& address : addresses) out += (out.empty() ? "" : ", ") + address;
  return out;
}

// The component as the run's report messages have it. The MailBee shape
// carries the digest in -cdo runs too (the CDO shape writes HTML only), so
// the CDO numbers are read as that shape reads them: 1 LOGIN or PLAIN,
// 2 NTLM, TLS by STARTTLS.
void setUpComponent(MailBeeSmtp& m, const Settings& s, const Utilities& u) {
  setUpMailServer(m, s, [&u](const std::string& line) { u.Debugger(line); });
  if (!s.isCDO() || s.email_password().empty()) return;
  if (m.SSL) m.SSL->UseStartTLS = true;
  m.AuthMethod = s.smtpAuth() == 1   ? smtp::auth::kBasic
                 : s.smtpAuth() == 2 ? smtp::auth::kNtlm
                                     : smtp::auth::kNone;
}

void setUpMessage(MailBeeMessage& message, const Settings& s, const std::string& to,
                  DigestText text) {
  message.FromAddr = "\"" + s.senderName() + "\" <" + s.emailSource() + ">";
  message.ToAddr = to;
  message.subject = std::move(text.subject);
  message.BodyText = std::move(text.body);
  message.BodyFormat = 0;  // plain text: nothing in it is markup, and nothing a link
}

std::string notSentLine(const std::string& to, int code, const std::string& text,
                        const std::string& reply) {
  std::string line = "ERROR: The failure digest to '" + to +
                     "' could not be sent: " + std::to_string(code) + " " + text;
  if (!reply.empty()) line += ". Last server reply: " + reply;
  return line;
}

}  // namespace

void sendFailureDigest(const Settings& s, const Utilities& u, const RunFailures& failures,
                       Date started) {
  if (!s.problemDigest() || failures.failures().empty()) return;
  std::vector<std::string> addresses = problemAddresses(s.emailProblemReports());
  // The address comes from the database: shown escaped, like every value of it.
  std::string shown = escapedControls(s.emailProblemReports());
  if (addresses.empty()) {
    u.Debugger("WARNING: -problemdigest is on, but the System table's emailproblemreports ('" +
               shown + "') holds no usable address: no failure digest is sent.");
    return;
  }
  std::string to = joined(addresses);
  if (failures.mailServerUnusable()) {
    // Every message of the run failed at the server already; the digest
    // would wait out the same failure once more.
    int code = failures.failures().back().errorCode;
    u.Debugger(notSentLine(to, code, smtp::errorText(code), "") +
               " (the mail server took no message of this run)");
    return;
  }
  MailBeeSmtp mailer;
  setUpComponent(mailer, s, u);
  setUpMessage(mailer.Message(), s, to,
               composeFailureDigest(failures, {started, u.programFolder(), hostName()}));
  // One attempt: the digest is worth a try at the end of the run, not a wait.
  if (!mailer.Send()) {
    u.Debugger(notSentLine(to, mailer.ErrCode, mailer.ErrDesc, mailer.ServerResponse));
    return;
  }
  std::size_t count = failures.failures().size();
  u.Debugger("The failure digest of " + std::to_string(count) +
             (count == 1 ? " failure" : " failures") + " was sent to '" + to + "'.");
}

}  // namespace postrix
