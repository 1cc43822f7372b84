// The run modes this build has: scheduled sending, resending saved messages
// and picking them.
#include <memory>

#include "config/settings.h"
#include "mail/email.h"
#include "run/postrix_module.h"
#include "run/run_cycle.h"
#include "ui/message_picker.h"
#include "util/failure.h"
#include "util/utilities.h"

namespace postrix {
namespace {

// One Email serves every saved message of the run. A file that cannot be
// read or sent is logged and the next one is tried: one bad file must not
// keep the others in "Failed".
void sendSavedMessage(const std::shared_ptr<Email>& email, Settings& s, Utilities& u,
                      const std::string& path) {
  email->setUtilities(u);
  email->setSettings(s);
  try {
    email->SendEmailMessage(path);
  } catch (const Failure& failure) {
    u.Debugger("ERROR: " + std::to_string(failure.number()) + " " + failure.description() +
               " while resending '" + path + "'");
  }
}

std::vector<std::string> chooseSavedMessages(Settings&, Utilities& u) {
  std::string reason;
  std::vector<std::string> chosen = pickMessageFiles(u.programFolder() + "/Failed", reason);
  if (!reason.empty()) u.Debugger(reason);
  return chosen;
}

}  // namespace

RunModes defaultRunModes() {
  RunModes modes;
  modes.runCycle = runCycle;
  auto email = std::make_shared<Email>();
  modes.sendEmailMessage = [email](Settings& s, Utilities& u, const std::string& path) {
    sendSavedMessage(email, s, u, path);
  };
  modes.chooseMessageFiles = chooseSavedMessages;
  return modes;
}

}  // namespace postrix
