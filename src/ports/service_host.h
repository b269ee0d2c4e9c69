// The system's service manager as the program needs it: install and remove
// its own service, ask whether it is running, and tell the manager about state
// changes. Every call returns 0 or an errno, which the caller logs with the
// system's text.
#pragma once

namespace tv {

class ServiceHost {
 public:
  enum class Activity { kInactive, kActive, kUnknown };
  virtual ~ServiceHost() = default;
  // The manager can be reached (its unit folder exists and is writable).
  [[nodiscard]] virtual int openManager() = 0;
  [[nodiscard]] virtual int createService() = 0;
  // The service is installed.
  [[nodiscard]] virtual int openService() = 0;
  [[nodiscard]] virtual Activity queryActivity() = 0;
  [[nodiscard]] virtual int deleteService() = 0;
  // Reports the service state word (1 stopped, 2 start pending, 4 running, 7 paused).
  [[nodiscard]] virtual int reportStatus(int state) = 0;
};

}  // namespace tv
