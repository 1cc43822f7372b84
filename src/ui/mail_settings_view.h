// The mail settings form on a terminal: draws a MailSettingsForm with
// curses and feeds it the operator's keys until the operator closes it.
//
// Tab and Shift-Tab move through the controls in the form's order (hidden
// and disabled ones are skipped), the focused control's help text stands
// on the status line, Enter presses a button (Space too, and toggles a
// check box), Left/Right or Up/Down change the authentication and provider
// lists, Esc or F10 close the form. The password (the client secret with
// OAuth 2.0) and the refresh token show as '*', disabled controls are drawn
// dim, message boxes and the command window are modal pop-ups, the trace
// box scrolls (PgUp/PgDn when it has the focus), and the layout follows the
// terminal's size from 80x24 up, also when it is resized; the OAuth 2.0
// rows appear below the user name while that method is chosen.
#pragma once

#include <string>  // reasons

namespace postrix {

class MailSettingsForm;

// Whether the form can be shown here: standard input and output are a
// terminal and TERM names one. When not, reason says what is missing.
bool terminalAvailable(std::string& reason);

// Shows the form until the operator closes it. False, with reason, when
// the terminal could not be set up; nothing is drawn then.
bool showMailSettingsForm(MailSettingsForm& form, std::string& reason);

}  // namespace postrix
