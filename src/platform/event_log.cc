#include "platform/event_log.h"

#include <syslog.h>

#include <string>

namespace postrix {
namespace {

void write(int priority, std::string_view message) {
  static std::string last;
  if (message == last) return;
  last = message;
  // LOG_ODELAY: the connection to the log is made by the first entry, so a
  // run that never warns never touches syslog.
  openlog("postrix", LOG_ODELAY | LOG_PID, LOG_USER);
  syslog(priority, "%s", last.c_str());
  closelog();
}

}  // namespace

void writeEventLogWarning(std::string_view message) { write(LOG_WARNING, message); }
void writeEventLogError(std::string_view message) { write(LOG_ERR, message); }

}  // namespace postrix
