#include "platform/posix/syslog_event_log.h"

#include <syslog.h>

#include <string>

namespace tv {

SyslogEventLog::SyslogEventLog() {
  openlog("Tavlevagt", LOG_PID, LOG_DAEMON);
}

SyslogEventLog::~SyslogEventLog() {
  closelog();
}

int SyslogEventLog::priority(EventType type) {
  switch (type) {
    case EventType::Error:
      return LOG_ERR;
    case EventType::Warning:
      return LOG_WARNING;
    case EventType::Information:
      break;
  }
  return LOG_INFO;
}

void SyslogEventLog::report(EventType type, std::string_view message) {
  std::string text(message);
  syslog(LOG_DAEMON | priority(type), "%s", text.c_str());
}

}  // namespace tv
