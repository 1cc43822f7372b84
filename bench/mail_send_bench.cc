// Peak memory of sending one large message through the SMTP component.
//
// For each size (30 and 100 MB by default) a fresh child process builds a
// message of that rendered size (an HTML table for half, a binary attachment
// for the other half), sends it through MailBeeSmtp to the local test server
// and saves it, as a send into "Sent" does. It prints the peak resident
// memory above what the child held before the component was made (the HTML
// text and nothing else: the attachment waits in a file), and its ratio to
// the message size. The peak is reset through /proc/self/clear_refs once the
// input is ready, so building it does not count.
//
//   build/bench/mail_send_bench [--tls none|starttls|implicit] [--mb 30,100]
//
// Exit 1 when a send fails or the received message is not what was rendered.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mail/mailbee_smtp.h"
#include "support/smtp_peer.h"
#include "support/temp_database.h"

namespace {

long statusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0)
      return std::strtol(line.c_str() + std::string(field).size(), nullptr, 10);
  return -1;
}

std::string htmlOf(size_t bytes) {
  std::string html;
  html.reserve(bytes + 256);
  html += "<table>\n";
  for (size_t row = 0; html.size() < bytes; ++row)
    html += "<tr><td>" + std::to_string(row) +
            "</td><td>Ums\xC3\xA4tze \xE2\x82\xAC 100.00</td></tr>\n";
  html += "</table>\n";
  return html;
}

// One measured send; the figures go to standard output as one line.
int measure(size_t mb, const std::string& tls) {
  postrix::test::SmtpPeer peer({.tls = tls, .maxSize = static_cast<long long>(mb) * 2'000'000});
  postrix::test::TempDir dir;
  {
    std::string bytes(mb * 1'000'000 * 3 / 8, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919) >> 3);
    std::ofstream(dir.file("export.xlsx"), std::ios::binary) << bytes;
  }
  std::string html = htmlOf(mb * 1'000'000 / 2);
  long baseline = statusKb("VmRSS:");
  std::ofstream("/proc/self/clear_refs") << "5";

  auto start = std::chrono::steady_clock::now();
  size_t size = 0;
  {
    postrix::MailBeeSmtp smtp;
    smtp.ServerName = "127.0.0.1";
    smtp.PortNumber = peer.port();
    smtp.Timeout = 30;
    if (tls != "none") {
      smtp.SSL = std::make_shared<postrix::MailBeeSsl>();
      smtp.SSL->UseStartTLS = tls == "starttls";
      smtp.AcceptAnyCertificate = true;
    }
    postrix::MailBeeMessage& message = smtp.Message();
    message.FromAddr = "reports@example.com";
    message.ToAddr = "a@example.com";
    message.BCCAddr = "boss@example.com";
    message.subject = "Large report";
    message.BodyText = html;
    message.BodyFormat = 1;
    smtp.AddHeader("Content-type", "text/html; charset=ISO-8859-1");
    if (!smtp.AddAttachment(dir.file("export.xlsx"))) return 1;
    if (!smtp.Send()) {
      std::printf("%zu MB: send failed: %d %s\n", mb, smtp.ErrCode, smtp.ErrDesc.c_str());
      return 1;
    }
    if (!message.SaveMessage(dir.file("saved.eml"))) return 1;
    size = smtp.MessageSize();
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  long peak = statusKb("VmHWM:");
  auto mails = peer.waitForMessages(1, 60'000);
  if (mails.size() != 1 || mails[0].data.size() != size) {
    std::printf("%zu MB: the server did not receive the whole message\n", mb);
    return 1;
  }
  double above = (peak - baseline) / 1024.0, sizeMb = size / (1024.0 * 1024.0);
  std::printf(
      "%zu MB over %s: message %.1f MiB, send+save %.2f s, peak RSS above baseline "
      "%.1f MiB, ratio %.2f\n",
      mb, tls.c_str(), sizeMb, seconds, above, above / sizeMb);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string tls = "none";
  std::vector<size_t> sizes = {30, 100};
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string flag = argv[i];
    if (flag == "--tls") {
      tls = argv[i + 1];
    } else if (flag == "--mb") {
      sizes.clear();
      std::stringstream list(argv[i + 1]);
      for (std::string item; std::getline(list, item, ',');) sizes.push_back(std::stoul(item));
    }
  }
  int failures = 0;
  for (size_t mb : sizes) {
    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
      int result = measure(mb, tls);
      std::fflush(stdout);
      _exit(result);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
  }
  return failures == 0 ? 0 : 1;
}
