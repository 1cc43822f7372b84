// Runs of the real program on a test installation, with the local web
// application serving its pages and the local mail server taking its mail.
#pragma once

#include <string>
#include <vector>

#include "support/run_fixture.h"
#include "support/smtp_peer.h"
#include "support/web_app.h"

namespace postrix::test {

using Rows = std::vector<std::string>;

class ProgramFixture : public RunFixture {
 protected:
  // date: what each run passes as -date; "" runs on today's date. Most
  // installations send no per-company copies: CompanyReports is dropped.
  explicit ProgramFixture(std::string date = "12/5/2026");

  // Points the System row at the web application and the mail server on port.
  void pointAt(int smtpPort) const;
  // The shell command of a run: "-dsn relativemdb [-date D] " + args, output dropped.
  std::string command(const std::string& args) const;
  // Runs command(args) after prefix (e.g. a command that changes the user); its exit status.
  int postrix(const std::string& args, const std::string& prefix = "") const;
  Rows query(const std::string& select) const { return querySqlite(databasePath(), select); }

  WebApp web;
  SmtpPeer mail;

 private:
  std::string date_;
};

}  // namespace postrix::test
