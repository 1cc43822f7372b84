#include "platform/event_log.h"

#include <syslog.h>

#include <string>

namespace postrix {

void writeEventLogWarning(std::string_view message) {
  // LOG_ODELAY: the connection to the log is made by the first entry, so a
  // run that never warns never touches syslog.
  openlog("postrix", LOG_ODELAY, LOG_USER);
  syslog(LOG_WARNING, "%s", std::string(message).c_str());
  closelog();
}

}  // namespace postrix
