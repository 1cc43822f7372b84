// Opening the mail settings form for -configure.
#include "config/settings.h"
#include "ui/mail_settings_form.h"
#include "ui/mail_settings_view.h"
#include "util/failure.h"
#include "util/utilities.h"

namespace postrix {

void Utilities::loadForm() {
  Debugger("Loading configuration interface.");
  std::string reason;
  if (!terminalAvailable(reason)) {
    std::string line = "ERROR: The mail settings form (-configure) needs a terminal, and " +
                       reason + ". Run postrix -configure from an interactive shell, e.g. ssh -t.";
    Debugger(line);  // an ERROR entry: standard error shows it too
    throw ProgramEnd{exit_status::kNoTerminal};
  }
  MailSettingsForm form(clock_);
  form.setMailerDebug(settings().isMailerDebug());
  form.setDSN(settings().getSystemDSN());
  form.setCDO(settings().isCDO());
  form.fillFrom(settings());
  // Lines on standard error would land in the middle of the form's screen.
  screenInUse_ = true;
  bool shown = showMailSettingsForm(form, reason);
  screenInUse_ = false;
  if (!shown) {
    Debugger("ERROR: The mail settings form could not be shown: " + reason + ".");
    throw ProgramEnd{exit_status::kNoTerminal};
  }
  form.Form_Unload();
}

}  // namespace postrix
