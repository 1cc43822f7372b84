#include "support/run_fixture.h"

#include <algorithm>
#include <filesystem>

#include "util/failure.h"

namespace postrix::test {

RunFixture::RunFixture()
    : programFolder_(home.file("postrix")), databasePath_(home.file("qx_data/system33.mdb")) {
  std::filesystem::create_directories(programFolder_);
  std::filesystem::create_directories(home.file("qx_data"));
  createSystemDatabase(databasePath_);
  sql("INSERT INTO System (db_version, urlorvanta, emailsource, emailproblemreports, smtpserver,"
      " smtpport, char_set, smtpauth, smtpssl, smtpstarttls, smtppass, emailfromname,"
      " emailskipunicode, emailexcel, smtptimeout, smtpuser) VALUES ('3.3.0',"
      " 'http://qx.example/', 'reports@example.com', '', 'mail.example.com', 25, 'UTF-8', 0,"
      " 'No', 'No', '', 'Quarvex', 'No', 'No', 30, 'mailer')");
  newRun();
}

void RunFixture::newRun() {
  utilities.reset();
  settings = std::make_unique<Settings>(clock, programFolder_);
  utilities = std::make_unique<Utilities>(clock, programFolder_);
  utilities->setSettings(*settings);
  settings->setUtilities(*utilities);
  endStatus = -1;
}

bool RunFixture::parse(const std::string& args) {
  try {
    return settings->ParseCmdLineOptions("-dsn relativemdb " + args);
  } catch (const ProgramEnd& end) {
    endStatus = end.status;
    return true;
  }
}

std::string RunFixture::logText() const { return readFile(programFolder_ + "/postrix.log"); }

std::vector<std::string> RunFixture::logMessages() const {
  // Each entry is "date time [message]" + CRLF; a message may span lines.
  std::vector<std::string> messages;
  std::string text = logText();
  size_t pos = 0;
  while (pos < text.size()) {
    size_t open = text.find(" [", pos);
    size_t end = text.find("]\r\n", open);
    if (open == std::string::npos || end == std::string::npos) break;
    messages.push_back(text.substr(open + 2, end - open - 2));
    pos = end + 3;
  }
  return messages;
}

bool RunFixture::logHas(const std::string& message) const {
  auto messages = logMessages();
  return std::find(messages.begin(), messages.end(), message) != messages.end();
}

}  // namespace postrix::test
