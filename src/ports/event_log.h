// The system's event log (syslog with ident "Tavlevagt" on Linux).
#pragma once

#include <string_view>

namespace tv {

enum class EventType { Error = 1, Warning = 2, Information = 4 };

class EventLog {
 public:
  virtual ~EventLog() = default;
  virtual void report(EventType type, std::string_view message) = 0;
};

}  // namespace tv
