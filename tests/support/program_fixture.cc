#include "support/program_fixture.h"

#include <sys/wait.h>

#include <cstdlib>
#include <utility>

namespace postrix::test {

ProgramFixture::ProgramFixture(std::string date) : date_(std::move(date)) {
  pointAt(mail.port());
  sql("DROP TABLE CompanyReports;");
}

void ProgramFixture::pointAt(int smtpPort) const {
  sql("UPDATE System SET urlorvanta='" + web.url("/") +
      "', smtpserver='127.0.0.1', smtptimeout=5, smtpport=" + std::to_string(smtpPort) + ";");
}

std::string ProgramFixture::command(const std::string& args) const {
  return "env POSTRIX_HOME=" + programFolder() + " " + POSTRIX_BINARY + " -dsn relativemdb " +
         (date_.empty() ? "" : "-date " + date_ + " ") + args + " >/dev/null 2>&1";
}

int ProgramFixture::postrix(const std::string& args, const std::string& prefix) const {
  int raw = std::system((prefix + " " + command(args)).c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

}  // namespace postrix::test
